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

TEST(FlashChip, IdAndStatus) {
    CFlashChip chip(Params(0x9F));  // busy and latch bits start clear
    EXPECT_EQ(Frames(chip, {{0x9F, 0, 0, 0, 0, 0, 0}}),
              Bytes({0xFF, 0xEF, 0x40, 0x16, 0x12, 0x34, 0}));
    EXPECT_EQ(Frames(chip, {{0x05, 0, 0}}), Bytes({0xFF, 0x9C, 0x9C}));
}

// What a status read finds a second after the frames; a byte of 0x0F at 0 stays as it is.
TEST(FlashChip, WriteLatchProtectionAndFaults) {
    const struct {
        ChipFault fault;
        uint8_t sr;
        bool wp;  // WP# level
        std::vector<Bytes> frames;
        uint8_t status;
    } cases[] = {
        {ChipFault::None, 0, true, {{0x06}}, 0x02},
        {ChipFault::None, 0, true, {{0x06}, {0x04}}, 0},
        {ChipFault::None, 0, true, {{0x06, 0x00}}, 0},                         // a byte too many
        {ChipFault::None, 0, true, {{0x02, 0, 0, 0, 0xF0}}, 0},                // no latch
        {ChipFault::None, 0x04, true, {{0x06}, {0x02, 0, 0, 0, 0xF0}}, 0x04},  // protected
        {ChipFault::None, 0x10, true, {{0x06}, {0x20, 0, 0, 0}}, 0x10},
        {ChipFault::None, 0x9C, false, {{0x06}, {0x01, 0x00}}, 0x9C},  // locked, latch used up
        {ChipFault::None, 0x9C, true, {{0x06}, {0x01, 0x00}}, 0x00},
        {ChipFault::WelNeverSets, 0, true, {{0x06}}, 0},
        {ChipFault::StaysBusy, 0, true, {{0x06}, {0x01, 0x00}, {0x06}}, 0x03},
        {ChipFault::MisoStuckHigh, 0, true, {{0x06}}, 0xFF},
        {ChipFault::MisoStuckLow, 0, true, {{0x06}}, 0x00},
    };
    for (const auto& c : cases) {
        CFlashChip chip(Params(c.sr));
        chip.SetFault(c.fault);
        chip.SetPins(true, false, false, c.wp);
        chip.Memory()[0] = 0x0F;
        Frames(chip, c.frames);
        chip.AdvanceTime(1000000000);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], c.status) << "case " << &c - cases;
        EXPECT_EQ(chip.Memory()[0], 0x0F) << "case " << &c - cases;
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

TEST(FlashChip, EraseSizesTimesAndBusyIgnoring) {
    const struct {
        Bytes frame;
        uint32_t begin, size;
        uint64_t busy_ns;
    } cases[] = {
        {{0x20, 0x00, 0x12, 0x34}, 0x1000, 0x1000, 45000000},
        {{0x40, 0x00, 0x3F, 0xFF}, 0x2000, 0x2000, 52000000},
        {{0x52, 0x00, 0x90, 0x00}, 0x8000, 0x8000, 94000000},
        {{0xD8, 0x01, 0xFF, 0xFF}, 0x10000, 0x10000, 150000000},
        {{0xC7}, 0, 0x20000, 125000000},
        {{0x60}, 0, 0x20000, 125000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.frame[0]));
        CFlashChip chip(Params(0));
        Bytes want(0x20000, 0);
        chip.Memory() = want;
        std::fill(want.begin() + c.begin, want.begin() + c.begin + c.size, 0xFF);
        Frames(chip, {{0x06}, c.frame});
        EXPECT_TRUE(chip.Memory() == want);
        // While busy only 0x05 is answered: this latch and id read are ignored.
        EXPECT_EQ(Frames(chip, {{0x06}, {0x9F, 0}}), Bytes({0xFF, 0xFF}));
        chip.AdvanceTime(c.busy_ns - 1);
        EXPECT_EQ(Frames(chip, {{0x05, 0}}), Bytes({0xFF, 0x03}));
        chip.AdvanceTime(1);
        EXPECT_EQ(chip.Status(), 0);
    }
}

}  // namespace
