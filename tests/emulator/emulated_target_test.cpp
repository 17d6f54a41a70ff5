#include "emulator/emulated_target.h"

#include <gmock/gmock.h>

#include <memory>

#include "config/temp_cwd.h"
#include "emulator/emulated_usb_blaster.h"
#include "emulator/flash_chip.h"
#include "run/tamrel.h"

namespace {

class EmulatedTarget : public TempCwd {
protected:
    // Builds the target on a small chip database; returns what it printed.
    std::string Create(const char* name, const char* fault = "", const char* signal = "") {
        Write("flash_db.cfg",
              "chips\nname=TINY8 mnfid=1 volime=0x2000\nname=NOSIZE mnfid=1 page=256\n");
        setup_.emulate_name = name, setup_.emulate_fault = fault;
        setup_.emulate_interrupt_signal = signal;
        testing::internal::CaptureStdout();
        t_.reset(CEmulatedTarget::Create(&pgm_));
        return fflush(stdout), testing::internal::GetCapturedStdout();
    }

    Setup_struct setup_{};
    CTAMREL pgm_{&setup_};
    std::unique_ptr<CEmulatedTarget> t_;
};

TEST_F(EmulatedTarget, RefusesBadConfiguration) {
    EXPECT_EQ(Create("ZZ25"),
              "\nError: emulate=ZZ25: no record in flash_db.cfg has a name beginning with it");
    EXPECT_EQ(Create("NOSIZE"),
              "\nError: emulate=NOSIZE: flash_db.cfg file: 'volime' syntax error");
    // Only slow takes a busy time, a whole number of milliseconds up to ten minutes.
    for (const char* fault : {"flaky", "slow", "slow:", "slow:0", "slow:12ms", "slow:600001",
                              "slow:-5", "busy:5", "none:1"}) {
        EXPECT_EQ(Create("TINY", fault),
                  std::string("\nError: emulate_fault=") + fault +
                      " is not one of none, miso_high, miso_low, no_wel, busy, slow:N (N ms, 1 "
                      "to 600000), wp_low, no_wrsr, one_block_locked, no_cable");
        EXPECT_FALSE(t_);
    }
    EXPECT_EQ(Create("TINY", "slow:600000"), "");
    EXPECT_TRUE(t_);
    EXPECT_EQ(Create("TINY", "", "SIGHUP"),
              "\nError: emulate_interrupt_signal=SIGHUP is not one of SIGINT, SIGTERM");
    EXPECT_FALSE(t_);
}

// The part is played as its record describes it, read by the database's parser: each erase
// opcode erases the largest size erase= gives it or its 4-byte twin (where parts sharing an
// id differ, the more demanding one), else its usual size.
TEST_F(EmulatedTarget, PlaysTheRecord) {
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"sector=0x10000", {0x10000, 0x1000, 0x8000, 0x1C, 0, 0}},
        {"sector=0x10000 erase=0x20:4K|64K,0xD8:64K|256K", {0x40000, 0x10000, 0x8000, 0x1C, 0, 0}},
        {"sector=0x10000 erase=0x5C:64K,0xDC:128K", {0x20000, 0x1000, 0x10000, 0x1C, 0, 0}},
        {"mnfid=0x20 bp=0x7C poll=fsr diers=0xC4:1M", {0x10000, 0x1000, 0x8000, 0x7C, 1, 0xC4}},
        {"mnfid=0xC2", {0x10000, 0x1000, 0x8000, 0x3C, 0, 0}},
    };
    for (const auto& [keys, params] : cases) {
        Write("flash_db.cfg",
              std::string("#\nname=PART mnfid=0xEF volime=0x200000 ") + keys + "\n");
        setup_.emulate_name = "PART";
        testing::internal::CaptureStdout();
        t_.reset(CEmulatedTarget::Create(&pgm_));
        ASSERT_EQ("", testing::internal::GetCapturedStdout()) << keys;
        const FlashChipParams& p = t_->Chip()->Params();
        EXPECT_EQ(params, std::vector<uint32_t>({p.sector_size, p.erase_20, p.erase_52,
                                                 p.protect_mask, p.flag_status, p.die_erase}))
            << keys;
    }
}

// The programmed image goes back to its file with a stats line; an image of another size is
// refused and left as it is. The config reader's place survives the database lookup.
TEST_F(EmulatedTarget, WritesImageAndStatsBackButNeverResizesTheImage) {
    setup_.emulate_image = "chip.bin", setup_.emulate_stats = "stats.json";
    pgm_.key_pos = 77;
    EXPECT_EQ(Create("TINY"), "");
    ASSERT_TRUE(t_);
    EXPECT_EQ(pgm_.key_pos, 77u);
    for (const std::vector<uint8_t>& frame : {std::vector<uint8_t>{0x06}, {0x02, 0, 1, 0, 0x5A}}) {
        t_->Chip()->Select();
        for (uint8_t b : frame) t_->Chip()->Exchange(b);
        t_->Chip()->Deselect();
    }
    t_.reset();
    EXPECT_EQ(Read("chip.bin"), std::string(0x100, '\xFF') + '\x5A' + std::string(0x1EFF, '\xFF'));
    EXPECT_THAT(Read("stats.json"),
                testing::HasSubstr("\"frames\":2,\"commands\":{\"0x02\":1,\"0x06\":1},"
                                   "\"bytes_read\":0,\"bytes_programmed\":1,"));

    Write("chip.bin", "short");
    EXPECT_EQ(Create("TINY"),
              "\nError: emulate_image chip.bin has 5 bytes, the emulated chip 8192; file left as "
              "it is");
    EXPECT_EQ(Read("chip.bin"), "short");
}

}  // namespace

namespace {

// The FT245 of the emulated USB-Blaster on a full-speed bus of 1 ms frames (19 packet slots
// each): every transfer is reported at the end of the frame in which it ended; replies wait in
// a 384-byte transmit buffer and leave in packets of 62, a shorter one (even an empty one) only
// once the 2 ms latency timer has run out since the last packet, which ends the read. With no
// read in flight a write whose bytes do not fit in the cable's 128-byte receive buffer once the
// transmit buffer is full stalls the cable and fails after 5 s; with
// one, writes and reads move together.
// The cable opened, with the latency timer at 2 ms.
struct Blaster {
    CFlashChip chip{FlashChipParams()};
    CEmulatedUsbBlaster usb{&chip};
    FT_HANDLE h = nullptr;
    Blaster() { usb.SetVIDPID(0x09FB, 0x6001), usb.Open(0, &h), usb.SetLatencyTimer(h, 2); }
};

TEST(EmulatedUsbBlaster, BusFramesTransmitBufferAndLatencyTimer) {
    Blaster b;
    CFlashChip& chip = b.chip;
    CEmulatedUsbBlaster& usb = b.usb;
    const FT_HANDLE h = b.h;
    ASSERT_NE(nullptr, h);
    // Outputs on with the chip deselected, then k units of 62 shifted bytes that each ask for
    // a reply (0xFF: nothing drives MISO).
    auto shifts = [](int k) {
        std::vector<uint8_t> w = {0x2A};
        for (int p = 0; p < k; ++p) w.push_back(0xC0 | 62), w.insert(w.end(), 62, 0x00);
        return w;
    };
    const uint64_t ms = 1000000;
    std::vector<uint8_t> w = shifts(7), r(500, 0);
    DWORD n = 0, m = 0;
    // 434 replies with a read in flight: both done at the end of their first frame.
    FT_TRANSFER wt = nullptr, rt = nullptr;
    ASSERT_EQ(FT_OK, usb.ReadSubmit(h, r.data(), 434, &rt));
    ASSERT_EQ(FT_OK, usb.WriteSubmit(h, w.data(), static_cast<DWORD>(w.size()), &wt));
    EXPECT_EQ(FT_OK, usb.TransferDone(h, rt, &n));
    EXPECT_EQ(FT_OK, usb.TransferDone(h, wt, &m));
    EXPECT_EQ(434u, n);
    EXPECT_EQ(w.size(), m);
    EXPECT_EQ(std::vector<uint8_t>(434, 0xFF), std::vector<uint8_t>(r.begin(), r.begin() + 434));
    EXPECT_EQ(1 * ms, chip.Now());

    // Long after the last packet a read ends at once, empty, at the end of its frame.
    usb.RunUntil(10 * ms);
    ASSERT_EQ(FT_OK, usb.ReadSubmit(h, r.data(), 62, &rt));
    EXPECT_EQ(FT_OK, usb.TransferDone(h, rt, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(11 * ms, chip.Now());

    // One at a time: 378 replies written (done at the frame's end), six whole packets read in
    // the next frame, and the last 6 once the timer has run out 2 ms after the sixth packet
    // left (slot 5 of frame 12), in frame 14.
    w = shifts(6);
    w.insert(w.end(), {0xC0 | 6, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(FT_OK, usb.Write(h, w.data(), static_cast<DWORD>(w.size()), &n));
    EXPECT_EQ(12 * ms, chip.Now());
    EXPECT_EQ(FT_OK, usb.Read(h, r.data(), 372, &n));
    EXPECT_EQ(372u, n);
    EXPECT_EQ(13 * ms, chip.Now());
    EXPECT_EQ(FT_OK, usb.Read(h, r.data(), 6, &n));
    EXPECT_EQ(6u, n);
    EXPECT_EQ(15 * ms, chip.Now());

    // 620 replies and no read: the cable stalls with the receive buffer full, and the write
    // fails 5 s after it began.
    w = shifts(10);
    EXPECT_EQ(FT_IO_ERROR, usb.Write(h, w.data(), static_cast<DWORD>(w.size()), &n));
    EXPECT_LT(n, w.size());
    EXPECT_EQ(5015 * ms, chip.Now());
}

// A cable pulled out: the next write fails, and so does the read in flight.
TEST(EmulatedUsbBlaster, DroppedCableFailsTheTransfersInFlight) {
    Blaster blaster;
    CEmulatedUsbBlaster& usb = blaster.usb;
    const FT_HANDLE h = blaster.h;
    uint8_t b[2] = {0x6A, 0x6A}, r[2];
    FT_TRANSFER rt = nullptr, wt = nullptr;
    ASSERT_EQ(FT_OK, usb.ReadSubmit(h, r, 2, &rt));
    usb.Drop();
    EXPECT_EQ(FT_IO_ERROR, usb.WriteSubmit(h, b, 2, &wt));
    DWORD n = 0;
    EXPECT_EQ(FT_IO_ERROR, usb.TransferDone(h, rt, &n));
    EXPECT_EQ(FT_IO_ERROR, usb.ReadSubmit(h, r, 2, &rt));
}

}  // namespace
