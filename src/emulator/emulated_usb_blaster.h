// A USB-Blaster behind the D2XX layer: one device "USB-Blaster" (0x09FB/0x6001) whose
// byte protocol (bit-bang bytes, read requests, shift headers) drives the chip.
#pragma once

#include <cstddef>
#include <cstdint>
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

    uint64_t Transfers() const { return transfers_; }  // USB bulk transfers made
    uint8_t Lines() const { return lines_; }           // last bit-bang levels
    // The cable is gone from the next write on (the replies of the frame that just ended
    // still arrive); every transfer after that fails.
    void Drop() { drop_armed_ = true; }
    // No cable on the bus: the library lists no device.
    void Unplug() { unplugged_ = true; }

protected:
    void SetChip(CFlashChip* chip) { chip_ = chip; }  // before the cable is opened

private:
    bool Visible() const;  // the library lists the cable only under its own ids
    bool Valid(FT_HANDLE h) const { return open_ && h == Handle(); }
    FT_HANDLE Handle() const { return const_cast<CEmulatedUsbBlaster*>(this); }
    // Runs one byte on the cable; false when its reply finds the transmit buffer full.
    bool Execute(uint8_t b);
    bool BitBang(uint8_t b);
    bool Shift(uint8_t b);
    bool Reply(uint8_t b);
    void Drive(bool sck, bool mosi);
    void AdvanceTo(uint64_t t);
    // Sends the next IN packet no earlier than `earliest`; returns its time.
    uint64_t SendPacket(uint64_t earliest);
    size_t TxPending() const { return tx_.size() - tx_head_; }
    size_t HostPending() const { return host_.size() - host_head_; }
    void Clear();

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
    // Replies that reached the host but no read has taken yet.
    std::vector<uint8_t> host_;
    size_t host_head_ = 0;
};
