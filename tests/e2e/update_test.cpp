// -c: the range is read first; units that already hold the file's bytes get no command, units
// whose new bytes only clear bits are programmed without an erase, the rest are erased (their
// bytes outside the range kept) and programmed; -v reads back only what was programmed.
#include <gtest/gtest.h>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class Update : public ::testing::TestWithParam<Cable> {
protected:
    TargetDir dir;
};

// Progress lines of a page program or read from `from` to `to` (addresses after each page),
// percentages of `total` bytes counted from `before`.
std::string Lines(const char* label, uint32_t from, uint32_t to, uint32_t before, uint32_t total) {
    std::string s;
    for (uint32_t a = from; a <= to; a += 0x100)
        s += Fmt("%s0x%08X (%u%%)\r", label, a, (before + a - from + 0x100) * 100 / total);
    return s;
}

// The time figures of the "Saved:" line, which the run works out from its own clock.
std::string Untimed(std::string out) {
    for (const char* word : {", at least ", " (the first read took "}) {
        const size_t at = out.find(word);
        if (at != std::string::npos) out.replace(at, out.find(" s", at) - at, " TIME");
    }
    return out;
}

// W25X10, data from 0x1080 over units 1 to 6 (head 0x80 bytes, tail 0xF80 bytes): identical,
// two units changed (one needs an erase, one only clears bits), bits cleared everywhere, every
// unit different, and a range at the chip's end; every byte of the image and the whole output
// checked, and no erase or program command for what did not change.
TEST_P(Update, ProgramsOnlyTheUnitsThatDiffer) {
    const Bytes image = Pattern(0x20000, 61);
    const Bytes same(image.begin() + 0x1080, image.begin() + 0x6080);
    Bytes two = same, cleared = same;
    two[0x2000 - 0x1080] ^= 0xFF;  // unit 2: some bit goes from 0 to 1
    ASSERT_NE(image[0x5000], 0);
    two[0x5000 - 0x1080] = 0;                     // unit 5: bits only cleared
    const Bytes mask = Pattern(same.size(), 62);  // bits cleared in every unit
    for (size_t i = 0; i < same.size(); i++) cleared[i] &= mask[i];
    const Bytes other = Pattern(0x5000, 63), end_data = Pattern(0xF80, 64);

    const std::string status = "\n\nStatus:\t\t0x02h\tWE enabled";
    const std::string file = "\nFile: \"data.bin\"\tsize: 0x5000 Bytes, Occupy Sectors: 6\n" +
                             Lines("Read data:\t\t", 0x1100, 0x7000, 0, 0x6000);
    const std::string done = "\nFile recorded.\n";
    const std::string head = "Restore data Head:\t0x00001080 (100%)\r\n";
    const std::string tail = Lines("Restore Sector Tail:\t", 0x6100, 0x7000, 0x80 - 0x100, 0xF80);
    const std::string all =
        "\n\rErase Sector:\t1->1\tOK\rErase Sector:\t1->2\tOK\rErase Sector:"
        "\t1->3\tOK\rErase Sector:\t1->4\tOK\rErase Sector:\t1->5\tOK\rErase "
        "Sector:\t1->6\tOK\nErase done";
    const struct {
        const char* name;
        std::vector<std::string> range;
        Bytes data;
        std::string out;   // after the preamble, the time saved left out
        const char* sent;  // page programs and erases, as the stats line counts them
    } cases[] = {
        {"identical",
         {"-ab=0x1080"},
         same,
         status + file +
             "\nChanged only:\t6 Sectors unchanged, 0 programmed without erase, 0 erased and "
             "programmed" +
             done + "\nSaved:\t\t20480 Bytes not programmed, 6 Sectors not erased TIME s\n" +
             "\n\nVerify OK\n\n",
         "*\"erases\":{}"},
        {"two units",
         {"-ab=0x1080"},
         two,
         status + file +
             "\nChanged only:\t4 Sectors unchanged, 1 programmed without erase, 1 erased and "
             "programmed\n\rErase Sector:\t2->2\tOK\nErase done\n" +
             Lines("Write data:\t\t", 0x2100, 0x3000, 0, 0x1000) +
             "Write data:\t\t0x00005100 (100%)\r" + done +
             "\nSaved:\t\t16128 Bytes not programmed, 5 Sectors not erased TIME s\n\n" +
             Lines("Verify data:\t\t", 0x2100, 0x3000, 0, 0x1100) +
             "Verify data:\t\t0x00005100 (100%)\r\nVerify OK\n\n",
         "\"0x02\":17,*\"erases\":{\"4096\":1}"},
        {"bits cleared",
         {"-ab=0x1080"},
         cleared,
         status + file +
             "\nChanged only:\t0 Sectors unchanged, 6 programmed without erase, 0 erased and "
             "programmed\n" +
             "Write data:\t\t0x00001100 (0%)\r" +
             Lines("Write data:\t\t", 0x1200, 0x6000, 0x80, 0x5000) +
             "Write data:\t\t0x00006080 (100%)\r" + done +
             "\nSaved:\t\t0 Bytes not programmed, 6 Sectors not erased, no time TIME s)\n\n" +
             "Verify data:\t\t0x00001180 (1%)\r" +
             Lines("Verify data:\t\t", 0x1280, 0x6080, 0x100, 0x5000) + "\nVerify OK\n\n",
         "\"0x02\":81,*\"erases\":{}"},
        {"every unit",
         {"-ab=0x1080"},
         other,
         status + file +
             "\nChanged only:\t0 Sectors unchanged, 0 programmed without erase, 6 erased and "
             "programmed" +
             all + head + tail + "\n" + "Write data:\t\t0x00001100 (0%)\r" +
             Lines("Write data:\t\t", 0x1200, 0x6000, 0x80, 0x5000) +
             "Write data:\t\t0x00006080 (100%)\r" + done +
             "\nSaved:\t\t0 Bytes not programmed, 0 Sectors not erased, no time TIME s)\n\n" +
             "Verify data:\t\t0x00001180 (1%)\r" +
             Lines("Verify data:\t\t", 0x1280, 0x6080, 0x100, 0x5000) + "\nVerify OK\n\n",
         "\"0x02\":98,*\"erases\":{\"4096\":6}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", c.data);
        dir.Configure(GetParam(), "W25X10", "emulate_stats=stats.json\n");
        std::remove(dir.Path("stats.json").c_str());
        std::vector<std::string> args = {"-c", "-e", "-w", "-v", "data.bin"};
        args.insert(args.end(), c.range.begin(), c.range.end());
        RunResult r = dir.Run(args);
        EXPECT_EQ(Squeeze(Untimed(r.out)), Squeeze(Preamble(r.out, GetParam(), kW25X10) + c.out));
        EXPECT_EQ(r.status, 1);
        Bytes want = image;
        std::copy(c.data.begin(), c.data.end(), want.begin() + 0x1080);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == want);
        const Bytes st = dir.ReadBytes("stats.json");
        const std::string stats(st.begin(), st.end()), sent = c.sent;
        const std::string programs = sent.substr(0, sent.find('*'));
        if (!programs.empty()) {
            EXPECT_NE(stats.find(programs), std::string::npos);
        }
        EXPECT_EQ(stats.find("\"0x02\"") == std::string::npos, programs.empty());
        EXPECT_NE(stats.find(sent.substr(sent.find('*') + 1)), std::string::npos);
    }
    EXPECT_TRUE(dir.Journals().empty());
}

// A range at the chip's end (a head kept), -al= alone with a shorter file (the rest of the
// range ends erased), another master programming a byte between the read and the program (the
// verify catches it, nothing is trusted blindly), and -c without -w.
TEST_P(Update, EdgesAndASecondWriter) {
    const Bytes image = Pattern(0x20000, 71), d = Pattern(0xF80, 72), small = Pattern(0x100, 73);
    Bytes end = image, shorter = image, poked = image;
    std::copy(d.begin(), d.end(), end.begin() + 0x1F080);
    std::fill(shorter.begin(), shorter.begin() + 0x300, 0xFF);
    std::copy(small.begin(), small.end(), shorter.begin());
    Bytes bits(image.begin() + 0x5000, image.begin() + 0x5100);  // clears bits of one page
    for (auto& b : bits) b &= 0x5A;
    std::copy(bits.begin(), bits.end(), poked.begin() + 0x5000);
    poked[0x5001] = 0;  // the other master's byte, ANDed with what the run programs there
    ASSERT_NE(bits[1], 0);
    const struct {
        std::vector<std::string> args;
        Bytes data;
        std::string extra;  // config.cfg
        const Bytes* after;
        int status;
        std::string shown;  // a piece of the output
    } cases[] = {
        {{"-ab=0x1F080"},
         d,
         "",
         &end,
         1,
         "\nChanged only:\t0 Sectors unchanged, 0 programmed without erase, 1 erased and "
         "programmed\n\rErase Sector:\t31->31\tOK\nErase doneRestore data Head:\t0x0001F080 "
         "(100%)\r\n\nWrite data:\t\t0x0001F100 (3%)\r"},
        {{"-al=0x2FF"},
         small,
         "",
         &shorter,
         1,
         "\nChanged only:\t0 Sectors unchanged, 0 programmed without erase, 1 erased and "
         "programmed\n\rErase Sector:\t0->0\tOK\nErase doneRestore Sector Tail:\t0x00000400 "
         "(7%)\r"},
        // Frames: id, write enable, status, then the read of unit 5.
        {{"-ab=0x5000"},
         bits,
         "emulate_poke=4,0x5001,0x00\n",
         &poked,
         255,
         "\nChanged only:\t0 Sectors unchanged, 1 programmed without erase, 0 erased and "
         "programmed\nWrite data:\t\t0x00005100 (100%)\r\nFile recorded.\n\nSaved:\t\t0 Bytes "
         "not programmed, 1 Sectors not erased, no time TIME s)\n\nVerify data:\t\t0x00005100 "
         "(100%) Errors: 1\r\nVerify Error!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        dir.WriteBytes("flash.bin", image);
        dir.WriteBytes("data.bin", c.data);
        dir.Configure(GetParam(), "W25X10", c.extra);
        std::vector<std::string> args = {"-c", "-e", "-w", "-v", "data.bin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = dir.Run(args);
        EXPECT_NE(Untimed(r.out).find(c.shown), std::string::npos) << r.out;
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == *c.after);
    }
    dir.Configure(GetParam(), "W25X10");
    RunResult r = dir.Run({"-c", "-e", "-ab=0x1000", "-al=0x1FFF"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\nError: -c works with -e -w (and -v): -c -e -w -v filename "
                         "-ab=address_begin\n");
    EXPECT_EQ(r.status, 255);
}

INSTANTIATE_TEST_SUITE_P(Cables, Update, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
