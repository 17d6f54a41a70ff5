#include "adapters/lpt.h"

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <deque>

#include "adapter_test_util.h"
#include "adapters/altera_lpt.h"

namespace {

// A port that logs register accesses (Wxx data write, Cxx control write, S status read).
// Status answers come from the script, else from the cable's D5/D7 loop-backs.
class RecordingPort : public CPortAccess {
  public:
    enum Loop { kNone, kBoth, kD5Only } loop = kNone;
    bool open_fails = false, claim_fails = false, negot_fails = false, released = false;
    std::deque<unsigned char> status;
    unsigned char data = 0, control = 0xC4;
    int open_fds = 0, negot_mode = -1;
    std::string log;

    int open(const char* path, int) override {
        return open_fails || std::string(path) != "/dev/parport0" ? -1 : (++open_fds, 7);
    }
    int close(int fd) override {
        EXPECT_EQ(7, fd);
        --open_fds;
        return 0;
    }
    int ioctl(int, unsigned long req, void* arg) override {
        unsigned char* b = static_cast<unsigned char*>(arg);
        char tok[8];
        if (req == PPCLAIM) return claim_fails ? -1 : 0;
        if (req == PPNEGOT) return negot_mode = *static_cast<int*>(arg), negot_fails ? -1 : 0;
        if (req == PPRELEASE) released = true;
        if (req == PPRCONTROL) *b = control;
        if (req == PPWDATA || req == PPWCONTROL) {
            (req == PPWDATA ? data : control) = *b;
            snprintf(tok, sizeof tok, "%c%02X ", req == PPWDATA ? 'W' : 'C', *b);
            log += tok;
        }
        if (req == PPRSTATUS) {
            log += "S ";
            bool d5 = loop != kNone && (data & 0x20), d7 = loop == kBoth && (data & 0x80);
            *b = static_cast<unsigned char>(0x80 | (d5 ? 0x20 : 0) | (d7 ? 0x40 : 0));
            if (!status.empty()) *b = status.front(), status.pop_front();
        }
        return 0;
    }
};

std::string OpenOutput(CALTERALPT& lpt, int expect_rc) {
    BeginCapture();
    EXPECT_EQ(expect_rc, lpt.Open());
    return EndCapture();
}

TEST(ByteBlaster, OpenDetectsCableOnlyWithBothLoopBacks) {
    const std::string none =
        "\nCan't find any adapters\nUsing only LPT pins for output:"
        "\nSPI=LPT: CS=D1 SCK=D0 MOSI=D6 MISO=BUSY CPU_RESET=D4 WP_DISABLE=D3";
    const std::pair<RecordingPort::Loop, std::string> cases[] = {
        {RecordingPort::kBoth,
         "\"Altera LPT Byte Blaster\" detected. \nByteBlaster<->SPI: TMS=CS TCK=SCK TDI=SI "
         "TDO=SO nCE=RESET nCS=WP"},
        {RecordingPort::kNone, none},
        {RecordingPort::kD5Only, none},
    };
    for (const auto& c : cases) {
        NoSleep quiet;
        RecordingPort port;
        port.loop = c.first;
        CALTERALPT lpt(&port);
        EXPECT_EQ("\nLPT port opened.\n" + c.second, OpenOutput(lpt, 1));
        EXPECT_EQ(IEEE1284_MODE_COMPAT, port.negot_mode);
        EXPECT_EQ("WA0 S W00 S ", port.log);
    }
}

TEST(ByteBlaster, PortFailuresLeaveNothingOpen) {
    const struct {
        bool open_fails, claim_fails;
        std::string text;
    } cases[] = {
        {true, false,
         "\tCan't open LPT port /dev/parport0\n\tParallel Port no exist in: /dev/...           "
         "\n\tInstall parallel port by command from root:           \n\t1. cd /dev           "
         "\n\t2. mknod -m 660 parport0 c 99 0           \n\t3. chgrp lp parport0\n\n"},
        {false, true, "close: 1\n"},
        {false, false, "close: 2\n"},  // negotiation fails
    };
    for (const auto& c : cases) {
        RecordingPort port;
        port.open_fails = c.open_fails;
        port.claim_fails = c.claim_fails;
        port.negot_fails = true;
        CALTERALPT lpt(&port);
        EXPECT_EQ(c.text, OpenOutput(lpt, -1));
        EXPECT_EQ(-1, lpt.lpt->fd);
        EXPECT_EQ(0, port.open_fds);
    }
}

TEST(ByteBlaster, OneByteFrameClocksEightBitsInsideOneSelect) {
    NoSleep sleeps;
    RecordingPort port;
    {
        CALTERALPT lpt(&port);
        OpenOutput(lpt, 1);
        port.log.clear();
        lpt.CLR_CPU_RESET();  // standard power-up
        lpt.SET_WP_DISABLE();
        lpt.SET_CS();
        lpt.CLR_SCK();
        lpt.CLR_MOSI();
        EXPECT_EQ(1, lpt.ADAPTER_ON());
        EXPECT_EQ("W0A W0A W0A W0A W0A CC6 ", port.log);

        const unsigned char sent = 0xA5, reply = 0x3C;  // BUSY reads inverted
        for (int bit = 7; bit >= 0; --bit) port.status.push_back((reply >> bit) & 1 ? 0 : 0x80);
        port.log.clear();
        sleeps.us1 = 0;
        unsigned char buf[1] = {sent};
        lpt.WR_BLOCK(buf, 1, 0);

        std::string want = "W08 W08 ";  // clock low, then selected; WP high throughout
        char tok[32];
        for (int bit = 7; bit >= 0; --bit) {
            unsigned mosi = (sent >> bit) & 1 ? 0x48 : 0x08;
            snprintf(tok, sizeof tok, "W%02X W%02X S W%02X ", mosi, mosi | 1, mosi);
            want += tok;
        }
        EXPECT_EQ(want + "W4A ", port.log);  // deselected, clock low, last data bit kept
        EXPECT_EQ(reply, buf[0]);            // read back even with read_len 0
        EXPECT_EQ(18, sleeps.us1);

        port.log.clear();
        EXPECT_EQ(0, lpt.ADAPTER_OFF());
        EXPECT_EQ("CC4 ", port.log);  // other control bits kept
    }
    EXPECT_TRUE(port.released);
    EXPECT_EQ(0, port.open_fds);
}

}  // namespace
