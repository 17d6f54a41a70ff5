// Runs stopped the hard way (power and process gone at one frame, nothing written at exit):
// the bytes outside the range that an erase cleared come back from the journal.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class Journal : public ::testing::TestWithParam<Cable> {
protected:
    // Frames of a whole run of `args` on `image`.
    int Frames(const std::vector<std::string>& args, const Bytes& image) {
        dir.WriteBytes("flash.bin", image);
        dir.Configure(GetParam(), "W25X10", "emulate_stats=stats.json\n");
        std::remove(dir.Path("stats.json").c_str());
        EXPECT_EQ(dir.Run(args).status, 1);
        const Bytes st = dir.ReadBytes("stats.json");
        const std::string text(st.begin(), st.end());
        return atoi(text.c_str() + text.find("\"frames\":") + 9);
    }
    // The put-back command a run's notice gives, as arguments; empty without a notice.
    static std::vector<std::string> PutBack(const std::string& out) {
        const size_t at = out.find("\ntamrel -r ");
        if (at == std::string::npos) return {};
        const size_t end = out.find('\n', at + 1);
        return {"-r", out.substr(at + 11, end - at - 11)};
    }

    TargetDir dir;
};

// A range erase, a program sequence and an update of changed units, each stopped at frames
// spread over the whole run (densely where the erases and restores are): the next run names
// the journal, the chip and the bytes and gives the command that puts them back; the command
// restores every byte outside the range; the run after it finds nothing left.
TEST_P(Journal, HardStopLosesNothingOutsideTheRange) {
    const Bytes image = Pattern(0x20000, 51);
    dir.WriteBytes("data.bin", Pattern(0x1F00, 52));  // 0x1080..0x2F7F: units 1 and 2
    const std::vector<std::string> jobs[] = {
        {"-e", "-ab=0x1080", "-al=0x2F7F"},
        {"-e", "-w", "-v", "data.bin", "-ab=0x1080"},
        {"-c", "-e", "-w", "-v", "data.bin", "-ab=0x1080"},
    };
    const std::string notice =
        " holds bytes of chip 0xEF3011 (W25X10) that an erase cleared and no run has read back: "
        "0x00001000-0x0000107F, 0x00002F80-0x00002FFF; put them back on that chip with:\n";
    int journals = 0, lost = 0;
    for (const auto& args : jobs) {
        const int frames = Frames(args, image);
        for (int k = 2; k < frames; k += k < 48 ? 2 : frames / 12) {
            SCOPED_TRACE(args[0] + " " + args[1] + Fmt(" stopped at frame %d of %d", k, frames));
            dir.WriteBytes("flash.bin", image);
            dir.Configure(GetParam(), "W25X10", Fmt("emulate_kill_after=%d\n", k));
            EXPECT_EQ(dir.Run(args).status, 1000 + SIGKILL);
            dir.Configure(GetParam(), "W25X10");
            Bytes after = dir.ReadBytes("flash.bin");
            if (!std::equal(image.begin(), image.begin() + 0x1080, after.begin()) ||
                !std::equal(image.begin() + 0x2F80, image.end(), after.begin() + 0x2F80))
                ++lost;  // the chip alone no longer holds them
            const std::vector<std::string> left = dir.Journals();
            RunResult r = dir.Run({"-i"});
            const std::vector<std::string> put_back = PutBack(r.out);
            if (!left.empty()) {
                ++journals;
                ASSERT_EQ(left.size(), 1u);
                const std::string told = Banner(r.out) + "\nWarning: journal " + left[0] + notice +
                                         "tamrel -r " + left[0] + "\n";
                EXPECT_EQ(r.out.substr(0, told.size()), told);
                ASSERT_EQ(put_back.size(), 2u);
                r = dir.Run(put_back);
                EXPECT_EQ(r.status, 1) << r.out;
                EXPECT_NE(r.out.find("\nPut back and read back: 0x00001000-0x0000107F, "
                                     "0x00002F80-0x00002FFF; journal " +
                                     left[0] + " removed\n"),
                          std::string::npos);
            } else {
                EXPECT_TRUE(put_back.empty());
            }
            after = dir.ReadBytes("flash.bin");
            EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x1080, after.begin()));
            EXPECT_TRUE(std::equal(image.begin() + 0x2F80, image.end(), after.begin() + 0x2F80));
            r = dir.Run({"-i"});
            EXPECT_EQ(r.out.find("journal"), std::string::npos);
            EXPECT_TRUE(dir.Journals().empty());
        }
    }
    // The stops did fall between erase and restore, where only the journal held the bytes.
    EXPECT_GT(journals, 10);
    EXPECT_GT(lost, 5);
}

// A restore that does not read back (another master programs a head byte after it) keeps
// the journal. The put-back command checks before it programs: a chip with another id and a
// journal whose bytes were changed are refused and the journal stays; on the right chip it
// erases the unit whose bytes programming can no longer reach, and puts them back.
TEST_P(Journal, JournalStaysUntilItsBytesReadBack) {
    const Bytes image = Pattern(0x20000, 53);
    const std::vector<std::string> erase = {"-e", "-ab=0x1080", "-al=0x2F7F"};
    const int frames = Frames(erase, image);  // the last two read the head and tail back
    dir.WriteBytes("flash.bin", image);
    dir.Configure(GetParam(), "W25X10", Fmt("emulate_poke=%d,0x1000,0x00\n", frames - 2));
    RunResult r = dir.Run(erase);
    ASSERT_EQ(dir.Journals().size(), 1u);
    const std::string journal = dir.Journals()[0], name = journal.substr(dir.Path("").size());
    EXPECT_NE(r.out.find("Error: the head bytes 0x00001000-0x0000107F read back wrong after "
                         "their restore; they stay in the journal " +
                         journal + "\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 255);
    const Bytes kept = dir.ReadBytes(name);

    dir.Configure(GetParam(), "MX25L1005");  // same size, maker 0xC2
    r = dir.Run({"-r", journal});
    EXPECT_NE(r.out.find("\nError: the journal " + journal +
                         " is for chip 0xEF3011, this chip is 0xC22011: put-back refused\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 255);
    Bytes damaged = kept;
    damaged[damaged.size() - 1] ^= 1;
    dir.WriteBytes(name, damaged);
    dir.Configure(GetParam(), "W25X10");
    r = dir.Run({"-r", journal});
    EXPECT_NE(r.out.find("\nError: the journal " + journal +
                         " is damaged (its checksum or layout is wrong)\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(dir.Journals().size(), 1u);

    dir.WriteBytes(name, kept);
    r = dir.Run({"-r", journal});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nErased unit 0x00001000: the interrupted range's bytes in it stay "
                         "erased\n"),
              std::string::npos);
    Bytes want = image;
    std::fill(want.begin() + 0x1080, want.begin() + 0x2F80, 0xFF);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == want);
    EXPECT_TRUE(dir.Journals().empty());
}

INSTANTIATE_TEST_SUITE_P(Cables, Journal, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
