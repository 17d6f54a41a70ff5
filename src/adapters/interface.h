// Abstract SPI cable: single lines, power, data-in and one frame operation.
#pragma once

// pin_state bit layout shared by both cables.
enum : unsigned char {
    PIN_SCK = 0x01,
    PIN_CS = 0x02,
    PIN_CPU_RESET = 0x04,
    PIN_WP_DISABLE = 0x08,
    PIN_MOSI = 0x10,
    PIN_ADAPTER_ON = 0x20,
    PIN_READ_REQ = 0x40,    // USB-Blaster only
    PIN_SHIFT_MODE = 0x80,  // USB-Blaster only
    PIN_STATE_INITIAL = 0x0E,
};

class CInterface {
public:
    virtual ~CInterface() {}
    virtual void SET_CS() {}
    virtual void CLR_CS() {}
    virtual void SET_SCK() {}
    virtual void CLR_SCK() {}
    virtual void SET_MOSI() {}
    virtual void CLR_MOSI() {}
    virtual int ADAPTER_ON() { return 0; }
    virtual int ADAPTER_OFF() { return 0; }
    virtual void SET_WP_DISABLE() {}
    virtual void CLR_WP_DISABLE() {}
    virtual void CLR_CPU_RESET() {}
    virtual void SET_CPU_RESET() {}
    virtual int GET_MISO() { return 0; }
    virtual int GET_PORT(unsigned short) { return 1; }
    virtual void SET_PORT(unsigned char) {}
    virtual void WRITE_BLOCK(unsigned char*, long) {}
    virtual void READ_BLOCK(unsigned char*, long) {}
    // One chip-select frame: sends total_len bytes of buf; when read_len > 0 each
    // buf[i] is replaced by the byte received while it was sent.
    virtual void WR_BLOCK(unsigned char* buf, long total_len, long read_len) {
        (void)buf;
        (void)total_len;
        (void)read_len;
    }
    // Like WR_BLOCK, but the frame may wait to go out together with the frames after it:
    // its replies are in buf, which stays valid until then, once FLUSH_BLOCKS() returns.
    // A cable that sends every frame at once does that here too.
    virtual void QUEUE_BLOCK(unsigned char* buf, long total_len, long read_len) {
        WR_BLOCK(buf, total_len, read_len);
    }
    virtual void FLUSH_BLOCKS() {}
    // Queues `bytes` byte times of clocks with the chip deselected: a wait that the cable
    // itself measures between queued frames (the chip ignores SCK while CS# is high).
    virtual void QUEUE_IDLE(long bytes) { (void)bytes; }
    // 1 when queued frames really travel together (several frames per USB round trip).
    virtual int QUEUES_BLOCKS() { return 0; }
    // 1 once a transfer to the cable has failed (the cable said so when it happened); the
    // adapter then sends nothing more and callers stop at the next frame.
    virtual int CABLE_LOST() { return 0; }
};
