#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <vector>

#include "emulator/emulated_lpt.h"
#include "emulator/emulated_usb_blaster.h"
#include "emulator/flash_chip.h"

namespace {

FlashChipParams Chip() {
    FlashChipParams p;
    p.mnf_id = 0xEF;
    p.jedec_id = 0x4016;
    p.total_size = 0x10000;
    return p;
}

uint8_t Reverse(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = uint8_t(r | (((b >> i) & 1) << (7 - i)));
    return r;
}

struct Lpt {
    CFlashChip chip{Chip()};
    CEmulatedLpt port{&chip};
    int fd = port.open("/dev/parport0", O_RDWR);
    void Out(unsigned long req, unsigned char v) { ASSERT_EQ(port.ioctl(fd, req, &v), 0); }
    unsigned char In(unsigned long req) {
        unsigned char v = 0;
        EXPECT_EQ(port.ioctl(fd, req, &v), 0);
        return v;
    }
};

TEST(EmulatedLpt, LoopBacksAndFrames) {
    Lpt lpt;
    EXPECT_EQ(lpt.port.open("/dev/parport1", O_RDWR), -1);
    unsigned char v = 0xA0;
    EXPECT_EQ(lpt.port.ioctl(lpt.fd, PPWDATA, &v), -1);  // not claimed yet
    ASSERT_EQ(lpt.port.ioctl(lpt.fd, PPCLAIM, nullptr), 0);
    // D5 loops back to status bit 5, D7 to bit 6.
    const unsigned char cases[][2] = {{0xA0, 0x60}, {0x20, 0x20}, {0x80, 0x40}, {0x00, 0x00}};
    for (const auto& c : cases) {
        lpt.Out(PPWDATA, c[0]);
        EXPECT_EQ(lpt.In(PPRSTATUS) & 0x60, c[1]) << int(c[0]);
    }
    EXPECT_EQ(lpt.port.Accesses(), 10u);

    // A ByteBlaster frame: CS on D1, SCK on D0, MOSI on D6, WP on D3; BUSY reads MISO inverted.
    auto frame = [&](const std::vector<uint8_t>& out) {
        std::vector<uint8_t> in;
        lpt.Out(PPWDATA, 0x08);  // selected, clock low
        for (uint8_t b : out) {
            uint8_t r = 0;
            for (int i = 7; i >= 0; --i) {
                uint8_t d = 0x08 | (((b >> i) & 1) ? 0x40 : 0);
                lpt.Out(PPWDATA, d);
                lpt.Out(PPWDATA, d | 0x01);
                r = uint8_t((r << 1) | ((lpt.In(PPRSTATUS) & 0x80) ? 0 : 1));
                lpt.Out(PPWDATA, d);
            }
            in.push_back(r);
        }
        lpt.Out(PPWDATA, 0x0A);
        return in;
    };
    lpt.Out(PPWCONTROL, lpt.In(PPRCONTROL) & ~0x02);
    frame({0x9F, 0});
    EXPECT_EQ(lpt.chip.Stats().frames, 0u);  // outputs off: the chip never saw CS low
    lpt.Out(PPWCONTROL, lpt.In(PPRCONTROL) | 0x02);
    EXPECT_EQ(frame({0x9F, 0, 0, 0}), std::vector<uint8_t>({0xFF, 0xEF, 0x40, 0x16}));
    EXPECT_EQ(lpt.chip.Stats().frames, 1u);
}

struct Usb {
    CFlashChip chip{Chip()};
    CEmulatedUsbBlaster usb{&chip};
    FT_HANDLE h = nullptr;
    std::vector<uint8_t> Send(std::vector<uint8_t> packet) {
        DWORD n = 0, pending = 0;
        EXPECT_EQ(usb.Write(h, packet.data(), DWORD(packet.size()), &n), FT_OK);
        EXPECT_EQ(n, packet.size());
        usb.GetQueueStatus(h, &pending);
        std::vector<uint8_t> in(pending);
        if (pending) usb.Read(h, in.data(), pending, &n);
        return in;
    }
};

TEST(EmulatedUsbBlaster, ListedUnderItsIdsShiftsAndAnswers) {
    Usb u;
    DWORD vid = 0, pid = 0, count = 9;
    u.usb.GetVIDPID(&vid, &pid);
    EXPECT_EQ(vid, 0x0403u);  // so the cable's ids must be set first
    u.usb.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    EXPECT_EQ(count, 0u);
    u.usb.SetVIDPID(0x09FB, 0x6001);
    char desc[64] = {};
    u.usb.GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, nullptr, desc, nullptr);
    EXPECT_STREQ(desc, "USB-Blaster");
    ASSERT_EQ(u.usb.Open(0, &u.h), FT_OK);

    // JEDEC read: select twice, shift header with read, bit-reversed data, deselect.
    std::vector<uint8_t> in = u.Send({0x28, 0x28, 0xC4, Reverse(0x9F), 0, 0, 0, 0x2A});
    EXPECT_EQ(in, std::vector<uint8_t>({0xFF, Reverse(0xEF), Reverse(0x40), Reverse(0x16)}));
    // A shift without bit 6 clocks but answers nothing.
    EXPECT_TRUE(u.Send({0x28, 0x28, 0x81, Reverse(0x06), 0x2A}).empty());
    EXPECT_EQ(u.chip.Status() & 0x02, 0x02);
    // Bit-bang: status read frame clocked by hand, MISO sampled with read requests.
    std::vector<uint8_t> bb = {0x28};
    for (int i = 7; i >= 0; --i) {
        uint8_t d = 0x28 | (((0x05 >> i) & 1) ? 0x10 : 0);
        bb.insert(bb.end(), {d, uint8_t(d | 1), d});
    }
    for (int i = 0; i < 8; ++i) bb.insert(bb.end(), {0x28, 0x29, 0x69, 0x28});
    bb.push_back(0x2A);
    in = u.Send(bb);
    ASSERT_EQ(in.size(), 8u);
    uint8_t status = 0;
    for (uint8_t b : in) status = uint8_t((status << 1) | (b & 1));
    EXPECT_EQ(status, 0x02);
    EXPECT_EQ(u.usb.Transfers(), 5u);
}

}  // namespace
