// A USB-Blaster behind the D2XX layer: one device "USB-Blaster" (0x09FB/0x6001) whose
// byte protocol (bit-bang bytes, read requests, shift headers) drives the chip. Transfers
// move on a model of the full-speed bus and the FT245 (wire_cost.h): every transfer in
// flight moves packet by packet in the bus's slots, and the virtual clock runs through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "adapters/d2xx.h"
#include "emulator/wire_cost.h"

class CFlashChip;

class CEmulatedUsbBlaster : public CD2xxBackend {
public:
    explicit CEmulatedUsbBlaster(CFlashChip* chip);

    FT_STATUS GetVIDPID(DWORD* vid, DWORD* pid) override;
    FT_STATUS SetVIDPID(DWORD vid, DWORD pid) override;
    FT_STATUS ListDevices(void* arg1, void* arg2, DWORD flags) override;
    FT_STATUS CreateDeviceInfoList(DWORD* count) override;
    FT_STATUS GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* loc_id,
                                  void* serial, void* description, FT_HANDLE* handle) override;
    FT_STATUS Open(int index, FT_HANDLE* handle) override;
    FT_STATUS Close(FT_HANDLE h) override;
    FT_STATUS ResetDevice(FT_HANDLE h) override;
    FT_STATUS SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) override;
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) override;
    FT_STATUS Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) override;
    FT_STATUS Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) override;
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) override;
    FT_STATUS SetLatencyTimer(FT_HANDLE h, UCHAR ms) override;
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override;
    FT_STATUS SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch,
                       UCHAR error_en) override;
    FT_STATUS SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size) override;
    FT_STATUS Purge(FT_HANDLE h, ULONG mask) override;
    bool CanSubmit() const override { return true; }
    FT_STATUS WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t) override;
    FT_STATUS ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t) override;
    FT_STATUS TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) override;
    FT_STATUS TransferCancel(FT_HANDLE h, FT_TRANSFER t) override;

    // The host waits until virtual time t: the bus and the cable run meanwhile.
    void RunUntil(uint64_t t);

    uint64_t Transfers() const { return transfers_; }  // USB bulk transfers made
    uint8_t Lines() const { return lines_; }           // last bit-bang levels
    // The cable is gone from the next write on (the replies of the frame that just ended
    // still arrive); every transfer after that fails.
    void Drop() { drop_armed_ = true; }
    // No cable on the bus: the library lists no device.
    void Unplug() { unplugged_ = true; }

    CFlashChip* Chip() const { return chip_; }  // null until a board is wired

protected:
    void SetChip(CFlashChip* chip) { chip_ = chip; }  // before the cable is opened

private:
    struct Transfer {
        bool in = false;
        std::vector<uint8_t> out;  // a write's bytes
        uint8_t* dst = nullptr;    // where a read's bytes go; null: kept for later reads
        DWORD size = 0;
        DWORD moved = 0;
        uint64_t submitted = 0;
        bool ended = false;
        uint64_t reported = 0;  // when the host learns that it ended
        FT_STATUS status = FT_OK;
    };

    bool Visible() const;  // the library lists the cable only under its own ids
    bool Valid(FT_HANDLE h) const { return open_ && h == Handle(); }
    FT_HANDLE Handle() const { return const_cast<CEmulatedUsbBlaster*>(this); }
    // Runs one byte on the cable.
    void Execute(uint8_t b);
    bool WouldReply(uint8_t b) const;
    void BitBang(uint8_t b);
    void Shift(uint8_t b);
    void Reply(uint8_t b);
    void Drive(bool sck, bool mosi);
    void AdvanceTo(uint64_t t);
    size_t TxPending() const { return tx_.size() - tx_head_; }
    size_t HostPending() const { return host_.size() - host_head_; }
    void Clear();

    // The bus: slots of 1/19 ms, aligned to the 1 ms frames.
    Transfer* Submit(bool in, const void* buf, DWORD n);
    Transfer* Find(FT_TRANSFER t) const;
    void Release(Transfer* x);
    void End(Transfer* x, uint64_t t, FT_STATUS status);
    void FailAll(FT_STATUS status);
    void Wait(Transfer* x);
    // The next slot, with the cable run up to it; idle slots are skipped, up to limit.
    void Step(uint64_t limit);
    void RunCable(uint64_t t);
    size_t ReadyAt(uint64_t t) const;  // replies the FT245 may send at t, up to a packet
    bool OutPacket(uint64_t t);
    bool InPacket(uint64_t t);
    void TakeHost(Transfer* x);  // bytes an earlier packet brought beyond its read

    CFlashChip* chip_;
    DWORD vid_ = 0x0403;  // the library's default table
    DWORD pid_ = 0x6001;
    bool open_ = false;
    uint64_t transfers_ = 0;
    uint8_t lines_ = 0x00;     // outputs off until the first bit-bang byte
    unsigned shift_left_ = 0;  // data bytes still to come after a shift header
    bool shift_read_ = false;
    bool dropped_ = false;
    bool drop_armed_ = false;
    bool unplugged_ = false;
    uint64_t latency_ns_ = kFt245DefaultLatencyNs;
    // Replies in the FT245's transmit buffer, with the time each was ready.
    std::vector<uint8_t> tx_;
    std::vector<uint64_t> tx_ready_;
    size_t tx_head_ = 0;
    uint64_t last_packet_ns_ = 0;  // when the last IN packet left
    // Bytes that reached the host in a packet beyond what its read asked for.
    std::vector<uint8_t> host_;
    size_t host_head_ = 0;
    // The FT245's receive buffer: bytes not yet run, with the time each arrived.
    uint8_t rx_[kFt245RxBuffer];
    uint64_t rx_at_[kFt245RxBuffer];
    size_t rx_head_ = 0;
    size_t rx_count_ = 0;
    uint64_t cable_free_ = 0;  // when the cable can take its next byte
    bool stalled_ = false;     // a reply waits for room in the transmit buffer
    std::vector<std::unique_ptr<Transfer>> transfers_live_;
    std::deque<Transfer*> outq_;  // in flight, in order
    std::deque<Transfer*> inq_;
    uint64_t slot_ = 0;  // the next bus slot to run
    bool prefer_in_ = false;
};
