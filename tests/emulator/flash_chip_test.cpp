#include "emulator/flash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<uint8_t> Bytes;

FlashChipParams Params(uint8_t status) {
    return {0xEF, 0x4016, 0x1234, 0x20000, 0x10000, status};  // 128 KiB, 64 KiB sectors
}

// Runs whole frames; returns what the chip sent during the last one.
Bytes Frames(CFlashChip& chip, const std::vector<Bytes>& frames) {
    Bytes in;
    for (const Bytes& f : frames) {
        in.clear();
        chip.Select();
        for (uint8_t b : f) in.push_back(chip.Exchange(b));
        chip.Deselect();
    }
    return in;
}

TEST(FlashChip, AnswersIdAndStatusAndLatchesWriteEnable) {
    CFlashChip chip(Params(0x9C));
    EXPECT_EQ(Frames(chip, {{0x9F, 0, 0, 0, 0, 0, 0}}),
              Bytes({0xFF, 0xEF, 0x40, 0x16, 0x12, 0x34, 0}));
    EXPECT_EQ(Frames(chip, {{0x06}, {0x05, 0, 0}}), Bytes({0xFF, 0x9E, 0x9E}));
}

// What a status read finds a second after the frames; a byte of 0x0F at 0 stays as it is.
TEST(FlashChip, WriteLatchAndProtectionRefuseChanges) {
    // Status register at power-up, WP# level, the frames, the status read.
    const std::tuple<uint8_t, bool, std::vector<Bytes>, uint8_t> cases[] = {
        {0, true, {{0x06}, {0x04}}, 0},
        {0, true, {{0x06, 0x00}}, 0},                         // a byte too many
        {0, true, {{0x02, 0, 0, 0, 0xF0}}, 0},                // no latch
        {0x04, true, {{0x06}, {0x02, 0, 0, 0, 0xF0}}, 0x04},  // protected
        {0x10, true, {{0x06}, {0x20, 0, 0, 0}}, 0x10},
        {0x9C, false, {{0x06}, {0x01, 0x00}}, 0x9C},  // locked by WP# low, latch used up
    };
    for (const auto& [sr, wp, frames, status] : cases) {
        SCOPED_TRACE(testing::PrintToString(frames));
        CFlashChip chip(Params(sr));
        chip.SetPins(true, false, false, wp);
        chip.Memory()[0] = 0x0F;
        Frames(chip, frames);
        chip.AdvanceTime(1000000000);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], status);
        EXPECT_EQ(chip.Memory()[0], 0x0F);
    }
}

TEST(FlashChip, ProgramAndsBitsAndWrapsInItsPage) {
    CFlashChip chip(Params(0));
    for (const Bytes& f : {Bytes{0x02, 0, 0, 0x10, 0xF0}, Bytes{0x02, 0, 0, 0x10, 0x3C},
                           Bytes{0x02, 0, 0x01, 0xFE, 1, 2, 3, 4}}) {
        Frames(chip, {{0x06}, f});
        chip.AdvanceTime(699999);
        EXPECT_EQ(chip.Status(), 0x03);  // the latch reads set until done
        chip.AdvanceTime(1);
    }
    EXPECT_EQ(chip.Memory()[0x10], 0x30);
    EXPECT_EQ(Bytes(&chip.Memory()[0xFF], &chip.Memory()[0x103]), Bytes({0xFF, 3, 4, 0xFF}));
    EXPECT_EQ(Bytes(&chip.Memory()[0x1FE], &chip.Memory()[0x201]), Bytes({1, 2, 0xFF}));
}

// Opcode, address, erase unit, busy time in ms; chip erases (0xC7, 0x60) are the opcode alone.
TEST(FlashChip, EraseSizesTimesAndBusyIgnoring) {
    const std::tuple<uint8_t, uint32_t, uint32_t, uint64_t> cases[] = {
        {0x20, 0x1234, 0x1000, 45},    {0x40, 0x3FFF, 0x2000, 52}, {0x52, 0x9000, 0x8000, 94},
        {0xD8, 0x1FFFF, 0x10000, 150}, {0xC7, 0, 0x20000, 125},    {0x60, 0, 0x20000, 125}};
    for (const auto& [op, addr, unit, busy_ms] : cases) {
        SCOPED_TRACE(int(op));
        Bytes frame{op, uint8_t(addr >> 16), uint8_t(addr >> 8), uint8_t(addr)};
        frame.resize(unit < 0x20000 ? 4 : 1);
        CFlashChip chip(Params(0));
        Bytes want(0x20000, 0);
        chip.Memory() = want;
        std::fill_n(want.begin() + addr / unit * unit, unit, 0xFF);
        Frames(chip, {{0x06}, frame});
        EXPECT_TRUE(chip.Memory() == want);
        // While busy only 0x05 is answered: this latch and id read are ignored.
        EXPECT_EQ(Frames(chip, {{0x06}, {0x9F, 0}}), Bytes({0xFF, 0xFF}));
        chip.AdvanceTime(busy_ms * 1000000 - 1);
        EXPECT_EQ(Frames(chip, {{0x05, 0}}), Bytes({0xFF, 0x03}));
        chip.AdvanceTime(1);
        EXPECT_EQ(chip.Status(), 0);
    }
}

}  // namespace
