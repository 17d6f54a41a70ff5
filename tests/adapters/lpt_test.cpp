#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <deque>

#include "adapter_test_util.h"
#include "adapters/altera_lpt.h"

namespace {

// A port that logs register accesses: Wxx data write, Cxx control write, S status read.
// Status reads take the script first, then the cable's loop-backs (D5 to bit 5, D7 to bit 6).
class RecordingPort : public CPortAccess {
public:
    int open_errno = 0, open_fds = 0;  // open fails with open_errno
    bool claim_fails = false;
    unsigned char loops = 0, data = 0, control = 0xC4;  // loops: the data bits wired back
    std::deque<unsigned char> status;
    std::string log;

    int open(const char*, int) override { return open_errno ? errno = open_errno, -1 : ++open_fds; }
    int close(int) override { return --open_fds, 0; }
    int ioctl(int, unsigned long req, void* arg) override {
        unsigned char* b = static_cast<unsigned char*>(arg);
        char tok[8];
        if (req == PPWDATA || req == PPWCONTROL) {
            snprintf(tok, sizeof tok, "%c%02X ", req == PPWDATA ? 'W' : 'C', *b);
            log += tok;
            (req == PPWDATA ? data : control) = *b;
        }
        if (req == PPRCONTROL) *b = control;
        if (req == PPRSTATUS) {
            log += "S ";
            *b = static_cast<unsigned char>(0x80 | (data & loops & 0x20) |
                                            (data & loops & 0x80) >> 1);
            if (!status.empty()) *b = status.front(), status.pop_front();
        }
        return req == PPCLAIM && claim_fails ? -1 : 0;
    }
};

TEST(ByteBlaster, OpenFindsTheCableOnlyByBothLoopBacks) {
    for (unsigned char loops : {0xA0, 0x00, 0x20}) {
        NoSleep quiet;
        RecordingPort port;
        port.loops = loops;
        CALTERALPT lpt(&port);
        EXPECT_EQ(
            loops == 0xA0
                ? "\nLPT port opened.\n\"Altera LPT Byte Blaster\" detected. "
                  "\nByteBlaster<->SPI: TMS=CS TCK=SCK TDI=SI TDO=SO nCE=RESET nCS=WP"
                : "\nLPT port opened.\n\nCan't find any adapters\nUsing only LPT pins for "
                  "output:\nSPI=LPT: CS=D1 SCK=D0 MOSI=D6 MISO=BUSY CPU_RESET=D4 WP_DISABLE=D3",
            Printed([&] { EXPECT_EQ(1, lpt.Open()); }));
        EXPECT_EQ("WA0 S W00 S ", port.log);
    }
}

TEST(ByteBlaster, PortThatCannotBeOpenedOrClaimedIsReported) {
    const std::string missing =
        "\tCan't open LPT port /dev/parport0\n\tParallel Port no exist in: /dev/...           "
        "\n\tInstall parallel port by command from root:           \n\t1. cd /dev           "
        "\n\t2. mknod -m 660 parport0 c 99 0           \n\t3. chgrp lp parport0\n\n";
    const std::pair<int, std::string> cases[] = {
        {ENOENT, missing},
        {EACCES, missing +
                     "Permission denied on /dev/parport0: join group lp (usermod -aG lp "
                     "USER, then log in again) or install the udev rules (60-tamrel.rules).\n"},
        {0, "close: 1\n"},  // the claim fails
    };
    for (const auto& c : cases) {
        RecordingPort port;
        port.open_errno = c.first;
        port.claim_fails = true;
        CALTERALPT lpt(&port);
        EXPECT_EQ(c.second, Printed([&] { EXPECT_EQ(-1, lpt.Open()); }));
        EXPECT_EQ(0, port.open_fds);
    }
}

TEST(ByteBlaster, OneByteFrameClocksEightBitsInsideOneSelect) {
    NoSleep sleeps;
    RecordingPort port;
    {
        CALTERALPT lpt(&port);
        Printed([&] { lpt.Open(); });
        port.log.clear();
        EXPECT_EQ(1, Power(lpt, true));
        EXPECT_EQ("W0A W0A W0A W0A W0A CC6 ", port.log);  // outputs enabled by control bit 1
        port.log.clear();
        for (int bit = 7; bit >= 0; --bit) port.status.push_back((0x3C >> bit) & 1 ? 0 : 0x80);
        unsigned char buf[1] = {0xA5};
        sleeps.us1 = 0;
        lpt.WR_BLOCK(buf, 1, 0);
        // Clock low, selected (WP high throughout); per bit: data, clock high, sample, clock
        // low; deselected with the last data bit kept.
        EXPECT_EQ(
            "W08 W08 W48 W49 S W48 W08 W09 S W08 W48 W49 S W48 W08 W09 S W08 "
            "W08 W09 S W08 W48 W49 S W48 W08 W09 S W08 W48 W49 S W48 W4A ",
            port.log);
        EXPECT_EQ(0x3C, buf[0]);  // BUSY reads inverted; read back even with read_len 0
        EXPECT_EQ(18, sleeps.us1);
        port.log.clear();
        EXPECT_EQ(0, Power(lpt, false));
        EXPECT_EQ("W5A W52 W52 W52 W12 CC4 ", port.log);  // other control bits kept
    }
    EXPECT_EQ(0, port.open_fds);
}

}  // namespace
