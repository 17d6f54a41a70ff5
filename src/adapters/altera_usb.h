// USB-Blaster cable: an FTDI chip in front of logic that takes bit-bang bytes (line
// levels) and shift headers (up to 63 bytes clocked out LSB first).
#pragma once

#include <utility>
#include <vector>

#include "adapters/interface.h"

class CFTDI;
class CFtdiStream;

class CALTERAUSB : public CInterface {
public:
    CALTERAUSB();
    ~CALTERAUSB() override;
    CALTERAUSB(const CALTERAUSB&) = delete;
    CALTERAUSB& operator=(const CALTERAUSB&) = delete;

    // 1 ready; 0 cable not found; -1 the library refuses the cable's ids, or the cable is
    // refused (the choice in ftdi->choice names none or several, or it is busy).
    int Open();
    void Close() {}

    // Line operations only record the level; it goes out with the next transfer.
    void SET_CS() override { Set(PIN_CS); }
    void CLR_CS() override { Clear(PIN_CS); }
    void SET_SCK() override { Set(PIN_SCK); }
    void CLR_SCK() override { Clear(PIN_SCK); }
    void SET_MOSI() override { Set(PIN_MOSI); }
    void CLR_MOSI() override { Clear(PIN_MOSI); }
    int ADAPTER_ON() override;
    int ADAPTER_OFF() override;
    void SET_WP_DISABLE() override { Set(PIN_WP_DISABLE); }
    void CLR_WP_DISABLE() override { Clear(PIN_WP_DISABLE); }
    void CLR_CPU_RESET() override { Clear(PIN_CPU_RESET); }
    void SET_CPU_RESET() override { Set(PIN_CPU_RESET); }
    int GET_MISO() override;
    int GET_PORT(unsigned short n) override;
    void SET_PORT(unsigned char b) override;
    void WR_BLOCK(unsigned char* buf, long total_len, long read_len) override;
    void QUEUE_BLOCK(unsigned char* buf, long total_len, long read_len) override;
    void FLUSH_BLOCKS() override;
    int QUEUES_BLOCKS() override { return stream_ != nullptr; }
    void QUEUE_IDLE(long bytes) override;
    int CABLE_LOST() override;

    const char* cable_name = "USB-Blaster";
    unsigned short vid = 0x09FB;  // compatible cables may report others
    unsigned short pid = 0x6001;
    // Overlapped transfers when the library has them (config.cfg usb_async=0: one transfer
    // at a time). Set before Open.
    bool use_async = true;
    unsigned char pin_state = PIN_STATE_INITIAL;
    CFTDI* ftdi;

private:
    void Set(unsigned char bit) {
        pin_state = static_cast<unsigned char>((pin_state & 0x3F) | bit);
    }
    void Clear(unsigned char bit) { pin_state &= static_cast<unsigned char>(0x3F & ~bit); }
    void Send(unsigned char b);
    // Reads n reply bytes in one call into dst, bit-reversed; false when the cable is lost.
    bool Collect(unsigned n, unsigned char* dst);
    // Packs the packet of a frame that carries `count` data bytes from buf[sent] on.
    int Pack(unsigned char* out, const unsigned char* buf, long sent, long count, bool last,
             unsigned char header, unsigned char select);
    unsigned char Frame_Select();
    // Hands a frame's packets to the stream; sent at once unless deferred.
    void Stream_Frame(unsigned char* buf, long total_len, bool reading, bool deferred);
    void Reverse_Replies();

    bool lost_ = false;
    CFtdiStream* stream_ = nullptr;
    // Frames whose replies arrive as the cable sent them, to be put in SPI bit order.
    std::vector<std::pair<unsigned char*, long>> unreversed_;
};
