// Chips above 16 MiB: the last bytes of 64 and 128 MiB chips, and the 4-byte mode of parts
// without 4-byte opcodes left on every way out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

// A test part like W25Q256 that needs the write enable latch to enter and leave 4-byte mode.
const char kWrenRecord[] =
    "\n# test part\nname=WRENTEST mnfid=0xEF jedec=0x40FE page=256 block=4096 sector=0x10000 "
    "volime=0x2000000 addr4=wren_en4b erase=0x20:4K,0x52:32K,0xD8:64K\n";

class FourByte : public ::testing::TestWithParam<Cable> {
protected:
    // An image of `size` bytes, zero but for `bytes` at `at`, written sparse.
    void Image(uint32_t size, uint32_t at, const std::vector<uint8_t>& bytes) {
        const int fd = open(dir.Path("flash.bin").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    void AddWrenRecord() {
        const std::vector<uint8_t> db = dir.ReadBytes("flash_db.cfg");
        dir.Write("flash_db.cfg", std::string(db.begin(), db.end()) + kWrenRecord);
    }
    // The stats line of the last run.
    std::string Stats() {
        const std::vector<uint8_t> s = dir.ReadBytes("stats.json");
        std::remove(dir.Path("stats.json").c_str());
        return std::string(s.begin(), s.end());
    }

    TargetDir dir;
};

TEST_P(FourByte, DumpAndVerifyTheLastBytesOfLargeChips) {
    const std::vector<uint8_t> tail = Pattern(0x10000, 21);
    dir.Configure(GetParam(), "S25FL512S");
    Image(kS25FL512S.total, 0x3FF0000, tail);
    RunResult r = dir.Run({"-d", "tail.bin", "-ab=0x3FF0000", "-al=0x3FFFFFF"});
    const std::string pre = Preamble(r.out, GetParam(), kS25FL512S) + "\n";
    EXPECT_EQ(Squeeze(r.out, 256), Squeeze(pre + "Reading dump:\t\t0x03FF0100 (0%)\r...\r"
                                                 "Reading dump:\t\t0x04000000 (100%)\r\n",
                                           256));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.ReadBytes("tail.bin") == tail);

    r = dir.Run({"-v", "tail.bin", "-ab=0x3FF0000"});
    EXPECT_EQ(Squeeze(r.out, 256),
              Squeeze(pre + "\nFile: \"tail.bin\"\tsize: 0x10000 Bytes\nVerify Sectors:\t\t1 x "
                            "262144 Bytes\nVerify data:\t\t0x03FF0100 (0%)\r...\r"
                            "Verify data:\t\t0x04000000 (100%)\r\nVerify OK\n\n",
                      256));
    EXPECT_EQ(r.status, 1);
    std::vector<uint8_t> other = tail;
    other.back() ^= 1;  // the chip's last byte
    dir.WriteBytes("other.bin", other);
    r = dir.Run({"-v", "other.bin", "-ab=0x3FF0000"});
    const std::string last =
        "Verify data:\t\t0x04000000 (100%) Errors: 1\r\nVerify Error!" +
        Fmt("\n0x03FFFFFF: file 0x%02X, chip 0x%02X (bits 0x01)\n", other.back(), tail.back());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
    EXPECT_EQ(r.status, 255);

    const std::vector<uint8_t> end = Pattern(0x100, 22);
    dir.Configure(GetParam(), "MX66L1G45G");
    Image(kMX66L1G45G.total, 0x7FFFF00, end);
    r = dir.Run({"-d", "end.bin", "-ab=0x7FFFF00"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kMX66L1G45G) +
                         "\nReading dump:\t\t0x08000000 (100%)\r\n");
    EXPECT_TRUE(dir.ReadBytes("end.bin") == end);
}

// A range erase across 16 MiB interrupted at several points: every byte outside the range
// survives and the chip ends in 3-byte mode, with 4-byte opcodes and in 4-byte mode alike.
TEST_P(FourByte, InterruptedEraseAcrossSixteenMiB) {
    AddWrenRecord();
    // Small head and tail, in 4 KiB and in 64 KiB units alike.
    const uint32_t S = 0xFF0100, E = 0x100FF00;
    const std::vector<uint8_t> around = Pattern(0x40000, 23);
    // Before the first erase frame, between erase frames, during the restore.
    // The last two: a chip known only by its SFDP tables (three more frames to identify).
    const std::string sfdp_only = "GD25Q256\nemulate_sfdp=0xC84099";
    const std::pair<std::string, int> cases[] = {
        {"GD25Q256", 5}, {"GD25Q256", 12}, {"GD25Q256", 28}, {"W25Q256", 12},
        {"W25Q256", 30}, {"WRENTEST", 30}, {sfdp_only, 15},  {sfdp_only, 31}};
    for (const auto& [chip, frames] : cases) {
        SCOPED_TRACE(chip + " " + std::to_string(frames));
        Image(0x2000000, 0xFE0000, around);
        dir.Configure(GetParam(), chip,
                      Fmt("emulate_interrupt_after=%d\nemulate_stats=stats.json\n", frames));
        RunResult r = dir.Run({"-e", Fmt("-ab=0x%X", S), Fmt("-al=0x%X", E - 1)});
        EXPECT_EQ(r.status, 255);
        EXPECT_NE(r.out.find("\nInterrupted: operation stopped, adapter powered down.\n"),
                  std::string::npos);
        const std::vector<uint8_t> after = dir.ReadBytes("flash.bin");
        ASSERT_EQ(after.size(), 0x2000000u);
        EXPECT_TRUE(
            std::equal(around.begin(), around.begin() + (S - 0xFE0000), after.begin() + 0xFE0000));
        EXPECT_TRUE(std::equal(around.begin() + (E - 0xFE0000), around.end(), after.begin() + E));
        auto zero = [](uint8_t b) { return b == 0; };
        EXPECT_TRUE(std::all_of(after.begin(), after.begin() + 0xFE0000, zero) &&
                    std::all_of(after.begin() + 0x1020000, after.end(), zero));
        EXPECT_NE(Stats().find("\"four_byte_mode\":false"), std::string::npos);
    }
}

// Parts driven in their 4-byte mode enter it once and leave it on success and on failure;
// parts with 4-byte opcodes never enter it. A chip still busy at the end (a 9 s page program
// that outlasts the 4 s waits of the write and of its tail) is waited for: a busy chip would
// ignore the exit.
TEST_P(FourByte, FourByteModeIsLeftOnEveryWayOut) {
    AddWrenRecord();
    const std::vector<uint8_t> data = Pattern(0x100, 24);
    dir.WriteBytes("data.bin", data);
    std::vector<uint8_t> other = data;
    other[0xFF] ^= 0x10;
    Image(0x2000000, 0x1FFFF00, data);
    dir.WriteBytes("other.bin", other);
    const std::string slow = "\nemulate_fault=slow:9000";
    const std::tuple<std::string, const char*, const char*, int, const char*> cases[] = {
        {"W25Q256", "-v", "data.bin", 1, "\"0xB7\":1,"},
        {"W25Q256", "-v", "other.bin", 255, "\"0xB7\":1,"},
        {"WRENTEST", "-v", "data.bin", 1, "\"0xB7\":1,"},
        {"WRENTEST", "-v", "other.bin", 255, "\"0xB7\":1,"},
        {"GD25Q256", "-v", "data.bin", 1, "\"0x13\":1,"},
        {"GD25Q256", "-v", "other.bin", 255, "\"0x13\":1,"},
        {"W25Q256" + slow, "-w", "data.bin", 255, "\"0xB7\":1,"},
    };
    for (const auto& [chip, op, file, status, entered] : cases) {
        SCOPED_TRACE(chip + " " + op + " " + file);
        dir.Configure(GetParam(), chip, "emulate_stats=stats.json\n");
        RunResult r = dir.Run({op, file, op[1] == 'v' ? "-ab=0x1FFFF00" : "-ab=0x1FFF000"});
        EXPECT_EQ(r.status, status) << r.out;
        const std::string stats = Stats();
        EXPECT_NE(stats.find(entered), std::string::npos) << stats;
        const bool mode = chip[0] != 'G';
        EXPECT_EQ(mode, stats.find("\"0xE9\":1}") != std::string::npos) << stats;
        EXPECT_EQ(mode, stats.find("\"0xB7\"") != std::string::npos) << stats;
        EXPECT_NE(stats.find("\"four_byte_mode\":false"), std::string::npos) << stats;
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, FourByte, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
