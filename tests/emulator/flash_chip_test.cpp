#include "emulator/flash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<uint8_t> Bytes;

FlashChipParams Params(uint8_t status) {
    return {0xEF, 0x4016, 0x1234, 0x20000, 0x10000, status};  // 128 KiB, 64 KiB sectors
}

// Runs whole frames, an empty one standing for a second that passes; returns what the chip
// sent during the last one.
Bytes Frames(CFlashChip& chip, const std::vector<Bytes>& frames) {
    Bytes in;
    for (const Bytes& f : frames) {
        if (f.empty()) {
            chip.AdvanceTime(1000000000);
            continue;
        }
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
    // SFDP: three address bytes and a dummy byte, then the table from there; 0xFF past it.
    chip.SetSfdp({0x53, 0x46, 0x44, 0x50});
    EXPECT_EQ(Frames(chip, {{0x5A, 0, 0, 2, 0, 0, 0, 0}}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x44, 0x50, 0xFF}));
}

// A byte taken in one step answers and acts as its eight clocks do: id, status, a program and
// a read, on a sound chip and on one whose MISO is stuck.
TEST(FlashChip, ByteInOneStepIsItsEightClocks) {
    const std::vector<Bytes> frames = {{0x9F, 0, 0, 0, 0, 0},
                                       {0x06},
                                       {0x05, 0, 0},
                                       {0x02, 0, 0x10, 0x0F, 0x12, 0x34},
                                       {},
                                       {0x03, 0, 0x10, 0x0E, 0, 0, 0, 0}};
    for (ChipFault fault : {ChipFault::None, ChipFault::MisoStuckLow}) {
        CFlashChip clocks(Params(0)), steps(Params(0));
        clocks.SetFault(fault);
        steps.SetFault(fault);
        for (const Bytes& f : frames) {
            Bytes by_clocks, by_steps;
            if (f.empty()) {
                clocks.AdvanceTime(1000000000);
                steps.AdvanceTime(1000000000);
                continue;
            }
            clocks.Select();
            steps.Select();
            for (uint8_t b : f) {
                by_clocks.push_back(clocks.Exchange(b));
                ASSERT_TRUE(steps.ByteStart());
                by_steps.push_back(steps.ClockByte(b, true));
            }
            clocks.Deselect();
            steps.Deselect();
            EXPECT_EQ(by_steps, by_clocks);
        }
        EXPECT_TRUE(steps.Memory() == clocks.Memory());
    }
}

// What a status read finds a second after the frames; a byte of 0x0F at 0 stays as it is.
// Status writes do not take with SRP set and WP# low, also when the board holds WP# low
// whatever the cable drives, nor on a part that ignores the command (its latch stays set).
TEST(FlashChip, WriteLatchAndProtectionRefuseChanges) {
    // Status register at power-up, WP# level, fault, the frames, the status read.
    const std::tuple<uint8_t, bool, ChipFault, std::vector<Bytes>, uint8_t> cases[] = {
        {0, true, ChipFault::None, {{0x06}, {0x04}}, 0},
        {0, true, ChipFault::None, {{0x06, 0x00}}, 0},                         // a byte too many
        {0, true, ChipFault::None, {{0x02, 0, 0, 0, 0xF0}}, 0},                // no latch
        {0x04, true, ChipFault::None, {{0x06}, {0x02, 0, 0, 0, 0xF0}}, 0x04},  // protected
        {0x10, true, ChipFault::None, {{0x06}, {0x20, 0, 0, 0}}, 0x10},
        {0x9C, false, ChipFault::None, {{0x06}, {0x01, 0x00}}, 0x9C},  // latch used up
        {0x9C, true, ChipFault::None, {{0x06}, {0x01, 0x00}}, 0x00},
        {0x9C, true, ChipFault::WpHeldLow, {{0x06}, {0x01, 0x00}}, 0x9C},
        {0x1C, true, ChipFault::WpHeldLow, {{0x06}, {0x01, 0x00}}, 0x00},  // SRP clear
        {0x1C, true, ChipFault::IgnoresWriteStatus, {{0x06}, {0x01, 0x00}}, 0x1E},
    };
    for (const auto& [sr, wp, fault, frames, status] : cases) {
        SCOPED_TRACE(testing::PrintToString(frames) + " fault " + std::to_string(int(fault)));
        CFlashChip chip(Params(sr));
        chip.SetFault(fault);
        chip.SetPins(true, false, false, wp);
        chip.Memory()[0] = 0x0F;
        Frames(chip, frames);
        chip.AdvanceTime(1000000000);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], status);
        EXPECT_EQ(chip.Memory()[0], 0x0F);
    }
}

// A slow chip takes its set time for every page program, unit erase and status write.
TEST(FlashChip, SlowChipTakesItsSetTimeForEachCommand) {
    for (const Bytes& frame :
         {Bytes{0x02, 0, 0, 0, 0x5A}, Bytes{0x20, 0, 0x10, 0}, Bytes{0x01, 0}}) {
        SCOPED_TRACE(int(frame[0]));
        CFlashChip chip(Params(0));
        chip.SetFault(ChipFault::Slow, 300000000);
        Frames(chip, {{0x06}, frame});
        chip.AdvanceTime(299999999);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], 0x03);
        chip.AdvanceTime(1);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], 0x00);
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

// Opcode, address, erase unit, busy time in ms; chip erases (0xC7, 0x60) are the opcode alone,
// 0x21, 0x5C and 0xDC take four address bytes.
TEST(FlashChip, EraseSizesTimesAndBusyIgnoring) {
    const std::tuple<uint8_t, uint32_t, uint32_t, uint64_t> cases[] = {
        {0x20, 0x1234, 0x1000, 45},    {0x40, 0x3FFF, 0x2000, 52}, {0x52, 0x9000, 0x8000, 94},
        {0xD8, 0x1FFFF, 0x10000, 150}, {0xC7, 0, 0x20000, 125},    {0x60, 0, 0x20000, 125},
        {0x21, 0x1234, 0x1000, 45},    {0x5C, 0x9000, 0x8000, 94}, {0xDC, 0x1FFFF, 0x10000, 150}};
    for (const auto& [op, addr, unit, busy_ms] : cases) {
        SCOPED_TRACE(int(op));
        Bytes frame{op, uint8_t(addr >> 16), uint8_t(addr >> 8), uint8_t(addr)};
        if (op == 0x21 || op == 0x5C || op == 0xDC) frame.insert(frame.begin() + 1, 0);
        if (unit == 0x20000) frame.resize(1);
        FlashChipParams params = Params(0);
        params.four_byte = FourByte::Opcodes;
        CFlashChip chip(params);
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

// Where one programmed 0x00 byte lands on a 20 MiB part, by what the part knows of 4-byte
// addresses and the frames before the program; -1: nowhere. Three address bytes reach only
// the lowest 16 MiB.
TEST(FlashChip, FourByteAddresses) {
    const Bytes pp4 = {0x12, 0x01, 0x23, 0x45, 0x67, 0x00};
    const Bytes pp_long = {0x02, 0x01, 0x23, 0x45, 0x67, 0x00};
    const Bytes pp_short = {0x02, 0x01, 0x23, 0x45, 0x00};
    const std::tuple<FourByte, std::vector<Bytes>, long, bool> cases[] = {
        {FourByte::Opcodes, {{0x06}, pp4}, 0x1234567, false},
        {FourByte::Mode, {{0x06}, pp4}, -1, false},  // no 4-byte opcodes
        {FourByte::Opcodes, {{0x06}, pp_short}, 0x12345, false},
        {FourByte::Mode, {{0xB7}, {0x06}, pp_long}, 0x1234567, true},
        {FourByte::Mode, {{0xB7}, {0xE9}, {0x06}, pp_short}, 0x12345, false},
        // Entered only with the latch set; without, 0x67 is the first data byte.
        {FourByte::ModeNeedsWel, {{0xB7}, {0x06}, pp_long}, 0x12346, false},
        {FourByte::ModeNeedsWel, {{0x06}, {0xB7}, {0x06}, pp_long}, 0x1234567, true},
        {FourByte::None, {{0xB7}, {0x06}, pp_long}, 0x12346, false},
    };
    for (const auto& [four_byte, frames, at, mode] : cases) {
        SCOPED_TRACE(testing::PrintToString(frames));
        FlashChipParams params = Params(0);
        params.total_size = 0x1400000, params.four_byte = four_byte;
        CFlashChip chip(params);
        Frames(chip, frames);
        const auto zero = std::find(chip.Memory().begin(), chip.Memory().end(), 0);
        EXPECT_EQ(at, zero == chip.Memory().end() ? -1 : zero - chip.Memory().begin());
        EXPECT_EQ(mode, chip.FourByteMode());
    }
    // Reads: 0x13 anywhere; 0x03 in 4-byte mode; the chip's end wraps to its start.
    FlashChipParams params = Params(0);
    params.total_size = 0x1400000, params.four_byte = FourByte::Opcodes;
    CFlashChip chip(params);
    chip.Memory()[0x13FFFFF] = 1, chip.Memory()[0] = 2, chip.Memory()[0xFFFFFF] = 3;
    EXPECT_EQ(Frames(chip, {{0x13, 0x01, 0x3F, 0xFF, 0xFF, 0, 0}}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}));
    EXPECT_EQ(Frames(chip, {{0x03, 0xFF, 0xFF, 0xFF, 0}}), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 3}));
    EXPECT_EQ(Frames(chip, {{0xB7}, {0x03, 0x01, 0x3F, 0xFF, 0xFF, 0}}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1}));

    // A part that shows its 4-byte mode in status register 3 and leaves its extended address
    // register at 1 on leaving the mode: 3-byte addresses then reach the upper 16 MiB, until
    // the register is written 0 (with the latch set).
    params = Params(0);
    params.total_size = 0x2000000, params.four_byte = FourByte::ModeNeedsWel;
    params.ads_opcode = 0x15, params.ads_mask = 0x01, params.ear_opcode = 0xC5;
    CFlashChip ear(params);
    ear.Memory()[0x1000000] = 1, ear.Memory()[0] = 2;
    EXPECT_EQ(Frames(ear, {{0x15, 0}}), Bytes({0xFF, 0x00}));
    EXPECT_EQ(Frames(ear, {{0x06}, {0xB7}, {0x15, 0}}), Bytes({0xFF, 0x01}));
    EXPECT_EQ(Frames(ear, {{0x06}, {0xE9}, {0x03, 0, 0, 0, 0}}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 1}));
    EXPECT_EQ(Frames(ear, {{0xC5, 0}, {0x03, 0, 0, 0, 0}}), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 1}));
    EXPECT_EQ(Frames(ear, {{0x06}, {0xC5, 0}, {0x03, 0, 0, 0, 0}}),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 2}));
}

// Parts as their records describe them: chip erase opcodes, blocks locked until 0x98, a
// 512-byte page, BP3 in bit 5, die erase, a flag status register that must be read ready after
// each program or erase. The frames, then a status read a second later and the first bytes.
TEST(FlashChip, RecordDescribedParts) {
    auto no_c7 = [](FlashChipParams& p) { p.erases_c7 = false; };
    auto none = [](FlashChipParams& p) { p.erases_c7 = p.erases_60 = false; };
    auto locked = [](FlashChipParams& p) { p.global_lock = true; };
    auto page512 = [](FlashChipParams& p) { p.page_size = 512; };
    auto bp3 = [](FlashChipParams& p) { p.protect_mask = 0x3C, p.status = 0x20; };
    auto dies = [](FlashChipParams& p) {
        p.erases_c7 = p.erases_60 = false, p.die_erase = 0xC4, p.die_size = 0x10000;
    };
    auto fsr = [](FlashChipParams& p) { p.flag_status = true; };
    const Bytes pp0 = {0x02, 0, 0, 0, 0x05}, pp1 = {0x02, 0, 0, 1, 0x06};
    const std::tuple<void (*)(FlashChipParams&), std::vector<Bytes>, uint8_t, Bytes> cases[] = {
        {no_c7, {{0x06}, {0xC7}}, 0x02, {0x0F}},  // ignored: the latch stays
        {no_c7, {{0x06}, {0x60}}, 0x00, {0xFF}},
        {none, {{0x06}, {0x60}}, 0x02, {0x0F}},
        {locked, {{0x06}, {0x02, 0, 0, 0, 0x05}}, 0x00, {0x0F}},
        {locked, {{0x06}, {0x98}, {0x06}, {0x02, 0, 0, 0, 0x05}}, 0x00, {0x05}},
        {locked, {{0x98}, {0x06}, {0x02, 0, 0, 0, 0x05}}, 0x00, {0x0F}},  // 0x98 needs the latch
        {page512, {{0x06}, {0x02, 0, 0x01, 0xFF, 1, 6}}, 0x00, {0x06}},   // 0x200 wraps to 0
        {bp3, {{0x06}, pp0}, 0x20, {0x0F}},
        {dies, {{0x06}, {0xC7}, {}, {0x06}, {0xC4, 0x01, 0x00, 0x00}}, 0x00, {0x0F, 0xFF}},
        {dies, {{0x06}, {0xC4, 0x00, 0x80, 0x00}}, 0x00, {0xFF, 0xFF}},
        {fsr, {{0x06}, pp0, {}, {0x06}, pp1}, 0x00, {0x05, 0xFF}},  // no flag status read
        {fsr, {{0x06}, pp0, {0x70, 0}, {}, {0x06}, pp1}, 0x00, {0x05, 0xFF}},  // read busy
        {fsr, {{0x06}, pp0, {}, {0x70, 0}, {0x06}, pp1}, 0x00, {0x05, 0x06}},
    };
    for (const auto& [arrange, frames, status, first] : cases) {
        SCOPED_TRACE(testing::PrintToString(frames));
        FlashChipParams params = Params(0);
        arrange(params);
        CFlashChip chip(params);
        chip.Memory()[0] = 0x0F;
        chip.Memory()[1] = 0xFF;
        Frames(chip, frames);
        chip.AdvanceTime(1000000000);
        EXPECT_EQ(Frames(chip, {{0x05, 0}})[1], status);
        const auto from = chip.Memory().begin();
        EXPECT_EQ(Bytes(from, from + static_cast<long>(first.size())), first);
    }
    FlashChipParams params = Params(0);
    params.global_lock = true;
    CFlashChip chip(params);
    EXPECT_EQ(Frames(chip, {{0x72, 0, 0}}), Bytes({0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Frames(chip, {{0x06}, {0x98}, {0x72, 0, 0}}), Bytes({0xFF, 0, 0}));

    // Only bit 0 set: the last of the register's three bytes reads 1, and only the block at
    // 0x10000 ignores programs and erases, until 0x98.
    CFlashChip one(params);
    one.SetFault(ChipFault::OneBlockLocked);
    EXPECT_EQ(Frames(one, {{0x72, 0, 0, 0}}), Bytes({0xFF, 0, 0, 0x01}));
    Frames(one, {{0x06}, {0x02, 1, 0, 0, 0x05}, {0x06}, {0x02, 0, 0, 0, 0x05}});
    one.AdvanceTime(1000000000);
    EXPECT_EQ(one.Memory()[0x10000], 0xFF);
    EXPECT_EQ(one.Memory()[0], 0x05);
    Frames(one, {{0x06}, {0x98}, {0x06}, {0x02, 1, 0, 0, 0x05}});
    EXPECT_EQ(one.Memory()[0x10000], 0x05);
}
