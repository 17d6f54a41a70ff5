#include "emulator/flash_chip.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

FlashChipParams SmallChip(uint8_t status = 0) {
    FlashChipParams p;
    p.mnf_id = 0xC2;
    p.jedec_id = 0x2017;
    p.ext_id = 0x1234;
    p.total_size = 0x20000;
    p.sector_size = 0x10000;
    p.status = status;
    return p;
}

Bytes Frame(CFlashChip& chip, const Bytes& out) {
    Bytes in;
    chip.Select();
    for (uint8_t b : out) in.push_back(chip.Exchange(b));
    chip.Deselect();
    return in;
}

void Program(CFlashChip& chip, uint32_t addr, const Bytes& data) {
    Frame(chip, {0x06});
    Bytes f = {0x02, uint8_t(addr >> 16), uint8_t(addr >> 8), uint8_t(addr)};
    f.insert(f.end(), data.begin(), data.end());
    Frame(chip, f);
}

TEST(FlashChip, IdentificationAndStatus) {
    CFlashChip chip(SmallChip(0x9F));
    EXPECT_EQ(Frame(chip, {0x9F, 0, 0, 0, 0, 0, 0}),
              Bytes({0xFF, 0xC2, 0x20, 0x17, 0x12, 0x34, 0}));
    EXPECT_EQ(Frame(chip, {0x05, 0, 0}), Bytes({0xFF, 0x9C, 0x9C}));  // busy and WEL start clear
    chip.Memory()[0x1FFFF] = 0xAB;
    chip.Memory()[0] = 0xCD;
    EXPECT_EQ(Frame(chip, {0x03, 0x01, 0xFF, 0xFF, 0, 0}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD}));
    EXPECT_EQ(chip.Stats().bytes_read, 2u);
}

TEST(FlashChip, WriteEnableLatchRules) {
    struct Case {
        std::vector<Bytes> frames;
        ChipFault fault;
        uint8_t status;  // busy and latch bits
    } cases[] = {
        {{{0x06}}, ChipFault::None, 0x02},      {{{0x06}, {0x04}}, ChipFault::None, 0},
        {{{0x06, 0x00}}, ChipFault::None, 0},  // a command byte too many
        {{{0x06}}, ChipFault::WelNeverSets, 0}, {{{0x06}, {0x20, 0, 0, 0}, {0x06}}, ChipFault::StaysBusy, 0x03},
    };
    for (const Case& c : cases) {
        CFlashChip chip(SmallChip());
        chip.SetFault(c.fault);
        for (const Bytes& f : c.frames) Frame(chip, f);
        EXPECT_EQ(chip.Status() & 0x03, c.status) << c.frames.size() << " frames";
    }
}

TEST(FlashChip, ProgramAndsBitsWrapsInPageAndClearsLatch) {
    CFlashChip chip(SmallChip());
    Program(chip, 0x10, {0xF0});
    EXPECT_EQ(chip.Status() & 0x03, 0x03);  // busy, latch held until done
    chip.AdvanceTime(699999);
    EXPECT_EQ(chip.Status() & 0x01, 0x01);
    chip.AdvanceTime(1);
    EXPECT_EQ(chip.Status() & 0x03, 0);
    Program(chip, 0x10, {0x3C});
    chip.AdvanceTime(1000000);
    EXPECT_EQ(chip.Memory()[0x10], 0x30);

    Program(chip, 0x1FE, {1, 2, 3, 4});  // crosses the page end: wraps to 0x100
    chip.AdvanceTime(1000000);
    EXPECT_EQ(Bytes(&chip.Memory()[0xFF], &chip.Memory()[0x103]), Bytes({0xFF, 3, 4, 0xFF}));
    EXPECT_EQ(Bytes(&chip.Memory()[0x1FE], &chip.Memory()[0x201]), Bytes({1, 2, 0xFF}));

    // No latch, or a frame cut mid-byte: nothing is written.
    Frame(chip, {0x02, 0, 0, 0x20, 0x00});
    Frame(chip, {0x06});
    chip.Select();
    for (uint8_t b : {0x02, 0, 0, 0x21}) chip.Exchange(b);
    chip.SetPins(false, true, false, true);  // one clock pulse more, then CS high
    chip.SetPins(false, false, false, true);
    chip.Deselect();
    EXPECT_EQ(chip.Memory()[0x20], 0xFF);
    EXPECT_EQ(chip.Memory()[0x21], 0xFF);
}

TEST(FlashChip, EraseSizesAlignmentAndTimes) {
    struct Case {
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
    for (const Case& c : cases) {
        CFlashChip chip(SmallChip());
        std::fill(chip.Memory().begin(), chip.Memory().end(), 0);
        Frame(chip, {0x06});
        Frame(chip, c.frame);
        for (uint32_t a = 0; a < 0x20000; ++a)
            ASSERT_EQ(chip.Memory()[a], (a >= c.begin && a < c.begin + c.size) ? 0xFF : 0)
                << "opcode " << int(c.frame[0]) << " at " << a;
        EXPECT_EQ(chip.Stats().erases.at(c.size), 1u);
        // While busy only 0x05 is answered: this WREN and the id read are ignored.
        Frame(chip, {0x06});
        EXPECT_EQ(Frame(chip, {0x9F, 0}), Bytes({0xFF, 0xFF}));
        chip.AdvanceTime(c.busy_ns - 1);
        EXPECT_EQ(Frame(chip, {0x05, 0})[1], 0x03);
        chip.AdvanceTime(1);
        EXPECT_EQ(chip.Status(), 0) << "opcode " << int(c.frame[0]);
    }
}

TEST(FlashChip, StatusWriteHonoursSrpWithWpLow) {
    CFlashChip chip(SmallChip(0x9C));
    auto write_status = [&](bool wp) {
        Frame(chip, {0x06});
        chip.SetPins(false, false, false, wp);
        for (uint8_t b : {0x01, 0x00}) chip.Exchange(b);
        chip.SetPins(true, false, false, wp);
        chip.AdvanceTime(10000000);
    };
    write_status(false);
    EXPECT_EQ(chip.Status(), 0x9C);  // locked, latch consumed
    write_status(true);
    EXPECT_EQ(chip.Status(), 0x00);
}

TEST(FlashChip, BlockProtectionRefusesProgramAndErase) {
    for (uint8_t bp : {0x04, 0x08, 0x10}) {
        CFlashChip chip(SmallChip(bp));
        chip.Memory()[1] = 0;
        Program(chip, 0, {0x00});
        EXPECT_EQ(chip.Status(), bp);  // not busy, latch cleared
        Frame(chip, {0x06});
        Frame(chip, {0xC7});
        EXPECT_EQ(chip.Status(), bp);
        EXPECT_EQ(chip.Memory()[0], 0xFF);
        EXPECT_EQ(chip.Memory()[1], 0);
    }
}

TEST(FlashChip, MisoStuckFaults) {
    CFlashChip high(SmallChip()), low(SmallChip());
    high.SetFault(ChipFault::MisoStuckHigh);
    low.SetFault(ChipFault::MisoStuckLow);
    EXPECT_EQ(Frame(high, {0x9F, 0, 0}), Bytes({0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Frame(low, {0x9F, 0, 0}), Bytes({0, 0, 0}));
}

}  // namespace
