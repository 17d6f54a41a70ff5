// Erase, write and verify end to end: whole outputs, and the image afterwards.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

uint32_t EraseUnit(const ChipText& c) {
    return c.maker == "Winbond" ? c.block : c.sector;
}

std::string UnitLabel(const ChipText& c) {
    return c.erase_opcode == 0x52 ? "Block" : "Sector";
}

// What Save_Head_Tail and the two restores print for the range [s, e).
struct HeadTail {
    std::string save, head_restore, tail_restore;
};

HeadTail HeadTailText(const ChipText& c, uint32_t s, uint32_t e) {
    const uint32_t es = EraseUnit(c);
    HeadTail t;
    const uint32_t head_addr = s / es * es, head_len = s - head_addr;
    const uint32_t tail_len = e % es ? es - e % es : 0;
    if (head_len) {
        t.save += Fmt("\nRead data Head:\tS%u\tOK", s / es);
        t.head_restore =
            Progress("Restore data Head:\t0x%08X (%u%%)\r", head_addr, head_len, c.page, true) +
            "\n";
    }
    if (tail_len) {
        t.save += Fmt("\nRead data Tail:\tS%u\tOK", e / es);
        t.tail_restore =
            Progress("Restore Sector Tail:\t0x%08X (%u%%)\r", e, tail_len, c.page, true);
    }
    return t;
}

// -e -w -v FILE -ab=S for a file of `size` bytes on a chip whose image holds data. On a
// terminal a newline ends a line before a progress line of another kind would overwrite it.
std::string ProgramSequenceText(const ChipText& c, uint32_t s, uint32_t size,
                                bool terminal = false) {
    const uint32_t es = EraseUnit(c), e = s + size;
    const std::string unit = UnitLabel(c);
    const HeadTail ht = HeadTailText(c, s, e);
    const std::string head_end = terminal && !ht.head_restore.empty() ? "\n" : "";
    const std::string tail_end = terminal && !ht.tail_restore.empty() ? "\n" : "";
    std::string out = "\n\nStatus:\t\t0x02h\tWE enabled";
    out += Fmt("\nFile: \"data.bin\"\tsize: 0x%X Bytes, Occupy %ss: %u", size, unit.c_str(),
               (e - 1) / es - s / es + 1);
    out += ht.save + "\n";
    for (uint32_t i = s / es; i <= (e - 1) / es; ++i)
        out += Fmt("\rErase %s:\t%u->%u\tOK", unit.c_str(), s / es, i);
    out += "\nErase done" + (head_end.empty() ? tail_end : head_end) + ht.head_restore;
    out += ht.tail_restore + ht.save + head_end + ht.head_restore;
    out += Fmt("\nFile: \"data.bin\"\tsize: 0x%X Bytes", size);
    out += Fmt("\nRequire %s:\t\t%u x %u Bytes\n", unit.c_str(), size / es + 1, es);
    out += Progress("Write data:\t\t0x%08X (%u%%)\r", s, size, c.page, true);
    out += tail_end + ht.tail_restore + "\nFile recorded.\n";
    out += "\n" + Progress("Verify data:\t\t0x%08X (%u%%)\r", s, size, c.page, false);
    return out + "\nVerify OK\n\n";
}

class Program : public ::testing::TestWithParam<Cable> {
protected:
    // Fills the chip with a pattern, programs `size` bytes at `s` and checks both the
    // whole output and every byte of the image.
    void RunSequence(const ChipText& chip, uint32_t s, uint32_t size) {
        std::vector<uint8_t> image = Pattern(chip.total, 1);
        const std::vector<uint8_t> data = Pattern(size, 2);
        dir.Configure(GetParam(), Played(chip), PlayLines(chip));
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", data);
        RunResult r = dir.Run({"-e", "-w", "-v", "data.bin", Fmt("-ab=0x%X", s)});
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), chip) + ProgramSequenceText(chip, s, size));
        EXPECT_EQ(r.status, 1);
        std::copy(data.begin(), data.end(), image.begin() + s);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == image) << "bytes outside the range changed";
    }

    TargetDir dir;
};

TEST_P(Program, SequenceKeepsHeadAndTailOfWinbondBlocks) {
    RunSequence(kW25X10, 0x1100, 0x2000);
}

TEST_P(Program, SequenceKeepsHeadAndTailOfMacronixSectors) {
    RunSequence(kMX25L1005, 0x10F10, 0x2345);
}

TEST_P(Program, SequenceOnLargeSectorsReadsTailsInSeveralFrames) {
    // 256 KiB units: the tail is larger than one transfer buffer.
    RunSequence(kS25FL128S1, 0x41000, 0x1000);
}

// "Erase done", the last "Read data" line and the last write progress line stay readable.
TEST_P(Program, SequenceOnATerminalKeepsEveryLine) {
    std::vector<uint8_t> image = Pattern(kW25X10.total, 1);
    const std::vector<uint8_t> data = Pattern(0x2000, 2);
    dir.Configure(GetParam(), kW25X10.name);
    dir.WriteBytes("flash.bin", image);
    dir.WriteBytes("data.bin", data);
    RunResult r = dir.RunOnTerminal({"-e", "-w", "-v", "data.bin", "-ab=0x1100"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         ProgramSequenceText(kW25X10, 0x1100, 0x2000, true));
    EXPECT_EQ(r.status, 1);
    std::copy(data.begin(), data.end(), image.begin() + 0x1100);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
}

// Files across the 16 MiB line: in 4-byte mode (0xB7/0xE9) with 4 KiB units, and with
// 4-byte opcodes and 64 KiB units whose head and tail lie on either side of the line.
TEST_P(Program, SequenceAcrossSixteenMiB) {
    RunSequence(kW25Q256, 0xFFF800, 0x1800);
    RunSequence(kGD25Q256, 0xFF8100, 0x10000);
}

// A range erase whose first unit ends at 16 MiB and whose last starts there.
TEST_P(Program, RangeEraseAcrossSixteenMiB) {
    std::vector<uint8_t> image = Pattern(kGD25Q256.total, 8);
    dir.Configure(GetParam(), "GD25Q256");
    dir.WriteBytes("flash.bin", image);
    RunResult r = dir.Run({"-e", "-ab=0xFF8000", "-al=0x1007FFF"});
    const HeadTail ht = HeadTailText(kGD25Q256, 0xFF8000, 0x1008000);
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kGD25Q256) + "\n\nStatus:\t\t0x02h\tWE enabled" +
                         ht.save + "\n\rErase Sector:\t255->255\tOK\rErase Sector:\t255->256\tOK" +
                         "\nErase done" + ht.head_restore + ht.tail_restore + "\n");
    EXPECT_EQ(r.status, 1);
    std::fill(image.begin() + 0xFF8000, image.begin() + 0x1008000, 0xFF);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
}

// Without 0xC7 the chip is erased with the record's opcode, or unit by unit.
TEST_P(Program, ChipEraseByTheRecordsCommand) {
    for (const ChipText* chip : {&kM45PE10, &kMX25V1635F}) {
        dir.Configure(GetParam(), chip->name);
        dir.WriteBytes("flash.bin", Pattern(chip->total, 3));
        RunResult r = dir.Run({"-e"});
        const std::string units =
            chip == &kM45PE10 ? "\n\rErase Sector:\t0->0\tOK\rErase Sector:\t0->1\tOK" : "";
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), *chip) +
                             "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait..." +
                             units + "\nErase done\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == std::vector<uint8_t>(chip->total, 0xFF));
    }
}

// Chips in no record run on the geometry their SFDP tables give: 64 KiB units on a 1 MiB
// Winbond part; on a 32 MiB part of a maker outside the table, the record's unit= and 4-byte
// opcodes, with a file across 16 MiB. Dumps across a unit boundary and of the last 64 KiB
// match the image.
TEST_P(Program, SequenceAndDumpOnChipsKnownOnlyByTheirSfdpTables) {
    const std::tuple<const ChipText*, uint32_t, uint32_t, uint32_t> cases[] = {
        {&kSfdpEF4099, 0x1F0F0, 0x10234, 0xFF80},
        {&kSfdpC84099, 0xFF8100, 0x10000, 0x1FF0000},
    };
    for (const auto& [chip, s, size, dump_at] : cases) {
        RunSequence(*chip, s, size);
        const std::vector<uint8_t> image = dir.ReadBytes("flash.bin");
        const uint32_t n = std::min(0x10000u, chip->total - dump_at);
        RunResult r =
            dir.Run({"-d", "part.bin", Fmt("-ab=0x%X", dump_at), Fmt("-al=0x%X", dump_at + n - 1)});
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), *chip) + "\n" +
                             Progress("Reading dump:\t\t0x%08X (%u%%)\r", dump_at, n, 256, false) +
                             "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(dir.ReadBytes("part.bin") ==
                    std::vector<uint8_t>(image.begin() + dump_at, image.begin() + dump_at + n));
    }
}

TEST_P(Program, ChipEraseAndRangeErase) {
    dir.Configure(GetParam(), "W25X10");
    dir.WriteBytes("flash.bin", Pattern(0x20000, 3));
    RunResult r = dir.Run({"-e"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait..."
                         "\nErase done\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.ReadBytes("flash.bin"), std::vector<uint8_t>(0x20000, 0xFF));

    std::vector<uint8_t> image = Pattern(0x20000, 4);
    dir.WriteBytes("flash.bin", image);
    r = dir.Run({"-e", "-ab=0x1800", "-al=0x27FF"});
    const HeadTail ht = HeadTailText(kW25X10, 0x1800, 0x2800);
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) + "\n\nStatus:\t\t0x02h\tWE enabled" +
                         ht.save + "\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK" +
                         "\nErase done" + ht.head_restore + ht.tail_restore + "\n");
    std::fill(image.begin() + 0x1800, image.begin() + 0x2800, 0xFF);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
}

TEST_P(Program, WriteAloneOverErasedFlash) {
    dir.Configure(GetParam(), "W25X10");
    const std::vector<uint8_t> data = Pattern(0x180, 5);
    dir.WriteBytes("data.bin", data);
    RunResult r = dir.Run({"-w", "data.bin", "-ab=0x200"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\n\nRead data Head:\tS0\tOK Head empty"
                         "\nRead data Tail:\tS0\tOK Tail empty"
                         "\nFile: \"data.bin\"\tsize: 0x180 Bytes"
                         "\nRequire Sector:\t\t1 x 4096 Bytes\n"
                         "Write data:\t\t0x00000300 (66%)\rWrite data:\t\t0x00000380 (100%)\r"
                         "\nFile recorded.\n\n");
    EXPECT_EQ(r.status, 1);
    std::vector<uint8_t> image(0x20000, 0xFF);
    std::copy(data.begin(), data.end(), image.begin() + 0x200);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
}

TEST_P(Program, VerifyCountsDifferingBytes) {
    dir.Configure(GetParam(), "W25X10");
    std::vector<uint8_t> image = Pattern(0x20000, 6);
    dir.WriteBytes("flash.bin", image);
    std::vector<uint8_t> file(image.begin() + 0x1000, image.begin() + 0x1300);
    file[0x100] ^= 1;
    file[0x180] ^= 0x80;
    file[0x1FF] ^= 0xFF;
    dir.WriteBytes("data.bin", file);
    RunResult r = dir.Run({"-v", "data.bin", "-ab=0x1000"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\n\nFile: \"data.bin\"\tsize: 0x300 Bytes"
                         "\nVerify Sectors:\t\t1 x 4096 Bytes\n"
                         "Verify data:\t\t0x00001100 (33%)\r"
                         "Verify data:\t\t0x00001200 (66%) Errors: 3\r"
                         "Verify data:\t\t0x00001300 (100%) Errors: 3\r"
                         "\nVerify Error!\n");
    EXPECT_EQ(r.status, 255);
}

// Block protection makes the chip ignore erase and program commands: each step that would
// send one is refused before it does, and says how to clear the bits.
TEST_P(Program, ProtectedChipIsRefusedBeforeAnyEraseOrProgramFrame) {
    const std::vector<uint8_t> image = Pattern(0x20000, 8);
    dir.WriteBytes("data.bin", Pattern(0x100, 9));
    const std::string erase =
        "\nError: status register 0x9E: block protection bits 0x1C set, erase refused; -u clears "
        "them\n";
    const std::string write =
        "\nError: status register 0x9C: block protection bits 0x1C set, write refused; -u clears "
        "them\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-e"}, erase},
        {{"-e", "-ab=0x1000", "-al=0x1FFF"}, erase},
        {{"-w", "data.bin", "-ab=0x1000"}, write},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1000"}, erase},
    };
    for (const auto& [args, refusal] : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        dir.Configure(GetParam(), "W25X10", "emulate_status=0x9C\nemulate_stats=stats.json\n");
        dir.WriteBytes("flash.bin", image);
        std::remove(dir.Path("stats.json").c_str());
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) + "\n" + refusal + "\n");
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
        const std::vector<uint8_t> stats = dir.ReadBytes("stats.json");
        const std::string commands(stats.begin(), stats.end());
        for (const char* op : {"\"0x02\"", "\"0x20\"", "\"0xD8\"", "\"0xC7\""})
            EXPECT_EQ(commands.find(op), std::string::npos) << op << " sent";
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, Program, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
