// Erase, write, verify, dump, memory display and unlock end to end: whole outputs against
// literal text, and every byte of the image afterwards against the image before with the
// range replaced.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Slice(const Bytes& b, uint32_t first, uint32_t len) {
    return Bytes(b.begin() + first, b.begin() + first + len);
}

// `image` with `data` in place from `at`.
Bytes Put(Bytes image, uint32_t at, const Bytes& data) {
    std::copy(data.begin(), data.end(), image.begin() + at);
    return image;
}

// `image` erased from `first` up to `end`.
Bytes Erased(Bytes image, uint32_t first, uint32_t end) {
    std::fill(image.begin() + first, image.begin() + end, 0xFF);
    return image;
}

class Program : public ::testing::TestWithParam<Cable> {
protected:
    TargetDir dir;
};

// Representative runs, each against its file in tests/e2e/expected (NAME.lpt.txt and
// NAME.usb.txt, laid out by hand from the rules). A slow chip (every program, erase and status
// write busy for 300 ms: many poll pauses, far from a time-out) prints the same.
TEST_P(Program, RunsPrintTheirLiteralText) {
    struct Run {
        const char* name;
        const char* chip;
        std::string extra;  // config.cfg lines
        std::vector<std::string> args;
        uint32_t seed;  // the image before: Pattern(chip size, seed); 0: a new, erased one
        std::function<Bytes(const Bytes& image)> data;  // data.bin; null: none
        // The image afterwards from the image before and the data; null: as before.
        std::function<Bytes(const Bytes& image, const Bytes& data)> after;
        int status;
        bool terminal = false;
        uint32_t dump_first = 0, dump_len = 0;  // part.bin holds these image bytes
    };
    const auto data = [](uint32_t n, uint32_t seed) {
        return [=](const Bytes&) { return Pattern(n, seed); };
    };
    const auto program = [](const Bytes& image, const Bytes& d) { return Put(image, 0x1040, d); };
    const std::vector<std::string> sequence = {"-e", "-w", "-v", "data.bin", "-ab=0x1040"};
    const std::string slow = "emulate_fault=slow:300\n";
    const Run runs[] = {
        {"info_winbond", "W25X10", "emulate_status=0x88\n", {"-i"}, 0, nullptr, nullptr, 1},
        {"info_spansion", "S25FL004A", "emulate_status=0x14\n", {"-i"}, 0, nullptr, nullptr, 1},
        // Head and tail of 0x40 bytes in units 1 and 2, pages written from mid-page.
        {"program", "W25X10", "", sequence, 1, data(0x1F80, 2), program, 1},
        {"program", "W25X10", slow, sequence, 1, data(0x1F80, 2), program, 1},
        // On a terminal no line is overwritten by a line of another kind.
        {"program_tty", "W25X10", "", sequence, 1, data(0x1F80, 2), program, 1, true},
        {"erase_range",
         "W25X10",
         "",
         {"-e", "-ab=0x1800", "-al=0x27FF"},
         4,
         nullptr,
         [](const Bytes& image, const Bytes&) { return Erased(image, 0x1800, 0x2800); },
         1},
        {"erase_range",
         "W25X10",
         slow,
         {"-e", "-ab=0x1800", "-al=0x27FF"},
         4,
         nullptr,
         [](const Bytes& image, const Bytes&) { return Erased(image, 0x1800, 0x2800); },
         1},
        {"write",
         "W25X10",
         "",
         {"-w", "data.bin", "-ab=0x200"},
         0,
         data(0x180, 5),
         [](const Bytes& image, const Bytes& d) { return Put(image, 0x200, d); },
         1},
        // Three bytes differ in the second page of three.
        {"verify_errors",
         "W25X10",
         "",
         {"-v", "data.bin", "-ab=0x1000"},
         6,
         [](const Bytes& image) {
             Bytes d = Slice(image, 0x1000, 0x300);
             d[0x100] ^= 1, d[0x180] ^= 0x80, d[0x1FF] ^= 0xFF;
             return d;
         },
         nullptr,
         255},
        {"dump",
         "W25X10",
         "",
         {"-d", "part.bin", "-ab=0x1F80", "-al=0x20FF"},
         11,
         nullptr,
         nullptr,
         1,
         false,
         0x1F80,
         0x180},
        {"show", "W25X10", "", {"-s", "-ab=0x1005", "-al=0x1027"}, 11, nullptr, nullptr, 1},
        {"unlock", "W25X10", "emulate_status=0x9C\n", {"-u"}, 0, nullptr, nullptr, 1},
        {"unlock", "W25X10", "emulate_status=0x9C\n" + slow, {"-u"}, 0, nullptr, nullptr, 1},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(std::string(run.name) + " " + run.extra);
        TargetDir fresh;
        const uint32_t size = std::string(run.chip) == "W25X10" ? 0x20000 : 0x80000;
        const Bytes image = run.seed ? Pattern(size, run.seed) : Bytes(size, 0xFF);
        if (run.seed) fresh.WriteBytes("flash.bin", image);
        const Bytes d = run.data ? run.data(image) : Bytes();
        if (run.data) fresh.WriteBytes("data.bin", d);
        fresh.Configure(GetParam(), run.chip, run.extra);
        RunResult r = run.terminal ? fresh.RunOnTerminal(run.args) : fresh.Run(run.args);
        EXPECT_EQ(r.out, ExpectedFile(std::string(run.name) + "." + CableName(GetParam()), r.out));
        EXPECT_EQ(r.status, run.status);
        const Bytes after = fresh.ReadBytes("flash.bin");
        EXPECT_TRUE(after == (run.after ? run.after(image, d) : image));
        if (run.dump_len) {
            EXPECT_TRUE(fresh.ReadBytes("part.bin") == Slice(image, run.dump_first, run.dump_len));
        }
    }
}

// Ranges that start and end exactly on unit and page boundaries, the chip's last unit and
// last byte, one byte (-ab= equal to -al=), -al= at the chip's size (cut to its last byte),
// and -al= without -ab=: erase, program, dump and verify take exactly the bytes named, and
// every other byte of the image stays.
TEST_P(Program, RangesThatEndOnAnEdge) {
    const Bytes image = Pattern(0x20000, 31);
    struct Case {
        std::vector<std::string> args;
        std::function<Bytes()> data;               // data.bin; null: none
        std::function<Bytes(const Bytes&)> after;  // image after, from data.bin; null: as before
        uint32_t dump_first, dump_len;             // d.bin holds these image bytes
        int status;
        std::string out;  // what follows the preamble, squeezed
    };
    const auto file = [](uint32_t n) { return [=] { return Pattern(n, 32); }; };
    const auto from_image = [&](uint32_t first, uint32_t n, uint32_t flip) {
        return [=] {
            Bytes d = Slice(image, first, n);
            if (flip < n) d[flip] ^= 0x80;
            return d;
        };
    };
    const auto erased = [&](uint32_t first, uint32_t end) {
        return [=](const Bytes&) { return Erased(image, first, end); };
    };
    const auto put = [&](uint32_t at, uint32_t n) {
        return [=](const Bytes& d) { return Put(image, at, Slice(d, 0, n)); };
    };
    const std::string status = "\n\nStatus:\t\t0x02h\tWE enabled";
    const std::string ok = "\nVerify OK\n\n";
    const std::string head1 =
        "Restore data Head:\t0x00001100 (45%)\r...\r"
        "Restore data Head:\t0x00001234 (100%)\r";
    const std::string tail1 =
        "Restore Sector Tail:\t0x00001300 (5%)\r...\r"
        "Restore Sector Tail:\t0x00002000 (100%)\r";
    const std::string head31 =
        "Restore data Head:\t0x0001F100 (6%)\r...\r"
        "Restore data Head:\t0x0001FF00 (100%)\r";
    const std::string tail0 =
        "Restore Sector Tail:\t0x00000300 (7%)\r...\r"
        "Restore Sector Tail:\t0x00001000 (100%)\r";
    const std::string tail3 =
        "Restore Sector Tail:\t0x00000400 (7%)\r...\r"
        "Restore Sector Tail:\t0x00001000 (100%)\r";
    const Case cases[] = {
        // Range erases.
        {{"-e", "-ab=0x1000", "-al=0x2FFF"},
         nullptr,
         erased(0x1000, 0x3000),
         0,
         0,
         1,
         status + "\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK\nErase done\n"},
        {{"-e", "-ab=0x1F000", "-al=0x1FFFF"},
         nullptr,
         erased(0x1F000, 0x20000),
         0,
         0,
         1,
         status + "\n\rErase Sector:\t31->31\tOK\nErase done\n"},
        {{"-e", "-ab=0x1F080", "-al=0x1FFFF"},
         nullptr,
         erased(0x1F080, 0x20000),
         0,
         0,
         1,
         status + "\nRead data Head:\tS31\tOK\n\rErase Sector:\t31->31\tOK\nErase done" +
             "Restore data Head:\t0x0001F080 (100%)\r\n\n"},
        {{"-e", "-ab=0x1234", "-al=0x1234"},
         nullptr,
         erased(0x1234, 0x1235),
         0,
         0,
         1,
         status + "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
             "\nErase done" + head1 + "\n" + tail1 + "\n"},
        {{"-e", "-ab=0x1F800", "-al=0x20000"},
         nullptr,
         erased(0x1F800, 0x20000),
         0,
         0,
         1,
         status + "\nRead data Head:\tS31\tOK\n\rErase Sector:\t31->31\tOK\nErase done" +
             "Restore data Head:\t0x0001F100 (12%)\r...\rRestore data Head:\t0x0001F800 (100%)" +
             "\r\n\n"},
        {{"-e", "-al=0xFFF"},
         nullptr,
         erased(0, 0x1000),
         0,
         0,
         1,
         status + "\n\rErase Sector:\t0->0\tOK\nErase done\n"},
        {{"-e", "-ab=0x1100", "-al=0x12FF"},
         nullptr,
         erased(0x1100, 0x1300),
         0,
         0,
         1,
         status + "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
             "\nErase doneRestore data Head:\t0x00001100 (100%)\r\nRestore Sector Tail:\t" +
             "0x00001400 (7%)\r...\rRestore Sector Tail:\t0x00002000 (100%)\r\n"},
        // Program sequences.
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1000"},
         file(0x2000),
         put(0x1000, 0x2000),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x2000 Bytes, Occupy Sectors: 2" +
             "\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK\nErase done" +
             "\nFile: \"data.bin\"\tsize: 0x2000 Bytes\nRequire Sector:\t\t3 x 4096 Bytes\n" +
             "Write data:\t\t0x00001100 (3%)\r...\rWrite data:\t\t0x00003000 (100%)\r" +
             "\nFile recorded.\n\nVerify data:\t\t0x00001100 (3%)\r...\r" +
             "Verify data:\t\t0x00003000 (100%)\r" + ok},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1F000"},
         file(0x1000),
         put(0x1F000, 0x1000),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x1000 Bytes, Occupy Sectors: 1" +
             "\n\rErase Sector:\t31->31\tOK\nErase done" +
             "\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nRequire Sector:\t\t2 x 4096 Bytes\n" +
             "Write data:\t\t0x0001F100 (6%)\r...\rWrite data:\t\t0x00020000 (100%)\r" +
             "\nFile recorded.\n\nVerify data:\t\t0x0001F100 (6%)\r...\r" +
             "Verify data:\t\t0x00020000 (100%)\r" + ok},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1F080"},
         file(0xF80),
         put(0x1F080, 0xF80),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0xF80 Bytes, Occupy Sectors: 1" +
             "\nRead data Head:\tS31\tOK\n\rErase Sector:\t31->31\tOK\nErase done" +
             "Restore data Head:\t0x0001F080 (100%)\r\n\nRead data Head:\tS31\tOK" +
             "Restore data Head:\t0x0001F080 (100%)\r\n" +
             "\nFile: \"data.bin\"\tsize: 0xF80 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
             "Write data:\t\t0x0001F100 (3%)\r...\rWrite data:\t\t0x00020000 (100%)\r" +
             "\nFile recorded.\n\nVerify data:\t\t0x0001F180 (6%)\r...\r" +
             "Verify data:\t\t0x00020000 (100%)\r" + ok},
        // A one-byte range takes one byte of a longer file.
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1234", "-al=0x1234"},
         file(0x10),
         put(0x1234, 1),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x10 Bytes, Occupy Sectors: 1" +
             "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
             "\nErase done" + head1 + "\n" + tail1 + "\nRead data Head:\tS1\tOK" +
             "\nRead data Tail:\tS1\tOK" + head1 + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x10 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
             "Write data:\t\t0x00001235 (100%)\r" + tail1 +
             "\nFile recorded.\n\nVerify data:\t\t0x00001235 (100%)\r" + ok},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1FF00", "-al=0x20000"},
         file(0x100),
         put(0x1FF00, 0x100),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x100 Bytes, Occupy Sectors: 1" +
             "\nRead data Head:\tS31\tOK\n\rErase Sector:\t31->31\tOK\nErase done" + head31 +
             "\n\nRead data Head:\tS31\tOK" + head31 + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x100 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
             "Write data:\t\t0x00020000 (100%)\r" +
             "\nFile recorded.\n\nVerify data:\t\t0x00020000 (100%)\r" + ok},
        // -al= alone: the range, not the file, decides how many bytes.
        {{"-e", "-w", "-v", "data.bin", "-al=0x1FF"},
         file(0x300),
         put(0, 0x200),
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x300 Bytes, Occupy Sectors: 1" +
             "\nRead data Tail:\tS0\tOK\n\rErase Sector:\t0->0\tOK\nErase done" + tail0 +
             "\nRead data Tail:\tS0\tOK" +
             "\nFile: \"data.bin\"\tsize: 0x300 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
             "Write data:\t\t0x00000100 (50%)\rWrite data:\t\t0x00000200 (100%)\r" + tail0 +
             "\nFile recorded.\n\nVerify data:\t\t0x00000100 (50%)\r" +
             "Verify data:\t\t0x00000200 (100%)\r" + ok},
        // ... and a shorter file is written whole, the rest of the range stays erased.
        {{"-e", "-w", "data.bin", "-al=0x2FF"},
         file(0x100),
         [&](const Bytes& d) { return Put(Erased(image, 0, 0x300), 0, d); },
         0,
         0,
         1,
         status + "\nFile: \"data.bin\"\tsize: 0x100 Bytes, Occupy Sectors: 1" +
             "\nRead data Tail:\tS0\tOK\n\rErase Sector:\t0->0\tOK\nErase done" + tail3 +
             "\nRead data Tail:\tS0\tOK" +
             "\nFile: \"data.bin\"\tsize: 0x100 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
             "Write data:\t\t0x00000100 (100%)\r" + tail3 + "\nFile recorded.\n\n"},
        // Dumps.
        {{"-d", "d.bin"},
         nullptr,
         nullptr,
         0,
         0x20000,
         1,
         "\nReading dump:\t\t0x00000100 (0%)\r...\rReading dump:\t\t0x00020000 (100%)\r\n"},
        {{"-d", "d.bin", "-al=0xFFF"},
         nullptr,
         nullptr,
         0,
         0x1000,
         1,
         "\nReading dump:\t\t0x00000100 (6%)\r...\rReading dump:\t\t0x00001000 (100%)\r\n"},
        {{"-d", "d.bin", "-ab=0x1F000", "-al=0x1FFFF"},
         nullptr,
         nullptr,
         0x1F000,
         0x1000,
         1,
         "\nReading dump:\t\t0x0001F100 (6%)\r...\rReading dump:\t\t0x00020000 (100%)\r\n"},
        {{"-d", "d.bin", "-ab=0x1234", "-al=0x1234"},
         nullptr,
         nullptr,
         0x1234,
         1,
         1,
         "\nReading dump:\t\t0x00001235 (100%)\r\n"},
        {{"-d", "d.bin", "-ab=0x1FF00", "-al=0x20000"},
         nullptr,
         nullptr,
         0x1FF00,
         0x100,
         1,
         "\nReading dump:\t\t0x00020000 (100%)\r\n"},
        {{"-d", "d.bin", "-ab=0x1FFFF"},
         nullptr,
         nullptr,
         0x1FFFF,
         1,
         1,
         "\nReading dump:\t\t0x00020000 (100%)\r\n"},
        {{"-d", "d.bin", "-ab=0x100", "-al=0x2FF"},
         nullptr,
         nullptr,
         0x100,
         0x200,
         1,
         "\nReading dump:\t\t0x00000200 (50%)\rReading dump:\t\t0x00000300 (100%)\r\n"},
        // Verifies: a difference just past the range passes, one on its last byte does not.
        {{"-v", "data.bin", "-al=0x1FF"},
         from_image(0, 0x300, 0x200),
         nullptr,
         0,
         0,
         1,
         "\n\nFile: \"data.bin\"\tsize: 0x300 Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n"
         "Verify data:\t\t0x00000100 (50%)\rVerify data:\t\t0x00000200 (100%)\r" +
             ok},
        {{"-v", "data.bin", "-al=0x1FF"},
         from_image(0, 0x300, 0x1FF),
         nullptr,
         0,
         0,
         255,
         "\n\nFile: \"data.bin\"\tsize: 0x300 Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n"
         "Verify data:\t\t0x00000100 (50%)\rVerify data:\t\t0x00000200 (100%) Errors: 1\r"
         "\nVerify Error!\n"},
        {{"-v", "data.bin", "-ab=0x1FFFF", "-al=0x1FFFF"},
         [&] {
             return Bytes{image[0x1FFFF], static_cast<uint8_t>(~image[0x1FFFF])};
         },
         nullptr,
         0,
         0,
         1,
         "\n\nFile: \"data.bin\"\tsize: 0x2 Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n"
         "Verify data:\t\t0x00020000 (100%)\r" +
             ok},
        {{"-v", "data.bin", "-ab=0x1F000", "-al=0x20000"},
         from_image(0x1F000, 0x1000, 0x1000),
         nullptr,
         0,
         0,
         1,
         "\n\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n"
         "Verify data:\t\t0x0001F100 (6%)\r...\rVerify data:\t\t0x00020000 (100%)\r" +
             ok},
        {{"-v", "data.bin", "-ab=0x1F000"},
         from_image(0x1F000, 0x1000, 0xFFF),
         nullptr,
         0,
         0,
         255,
         "\n\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n"
         "Verify data:\t\t0x0001F100 (6%)\r...\rVerify data:\t\t0x00020000 (100%) Errors: 1\r"
         "\nVerify Error!\n"},
    };
    dir.Configure(GetParam(), "W25X10");
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        dir.WriteBytes("flash.bin", image);
        std::remove(dir.Path("d.bin").c_str());
        const Bytes d = c.data ? c.data() : Bytes();
        if (c.data) dir.WriteBytes("data.bin", d);
        RunResult r = dir.Run(c.args);
        EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), kW25X10) + c.out));
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == (c.after ? c.after(d) : image));
        if (c.dump_len) {
            EXPECT_TRUE(dir.ReadBytes("d.bin") == Slice(image, c.dump_first, c.dump_len));
        }
    }
}

// Heads and tails that are all 0xFF but for their first or last byte (a checksum at the end
// of a unit), and a head and a tail in the same unit, survive a range erase and a program
// sequence.
TEST_P(Program, HeadsAndTailsThatAreAlmostErased) {
    const std::tuple<uint32_t, uint32_t, std::vector<std::pair<uint32_t, uint8_t>>> cases[] = {
        {0x1100, 0x2000, {{0x1000, 0x00}}},
        {0x1100, 0x2000, {{0x10FF, 0x5A}}},
        {0x1000, 0x1F00, {{0x1F00, 0x00}}},
        {0x1000, 0x1F00, {{0x1FFF, 0xA5}}},
        {0x1100, 0x1F00, {{0x1000, 0x11}, {0x1FFF, 0x22}}},
    };
    dir.Configure(GetParam(), "W25X10");
    for (const auto& [s, e, marks] : cases) {
        Bytes image(0x20000, 0xFF);
        for (const auto& [at, value] : marks) image[at] = value;
        const Bytes data = Pattern(e - s, s);
        dir.WriteBytes("data.bin", data);
        const std::vector<std::string> erase = {"-e", Fmt("-ab=0x%X", s), Fmt("-al=0x%X", e - 1)};
        const std::vector<std::string> sequence = {"-e", "-w", "-v", "data.bin",
                                                   Fmt("-ab=0x%X", s)};
        for (const auto& args : {erase, sequence}) {
            SCOPED_TRACE(args[1] + " " + args.back() + Fmt(" mark at 0x%X", marks[0].first));
            dir.WriteBytes("flash.bin", image);
            EXPECT_EQ(dir.Run(args).status, 1);
            EXPECT_TRUE(dir.ReadBytes("flash.bin") ==
                        (args == erase ? image : Put(image, s, data)));
        }
    }
}

// Other geometries: 64 KiB and 256 KiB units (a tail larger than one transfer), files across
// the 16 MiB line in 4-byte mode with 4 KiB units and with 4-byte opcodes and 64 KiB units,
// and chips known only by their SFDP tables, whose dumps across a unit boundary and of the
// last 64 KiB match the image.
TEST_P(Program, SequencesOnOtherGeometries) {
    struct Case {
        const ChipText* chip;
        uint32_t s, size;
        std::string out;  // after the preamble, squeezed
        uint32_t dump_at;
        std::string dump_out;
    };
    const std::string status = "\n\nStatus:\t\t0x02h\tWE enabled\nFile: \"data.bin\"\tsize: ";
    const std::string ok = "\nFile recorded.\n\n";
    const std::string verified = "\nVerify OK\n\n";
    // Head, tail, write and verify lines of the 64 KiB units at 16 MiB.
    const std::string h16 =
        "Restore data Head:\t0x00FF0100 (0%)\r...\r"
        "Restore data Head:\t0x00FF8100 (100%)\r";
    const std::string t16 =
        "Restore Sector Tail:\t0x01008200 (0%)\r...\r"
        "Restore Sector Tail:\t0x01010000 (100%)\r";
    const std::string units16 =
        "\nRead data Head:\tS255\tOK\nRead data Tail:\tS256\tOK\n\rErase Sector:\t255->255\tOK"
        "\rErase Sector:\t255->256\tOK\nErase done";
    const std::string sequence16 =
        status + "0x10000 Bytes, Occupy Sectors: 2" + units16 + h16 + "\n" + t16 +
        "\nRead data Head:\tS255\tOK\nRead data Tail:\tS256\tOK" + h16 + "\n" +
        "\nFile: \"data.bin\"\tsize: 0x10000 Bytes\nRequire Sector:\t\t2 x 65536 Bytes\n" +
        "Write data:\t\t0x00FF8200 (0%)\r...\rWrite data:\t\t0x01008100 (100%)\r" + t16 + ok +
        "Verify data:\t\t0x00FF8200 (0%)\r...\rVerify data:\t\t0x01008100 (100%)\r" + verified;
    const std::string hm =
        "Restore data Head:\t0x00010100 (6%)\r...\r"
        "Restore data Head:\t0x00010F10 (100%)\r";
    const std::string tm =
        "Restore Sector Tail:\t0x00013300 (0%)\r...\r"
        "Restore Sector Tail:\t0x00020000 (100%)\r";
    const std::string hs =
        "Restore data Head:\t0x00040100 (6%)\r...\r"
        "Restore data Head:\t0x00041000 (100%)\r";
    const std::string ts =
        "Restore Sector Tail:\t0x00042100 (0%)\r...\r"
        "Restore Sector Tail:\t0x00080000 (100%)\r";
    const std::string hw =
        "Restore data Head:\t0x00FFF100 (12%)\r...\r"
        "Restore data Head:\t0x00FFF800 (100%)\r";
    const std::string he =
        "Restore data Head:\t0x00010100 (0%)\r...\r"
        "Restore data Head:\t0x0001F0F0 (100%)\r";
    const std::string te =
        "Restore Sector Tail:\t0x0002F400 (6%)\r...\r"
        "Restore Sector Tail:\t0x00030000 (100%)\r";
    const Case cases[] = {
        {&kMX25L1005, 0x10F10, 0x2345,
         status + "0x2345 Bytes, Occupy Sectors: 1\nRead data Head:\tS1\tOK\nRead data Tail:\tS1" +
             "\tOK\n\rErase Sector:\t1->1\tOK\nErase done" + hm + "\n" + tm +
             "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK" + hm + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x2345 Bytes\nRequire Sector:\t\t1 x 65536 Bytes\n" +
             "Write data:\t\t0x00011000 (2%)\r...\rWrite data:\t\t0x00013255 (100%)\r" + tm + ok +
             "Verify data:\t\t0x00011010 (2%)\r...\rVerify data:\t\t0x00013255 (100%)\r" + verified,
         0, ""},
        {&kS25FL128S1, 0x41000, 0x1000,
         status + "0x1000 Bytes, Occupy Sectors: 1\nRead data Head:\tS1\tOK\nRead data Tail:\tS1" +
             "\tOK\n\rErase Sector:\t1->1\tOK\nErase done" + hs + "\n" + ts +
             "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK" + hs + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nRequire Sector:\t\t1 x 262144 Bytes\n" +
             "Write data:\t\t0x00041100 (6%)\r...\rWrite data:\t\t0x00042000 (100%)\r" + ts + ok +
             "Verify data:\t\t0x00041100 (6%)\r...\rVerify data:\t\t0x00042000 (100%)\r" + verified,
         0, ""},
        {&kW25Q256, 0xFFF800, 0x1800,
         status + "0x1800 Bytes, Occupy Sectors: 2\nRead data Head:\tS4095\tOK" +
             "\n\rErase Sector:\t4095->4095\tOK\rErase Sector:\t4095->4096\tOK\nErase done" + hw +
             "\n\nRead data Head:\tS4095\tOK" + hw + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x1800 Bytes\nRequire Sector:\t\t2 x 4096 Bytes\n" +
             "Write data:\t\t0x00FFF900 (4%)\r...\rWrite data:\t\t0x01001000 (100%)\r" + ok +
             "Verify data:\t\t0x00FFF900 (4%)\r...\rVerify data:\t\t0x01001000 (100%)\r" + verified,
         0, ""},
        {&kGD25Q256, 0xFF8100, 0x10000, sequence16, 0, ""},
        {&kSfdpEF4099, 0x1F0F0, 0x10234,
         status + "0x10234 Bytes, Occupy Sectors: 2\nRead data Head:\tS1\tOK\nRead data Tail:" +
             "\tS2\tOK\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK\nErase done" + he +
             "\n" + te + "\nRead data Head:\tS1\tOK\nRead data Tail:\tS2\tOK" + he + "\n" +
             "\nFile: \"data.bin\"\tsize: 0x10234 Bytes\nRequire Sector:\t\t2 x 65536 Bytes\n" +
             "Write data:\t\t0x0001F100 (0%)\r...\rWrite data:\t\t0x0002F324 (100%)\r" + te + ok +
             "Verify data:\t\t0x0001F1F0 (0%)\r...\rVerify data:\t\t0x0002F324 (100%)\r" + verified,
         0xFF80, "\nReading dump:\t\t0x00010080 (0%)\r...\rReading dump:\t\t0x0001FF80 (100%)\r\n"},
        {&kSfdpC84099, 0xFF8100, 0x10000, sequence16, 0x1FF0000,
         "\nReading dump:\t\t0x01FF0100 (0%)\r...\rReading dump:\t\t0x02000000 (100%)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chip->name);
        Bytes image = Pattern(c.chip->total, 1);
        const Bytes data = Pattern(c.size, 2);
        dir.Configure(GetParam(), Played(*c.chip), PlayLines(*c.chip));
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", data);
        RunResult r = dir.Run({"-e", "-w", "-v", "data.bin", Fmt("-ab=0x%X", c.s)});
        EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), *c.chip) + c.out));
        EXPECT_EQ(r.status, 1);
        image = Put(image, c.s, data);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == image) << "bytes outside the range changed";
        if (c.dump_out.empty()) continue;
        r = dir.Run(
            {"-d", "part.bin", Fmt("-ab=0x%X", c.dump_at), Fmt("-al=0x%X", c.dump_at + 0xFFFF)});
        EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), *c.chip) + c.dump_out));
        EXPECT_TRUE(dir.ReadBytes("part.bin") == Slice(image, c.dump_at, 0x10000));
    }
}

// A range erase whose first unit ends at 16 MiB and whose last starts there.
TEST_P(Program, RangeEraseAcrossSixteenMiB) {
    const Bytes image = Pattern(kGD25Q256.total, 8);
    dir.Configure(GetParam(), "GD25Q256");
    dir.WriteBytes("flash.bin", image);
    RunResult r = dir.Run({"-e", "-ab=0xFF8000", "-al=0x1007FFF"});
    EXPECT_EQ(Squeeze(r.out),
              Squeeze(Preamble(r.out, GetParam(), kGD25Q256) +
                      "\n\nStatus:\t\t0x02h\tWE enabled\nRead data Head:\tS255\tOK"
                      "\nRead data Tail:\tS256\tOK\n\rErase Sector:\t255->255\tOK"
                      "\rErase Sector:\t255->256\tOK\nErase doneRestore data Head:\t0x00FF0100 "
                      "(0%)\r...\rRestore data Head:\t0x00FF8000 (100%)\r\nRestore Sector Tail:"
                      "\t0x01008100 (0%)\r...\rRestore Sector Tail:\t0x01010000 (100%)\r\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Erased(image, 0xFF8000, 0x1008000));
}

// The chip erase: 0xC7, the record's own opcode, or unit by unit without one.
TEST_P(Program, ChipErase) {
    const std::string start = "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait...";
    const std::pair<const ChipText*, std::string> cases[] = {
        {&kW25X10, start + "\nErase done\n"},
        {&kMX25V1635F, start + "\nErase done\n"},
        {&kM45PE10, start + "\n\rErase Sector:\t0->0\tOK\rErase Sector:\t0->1\tOK\nErase done\n"},
    };
    for (const auto& [chip, out] : cases) {
        dir.Configure(GetParam(), chip->name);
        dir.WriteBytes("flash.bin", Pattern(chip->total, 3));
        RunResult r = dir.Run({"-e"});
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), *chip) + out);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == Bytes(chip->total, 0xFF));
    }
}

// Block protection makes the chip ignore erase and program commands: each step that would
// send one is refused before it does, and says how to clear the bits.
TEST_P(Program, ProtectedChipIsRefusedBeforeAnyEraseOrProgramFrame) {
    const Bytes image = Pattern(0x20000, 8);
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
        const Bytes stats = dir.ReadBytes("stats.json");
        const std::string commands(stats.begin(), stats.end());
        for (const char* op : {"\"0x02\"", "\"0x20\"", "\"0xD8\"", "\"0xC7\""})
            EXPECT_EQ(commands.find(op), std::string::npos) << op << " sent";
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, Program, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
