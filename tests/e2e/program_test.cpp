// Erase, write, verify, dump, memory display and unlock end to end: whole outputs against
// literal text, and every byte of the image afterwards against the image before with the
// range replaced.
#include <gtest/gtest.h>

#include <cstdio>

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
        std::string config;  // chip and extra config.cfg lines
        std::vector<std::string> args;
        Bytes before, data, after;  // the image (empty: a new one) and data.bin; image afterwards
        int status;
        bool terminal;
        Bytes dumped;  // part.bin afterwards
    };
    const Bytes erased(0x20000, 0xFF), p1 = Pattern(0x20000, 1), p4 = Pattern(0x20000, 4);
    const Bytes p6 = Pattern(0x20000, 6), p11 = Pattern(0x20000, 11), d2 = Pattern(0x1F80, 2);
    const Bytes d5 = Pattern(0x180, 5);
    Bytes differs = Slice(p6, 0x1000, 0x300);  // three bytes in the second page of three
    differs[0x100] ^= 1, differs[0x180] ^= 0x80, differs[0x1FF] ^= 0xFF;
    typedef std::vector<std::string> Args;
    const Args sequence = {"-e", "-w", "-v", "data.bin", "-ab=0x1040"};
    const Args range = {"-e", "-ab=0x1800", "-al=0x27FF"}, write = {"-w", "data.bin", "-ab=0x200"};
    const Args verify = {"-v", "data.bin", "-ab=0x1000"}, info = {"-i"}, unlock = {"-u"};
    const Args dump = {"-d", "part.bin", "-ab=0x1F80", "-al=0x20FF"};
    const Args show = {"-s", "-ab=0x1005", "-al=0x1027"};
    const std::string slow = "\nemulate_fault=slow:300", locked = "W25X10\nemulate_status=0x9C";
    const Bytes spansion(0x80000, 0xFF), program = Put(p1, 0x1040, d2);
    const Run runs[] = {
        {"info_winbond", "W25X10\nemulate_status=0x88", info, {}, {}, erased, 1, false, {}},
        {"info_spansion", "S25FL004A\nemulate_status=0x14", info, {}, {}, spansion, 1, false, {}},
        // Head and tail of 0x40 bytes in units 1 and 2, pages written from mid-page; on a
        // terminal no line is overwritten by a line of another kind.
        {"program", "W25X10", sequence, p1, d2, program, 1, false, {}},
        {"program", "W25X10" + slow, sequence, p1, d2, program, 1, false, {}},
        {"program_tty", "W25X10", sequence, p1, d2, program, 1, true, {}},
        {"erase_range", "W25X10", range, p4, {}, Erased(p4, 0x1800, 0x2800), 1, false, {}},
        {"erase_range", "W25X10" + slow, range, p4, {}, Erased(p4, 0x1800, 0x2800), 1, false, {}},
        {"write", "W25X10", write, {}, d5, Put(erased, 0x200, d5), 1, false, {}},
        {"verify_errors", "W25X10", verify, p6, differs, p6, 255, false, {}},
        {"dump", "W25X10", dump, p11, {}, p11, 1, false, Slice(p11, 0x1F80, 0x180)},
        {"show", "W25X10", show, p11, {}, p11, 1, false, {}},
        {"unlock", locked, unlock, {}, {}, erased, 1, false, {}},
        {"unlock", locked + slow, unlock, {}, {}, erased, 1, false, {}},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(std::string(run.name) + " " + run.config);
        TargetDir fresh;
        if (!run.before.empty()) fresh.WriteBytes("flash.bin", run.before);
        if (!run.data.empty()) fresh.WriteBytes("data.bin", run.data);
        fresh.Configure(GetParam(), run.config + "\n");
        RunResult r = run.terminal ? fresh.RunOnTerminal(run.args) : fresh.Run(run.args);
        EXPECT_EQ(r.out, ExpectedFile(std::string(run.name) + "." + CableName(GetParam()), r.out));
        EXPECT_EQ(r.status, run.status);
        EXPECT_TRUE(fresh.ReadBytes("flash.bin") == run.after);
        EXPECT_TRUE(fresh.ReadBytes("part.bin") == run.dumped);
    }
}

// Every page goes out once, taken and confirmed by the chip, whatever its program time: 0.7 ms,
// 2 ms (longer than the status readings the USB-Blaster sends with a page cover) or 30 ms. The
// output is the same with usb_async=0 (one USB transfer at a time).
TEST_P(Program, EachPageGoesOutOnceWhateverTheProgramTime) {
    const Bytes erased(0x20000, 0xFF), data = Pattern(0x1000, 8);
    dir.WriteBytes("data.bin", data);
    const std::string text =
        "\n\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n"
        "Write data:\t\t0x00001100 (6%)\r...\rWrite data:\t\t0x00002000 (100%)\r"
        "\nFile recorded.\n\n";
    for (const char* fault : {"none", "slow:2", "slow:30"}) {
        std::string outs[2];
        for (int async : {0, 1}) {
            SCOPED_TRACE(Fmt("%s, usb_async=%d", fault, async));
            dir.WriteBytes("flash.bin", erased);
            std::remove(dir.Path("stats.json").c_str());
            dir.Configure(
                GetParam(), "W25X10",
                Fmt("emulate_fault=%s\nemulate_stats=stats.json\nusb_async=%d\n", fault, async));
            const RunResult r = dir.Run({"-w", "data.bin", "-ab=0x1000"});
            outs[async] = r.out;
            EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), kW25X10) + text));
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(erased, 0x1000, data));
            const Bytes stats = dir.ReadBytes("stats.json");
            const std::string line(stats.begin(), stats.end());
            EXPECT_NE(line.find("\"0x02\":16,"), std::string::npos) << line;
            EXPECT_NE(line.find("\"bytes_programmed\":4096,"), std::string::npos);
        }
        EXPECT_EQ(outs[0], outs[1]) << fault;
    }
}

// Ranges that start and end exactly on unit and page boundaries, the chip's last unit and
// last byte, one byte (-ab= equal to -al=), -al= at the chip's size (cut to its last byte),
// and -al= without -ab=: erase, program, dump and verify take exactly the bytes named, and
// every other byte of the image stays.
TEST_P(Program, RangesThatEndOnAnEdge) {
    const Bytes image = Pattern(0x20000, 31);
    dir.Configure(GetParam(), "W25X10");
    // Runs `args` on the image with `data` as data.bin; the image afterwards must be `after`,
    // d.bin (when dumped) `dumped`, and what follows the preamble `out` (squeezed).
    const auto check = [&](const std::vector<std::string>& args, const Bytes& data,
                           const Bytes& after, const Bytes& dumped, int status,
                           const std::string& out) {
        std::string line;
        for (const std::string& a : args) line += a + " ";
        SCOPED_TRACE(line);
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", data);
        std::remove(dir.Path("d.bin").c_str());
        RunResult r = dir.Run(args);
        EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), kW25X10) + out));
        EXPECT_EQ(r.status, status);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == after);
        EXPECT_TRUE(dir.ReadBytes("d.bin") == dumped);
    };
    const std::string we = "\n\nStatus:\t\t0x02h\tWE enabled";
    const std::string ok = "\nVerify OK\n\n";
    const std::string head1 =
        "Restore data Head:\t0x00001100 (45%)\r...\rRestore data Head:\t0x00001234 (100%)\r";
    const std::string tail1 =
        "Restore Sector Tail:\t0x00001300 (5%)\r...\rRestore Sector Tail:\t0x00002000 (100%)\r";
    const std::string head31 =
        "Restore data Head:\t0x0001F100 (6%)\r...\rRestore data Head:\t0x0001FF00 (100%)\r";
    const std::string tail0 =
        "Restore Sector Tail:\t0x00000300 (7%)\r...\rRestore Sector Tail:\t0x00001000 (100%)\r";
    const std::string units1 = "\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK\nErase done";
    const std::string unit31 = "\n\rErase Sector:\t31->31\tOK\nErase done";
    // Range erases: -ab=, -al=, the range erased, the output.
    const std::tuple<const char*, const char*, uint32_t, uint32_t, std::string> erases[] = {
        {"-ab=0x1000", "-al=0x2FFF", 0x1000, 0x3000, we + units1 + "\n"},
        {"-ab=0x1F000", "-al=0x1FFFF", 0x1F000, 0x20000, we + unit31 + "\n"},
        {"-ab=0x1F080", "-al=0x1FFFF", 0x1F080, 0x20000,
         we + "\nRead data Head:\tS31\tOK" + unit31 +
             "Restore data Head:\t0x0001F080 (100%)\r\n\n"},
        {"-ab=0x1234", "-al=0x1234", 0x1234, 0x1235,
         we + "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
             "\nErase done" + head1 + "\n" + tail1 + "\n"},
        {"-ab=0x1F800", "-al=0x20000", 0x1F800, 0x20000,
         we + "\nRead data Head:\tS31\tOK" + unit31 +
             "Restore data Head:\t0x0001F100 (12%)\r...\rRestore data Head:\t0x0001F800 "
             "(100%)\r\n\n"},
        {"-ab=0", "-al=0xFFF", 0, 0x1000, we + "\n\rErase Sector:\t0->0\tOK\nErase done\n"},
        {"-ab=0x1100", "-al=0x12FF", 0x1100, 0x1300,
         we + "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
             "\nErase doneRestore data Head:\t0x00001100 (100%)\r\nRestore Sector Tail:\t" +
             "0x00001400 (7%)\r...\rRestore Sector Tail:\t0x00002000 (100%)\r\n"},
    };
    for (const auto& [ab, al, first, end, out] : erases)
        check({"-e", ab, al}, {}, Erased(image, first, end), {}, 1, out);
    // Every unit but a head: one chip erase, the head programmed back.
    std::string all_units = "\n";
    for (int i = 0; i < 32; i++) all_units += Fmt("\rErase Sector:\t0->%d\tOK", i);
    check({"-e", "-ab=0x80"}, {}, Erased(image, 0x80, 0x20000), {}, 1,
          we + "\nRead data Head:\tS0\tOK" + all_units +
              "\nErase doneRestore data Head:\t0x00000080 (100%)\r\n\n");
    // -al= alone: from the chip's start, never the whole chip.
    check({"-e", "-al=0x17FF"}, {}, Erased(image, 0, 0x1800), {}, 1,
          we + "\nRead data Tail:\tS1\tOK\n\rErase Sector:\t0->0\tOK\rErase Sector:\t0->1\tOK" +
              "\nErase doneRestore Sector Tail:\t0x00001900 (12%)\r...\rRestore Sector Tail:\t" +
              "0x00002000 (100%)\r\n");

    // Program sequences: the range, the file's size, where it goes and how much of it, output.
    const Bytes file = Pattern(0x2000, 32);
    const auto sized = [&](uint32_t n) { return Slice(file, 0, n); };
    const auto wrote = [&](uint32_t at, uint32_t n) { return Put(image, at, Slice(file, 0, n)); };
    const std::tuple<std::vector<std::string>, uint32_t, uint32_t, uint32_t, std::string>
        programs[] = {
            {{"-ab=0x1000"},
             0x2000,
             0x1000,
             0x2000,
             we + "\nFile: \"data.bin\"\tsize: 0x2000 Bytes, Occupy Sectors: 2" + units1 +
                 "\nFile: \"data.bin\"\tsize: 0x2000 Bytes\nRequire Sector:\t\t2 x 4096 Bytes\n" +
                 "Write data:\t\t0x00001100 (3%)\r...\rWrite data:\t\t0x00003000 (100%)\r" +
                 "\nFile recorded.\n\nVerify data:\t\t0x00001100 (3%)\r...\r" +
                 "Verify data:\t\t0x00003000 (100%)\r" + ok},
            {{"-ab=0x1F000"},
             0x1000,
             0x1F000,
             0x1000,
             we + "\nFile: \"data.bin\"\tsize: 0x1000 Bytes, Occupy Sectors: 1" + unit31 +
                 "\nFile: \"data.bin\"\tsize: 0x1000 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
                 "Write data:\t\t0x0001F100 (6%)\r...\rWrite data:\t\t0x00020000 (100%)\r" +
                 "\nFile recorded.\n\nVerify data:\t\t0x0001F100 (6%)\r...\r" +
                 "Verify data:\t\t0x00020000 (100%)\r" + ok},
            {{"-ab=0x1F080"},
             0xF80,
             0x1F080,
             0xF80,
             we + "\nFile: \"data.bin\"\tsize: 0xF80 Bytes, Occupy Sectors: 1" +
                 "\nRead data Head:\tS31\tOK" + unit31 +
                 "Restore data Head:\t0x0001F080 (100%)\r\n\nRead data Head:\tS31\tOK" +
                 "Restore data Head:\t0x0001F080 (100%)\r\n" +
                 "\nFile: \"data.bin\"\tsize: 0xF80 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
                 "Write data:\t\t0x0001F100 (3%)\r...\rWrite data:\t\t0x00020000 (100%)\r" +
                 "\nFile recorded.\n\nVerify data:\t\t0x0001F180 (6%)\r...\r" +
                 "Verify data:\t\t0x00020000 (100%)\r" + ok},
            // A one-byte range takes one byte of a longer file.
            {{"-ab=0x1234", "-al=0x1234"},
             0x10,
             0x1234,
             1,
             we + "\nFile: \"data.bin\"\tsize: 0x10 Bytes, Occupy Sectors: 1" +
                 "\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
                 "\nErase done" + head1 + "\n" + tail1 + "\nRead data Head:\tS1\tOK" +
                 "\nRead data Tail:\tS1\tOK" + head1 + "\n" +
                 "\nFile: \"data.bin\"\tsize: 0x10 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
                 "Write data:\t\t0x00001235 (100%)\r" + tail1 +
                 "\nFile recorded.\n\nVerify data:\t\t0x00001235 (100%)\r" + ok},
            {{"-ab=0x1FF00", "-al=0x20000"},
             0x100,
             0x1FF00,
             0x100,
             we + "\nFile: \"data.bin\"\tsize: 0x100 Bytes, Occupy Sectors: 1" +
                 "\nRead data Head:\tS31\tOK" + unit31 + head31 + "\n\nRead data Head:\tS31\tOK" +
                 head31 + "\n" +
                 "\nFile: \"data.bin\"\tsize: 0x100 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
                 "Write data:\t\t0x00020000 (100%)\r" +
                 "\nFile recorded.\n\nVerify data:\t\t0x00020000 (100%)\r" + ok},
            // -al= alone: the range, not the file, decides how many bytes.
            {{"-al=0x1FF"},
             0x300,
             0,
             0x200,
             we + "\nFile: \"data.bin\"\tsize: 0x300 Bytes, Occupy Sectors: 1" +
                 "\nRead data Tail:\tS0\tOK\n\rErase Sector:\t0->0\tOK\nErase done" + tail0 +
                 "\nRead data Tail:\tS0\tOK" +
                 "\nFile: \"data.bin\"\tsize: 0x300 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
                 "Write data:\t\t0x00000100 (50%)\rWrite data:\t\t0x00000200 (100%)\r" + tail0 +
                 "\nFile recorded.\n\nVerify data:\t\t0x00000100 (50%)\r" +
                 "Verify data:\t\t0x00000200 (100%)\r" + ok},
        };
    for (const auto& [range, size, at, n, out] : programs) {
        std::vector<std::string> args = {"-e", "-w", "-v", "data.bin"};
        args.insert(args.end(), range.begin(), range.end());
        check(args, sized(size), wrote(at, n), {}, 1, out);
    }
    // A shorter file is written whole; the rest of the range stays erased.
    check({"-e", "-w", "data.bin", "-al=0x2FF"}, sized(0x100),
          Put(Erased(image, 0, 0x300), 0, sized(0x100)), {}, 1,
          we + "\nFile: \"data.bin\"\tsize: 0x100 Bytes, Occupy Sectors: 1" +
              "\nRead data Tail:\tS0\tOK\n\rErase Sector:\t0->0\tOK\nErase done" +
              "Restore Sector Tail:\t0x00000400 (7%)\r...\rRestore Sector Tail:\t0x00001000 "
              "(100%)\r\nRead data Tail:\tS0\tOK" +
              "\nFile: \"data.bin\"\tsize: 0x100 Bytes\nRequire Sector:\t\t1 x 4096 Bytes\n" +
              "Write data:\t\t0x00000100 (100%)\rRestore Sector Tail:\t0x00000400 (7%)\r...\r" +
              "Restore Sector Tail:\t0x00001000 (100%)\r\nFile recorded.\n\n");

    // Dumps: the range, the bytes it holds, the progress lines.
    const std::tuple<std::vector<std::string>, uint32_t, uint32_t, std::string> dumps[] = {
        {{},
         0,
         0x20000,
         "Reading dump:\t\t0x00000100 (0%)\r...\rReading dump:\t\t0x00020000 (100%)\r"},
        {{"-al=0xFFF"},
         0,
         0x1000,
         "Reading dump:\t\t0x00000100 (6%)\r...\rReading dump:\t\t0x00001000 (100%)\r"},
        {{"-ab=0x1F000", "-al=0x1FFFF"},
         0x1F000,
         0x1000,
         "Reading dump:\t\t0x0001F100 (6%)\r...\rReading dump:\t\t0x00020000 (100%)\r"},
        {{"-ab=0x1234", "-al=0x1234"}, 0x1234, 1, "Reading dump:\t\t0x00001235 (100%)\r"},
        {{"-ab=0x1FF00", "-al=0x20000"}, 0x1FF00, 0x100, "Reading dump:\t\t0x00020000 (100%)\r"},
        {{"-ab=0x1FFFF"}, 0x1FFFF, 1, "Reading dump:\t\t0x00020000 (100%)\r"},
        {{"-ab=0x100", "-al=0x2FF"},
         0x100,
         0x200,
         "Reading dump:\t\t0x00000200 (50%)\rReading dump:\t\t0x00000300 (100%)\r"},
    };
    for (const auto& [range, first, n, out] : dumps) {
        std::vector<std::string> args = {"-d", "d.bin"};
        args.insert(args.end(), range.begin(), range.end());
        check(args, {}, image, Slice(image, first, n), 1, "\n" + out + "\n");
    }

    // Verifies of a file that is the image's bytes but for one: a difference just past the
    // range passes, one on its last byte does not.
    const auto one_off = [&](uint32_t first, uint32_t n, uint32_t at) {
        Bytes d = Slice(image, first, n);
        d[at] ^= 0x80;
        return d;
    };
    const auto header = [](uint32_t size) {
        return Fmt("\n\nFile: \"data.bin\"\tsize: 0x%X Bytes\nVerify Sectors:\t\t1 x 4096 Bytes\n",
                   size);
    };
    // One difference, bit 7 at `at`, listed after the failure.
    const auto failed = [&](uint32_t at) {
        return " Errors: 1\r\nVerify Error!" +
               Fmt("\n0x%08X: file 0x%02X, chip 0x%02X (bits 0x80)\n", at, image[at] ^ 0x80,
                   image[at]);
    };
    std::string missing;  // the first eight chip bytes the file has no byte for
    for (uint32_t at = 0x100; at < 0x108; at++)
        missing += Fmt("\n0x%08X: file has no byte, chip 0x%02X", at, image[at]);
    const std::tuple<std::vector<std::string>, Bytes, int, std::string> verifies[] = {
        {{"-al=0x1FF"},
         one_off(0, 0x300, 0x200),
         1,
         header(0x300) + "Verify data:\t\t0x00000100 (50%)\r" +
             "Verify data:\t\t0x00000200 (100%)\r" + ok},
        {{"-al=0x1FF"},
         one_off(0, 0x300, 0x1FF),
         255,
         header(0x300) + "Verify data:\t\t0x00000100 (50%)\r" +
             "Verify data:\t\t0x00000200 (100%)" + failed(0x1FF)},
        {{"-ab=0x1FFFF", "-al=0x1FFFF"},
         Bytes{image[0x1FFFF], static_cast<uint8_t>(~image[0x1FFFF])},
         1,
         header(2) + "Verify data:\t\t0x00020000 (100%)\r" + ok},
        {{"-ab=0x1F000", "-al=0x20000"},
         Slice(image, 0x1F000, 0x1000),
         1,
         header(0x1000) + "Verify data:\t\t0x0001F100 (6%)\r...\r" +
             "Verify data:\t\t0x00020000 (100%)\r" + ok},
        // Chip bytes the file has no byte for are differences.
        {{"-al=0x1FF"},
         Slice(image, 0, 0x100),
         255,
         header(0x100) +
             "Verify data:\t\t0x00000100 (50%)\rVerify data:\t\t0x00000200 (100%) "
             "Errors: 256\r\nVerify Error!" +
             missing + "\n... and 248 more\n"},
        {{"-ab=0x1F000"},
         one_off(0x1F000, 0x1000, 0xFFF),
         255,
         header(0x1000) + "Verify data:\t\t0x0001F100 (6%)\r...\r" +
             "Verify data:\t\t0x00020000 (100%)" + failed(0x1FFFF)},
    };
    for (const auto& [range, data, status, out] : verifies) {
        std::vector<std::string> args = {"-v", "data.bin"};
        args.insert(args.end(), range.begin(), range.end());
        check(args, data, image, {}, status, out);
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

// Other geometries, every byte of the image checked: 64 KiB and 256 KiB units (a tail larger
// than one transfer), files across the 16 MiB line in 4-byte mode with 4 KiB units and with
// 4-byte opcodes and 64 KiB units (whole output: head and tail on either side of the line), and
// a chip known only by its SFDP tables, whose dump across a unit boundary matches the image.
TEST_P(Program, SequencesOnOtherGeometries) {
    const std::string h =
        "Restore data Head:\t0x00FF0100 (0%)\r...\rRestore data Head:\t0x00FF8100 "
        "(100%)\r";
    const std::string t =
        "Restore Sector Tail:\t0x01008200 (0%)\r...\rRestore Sector Tail:\t"
        "0x01010000 (100%)\r";
    const std::string read = "\nRead data Head:\tS255\tOK\nRead data Tail:\tS256\tOK";
    const std::string across16 =
        "\n\nStatus:\t\t0x02h\tWE enabled\nFile: \"data.bin\"\tsize: 0x10000 Bytes, Occupy "
        "Sectors: 2" +
        read + "\n\rErase Sector:\t255->255\tOK\rErase Sector:\t255->256\tOK\nErase done" + h +
        "\n" + t + read + h + "\n" +
        "\nFile: \"data.bin\"\tsize: 0x10000 Bytes\nRequire Sector:\t\t2 x 65536 Bytes\n" +
        "Write data:\t\t0x00FF8200 (0%)\r...\rWrite data:\t\t0x01008100 (100%)\r" + t +
        "\nFile recorded.\n\nVerify data:\t\t0x00FF8200 (0%)\r...\rVerify data:\t\t0x01008100 "
        "(100%)\r\nVerify OK\n\n";
    const std::tuple<const ChipText*, uint32_t, uint32_t, std::string> cases[] = {
        {&kMX25L1005, 0x10F10, 0x2345, ""},   {&kS25FL128S1, 0x41000, 0x1000, ""},
        {&kW25Q256, 0xFFF800, 0x1800, ""},    {&kGD25Q256, 0xFF8100, 0x10000, across16},
        {&kSfdpEF4099, 0x1F0F0, 0x10234, ""},
    };
    for (const auto& [chip, s, size, out] : cases) {
        SCOPED_TRACE(chip->name);
        Bytes image = Pattern(chip->total, 1);
        const Bytes data = Pattern(size, 2);
        dir.Configure(GetParam(), Played(*chip), PlayLines(*chip));
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", data);
        RunResult r = dir.Run({"-e", "-w", "-v", "data.bin", Fmt("-ab=0x%X", s)});
        if (!out.empty()) {
            EXPECT_EQ(Squeeze(r.out), Squeeze(Preamble(r.out, GetParam(), *chip) + out));
        }
        EXPECT_EQ(r.status, 1);
        image = Put(image, s, data);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == image) << "bytes outside the range changed";
    }
    EXPECT_EQ(dir.Run({"-d", "part.bin", "-ab=0xFF80", "-al=0x1FF7F"}).status, 1);
    EXPECT_TRUE(dir.ReadBytes("part.bin") == Slice(dir.ReadBytes("flash.bin"), 0xFF80, 0x10000));
}

// The chip erase: 0xC7, the record's own opcode, or unit by unit without one. On a terminal
// its time is shown against the typical 1 s per MiB while the chip works, at most ten times a
// second: the 2 MiB part is busy 2 s after the tool's first second of waiting.
TEST_P(Program, ChipErase) {
    const std::string start = "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait...";
    std::string ticks = "\nChip erase, 0:00 elapsed, typically 0:02\r";
    for (int i = 0; i < 10; i++) ticks += "Chip erase, 0:01 elapsed, typically 0:02\r";
    ticks += "Chip erase, 0:02 elapsed, typically 0:02\r";
    const std::tuple<const ChipText*, std::string, bool> cases[] = {
        {&kW25X10, start + "\nErase done\n", false},
        {&kMX25V1635F, start + "\nErase done\n", false},
        {&kM45PE10, start + "\n\rErase Sector:\t0->0\tOK\rErase Sector:\t0->1\tOK\nErase done\n",
         false},
        {&kW25X10,
         start + "\nChip erase, 0:00 elapsed, typically 0:01\rChip erase, 0:01 elapsed, typically "
                 "0:01\r\nErase done\n",
         true},
        {&kMX25V1635F, start + ticks + "\nErase done\n", true},
    };
    for (const auto& [chip, out, terminal] : cases) {
        dir.Configure(GetParam(), chip->name);
        dir.WriteBytes("flash.bin", Pattern(chip->total, 3));
        RunResult r = terminal ? dir.RunOnTerminal({"-e"}) : dir.Run({"-e"});
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), *chip) + out);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == Bytes(chip->total, 0xFF));
    }
}

// A range erase clears the whole aligned 64 KiB block in it with one 0xD8 and the rest unit by
// unit; it prints the record's units as before and keeps the head outside the range.
TEST_P(Program, RangeEraseTakesTheLargestCommandThatFits) {
    const Bytes image = Pattern(0x20000, 81);
    dir.Configure(GetParam(), "W25X10", "emulate_stats=stats.json\n");
    dir.WriteBytes("flash.bin", image);
    RunResult r = dir.Run({"-e", "-ab=0x1080", "-al=0x1FFFF"});
    std::string units = "\n";
    for (int i = 1; i < 32; i++) units += Fmt("\rErase Sector:\t1->%d\tOK", i);
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\n\nStatus:\t\t0x02h\tWE enabled\nRead data Head:\tS1\tOK" + units +
                         "\nErase doneRestore data Head:\t0x00001080 (100%)\r\n\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Erased(image, 0x1080, 0x20000));
    const Bytes stats = dir.ReadBytes("stats.json");
    EXPECT_NE(std::string(stats.begin(), stats.end()).find("\"erases\":{\"4096\":15,\"65536\":1}"),
              std::string::npos);
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
