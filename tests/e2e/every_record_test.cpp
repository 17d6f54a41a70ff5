// Every record of the shipped flash_db.cfg, read when the test runs, on the emulated chip
// playing it: identified by the id it answers, a program sequence whose range starts and
// ends inside units in the middle of the chip and crosses the unit edge there, a dump, and
// every byte of the image checked afterwards. Records alternate between the cables; the two
// halves of the file run as two tests. A sanitizer build, several times slower per bit on the
// emulated parallel port, takes an eighth of the records.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

const uint32_t kEmulatorLimit = 0x10000000;  // 256 MiB
const uint32_t kAround = 0x40000;            // bytes of data on each side of the middle
const uint32_t kHalf = 0x180;                // the range: this much on each side of it
#if defined(__SANITIZE_ADDRESS__)
const size_t kStride = 16;
#else
const size_t kStride = 2;
#endif

struct Record {
    std::string name;
    uint32_t size;
    bool locked;  // blocks locked at power-up until -u (unlock=ulbpr)
};

std::vector<Record> ShippedRecords() {
    std::ifstream db(TAMREL_SOURCE_DIR "/flash_db.cfg");
    std::vector<Record> records;
    for (std::string line; std::getline(db, line);) {
        if (line.rfind("name=", 0) != 0) continue;
        std::istringstream words(line.substr(5));
        Record r;
        words >> r.name;
        const size_t at = line.find(" volime=");
        r.size = at == std::string::npos ? 0 : std::stoul(line.substr(at + 8), nullptr, 0);
        r.locked = line.find(" unlock=ulbpr") != std::string::npos;
        records.push_back(r);
    }
    return records;
}

// The image: zero (a hole) but for a pattern around the middle, which every power-of-two unit
// up to kAround has as an edge.
std::vector<uint8_t> WriteImage(const TargetDir& dir, uint32_t size, uint32_t seed) {
    const uint32_t from = size / 2 - std::min(size / 2, kAround);
    const std::vector<uint8_t> around = Pattern(std::min(size, 2 * kAround), seed);
    const int fd = open(dir.Path("flash.bin").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_EQ(ftruncate(fd, size), 0);
    EXPECT_EQ(pwrite(fd, around.data(), around.size(), from), static_cast<ssize_t>(around.size()));
    close(fd);
    return around;
}

// The image must be zero outside [from, from + bytes.size()) and `bytes` inside.
void CheckImage(const TargetDir& dir, uint32_t size, uint32_t from,
                const std::vector<uint8_t>& bytes) {
    const int fd = open(dir.Path("flash.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_END), static_cast<off_t>(size));
    std::vector<uint8_t> chunk(0x100000), zero(chunk.size(), 0);
    for (uint32_t at = 0; at < size; at += static_cast<uint32_t>(chunk.size())) {
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(chunk.size()), size - at);
        ASSERT_EQ(pread(fd, chunk.data(), n, at), static_cast<ssize_t>(n));
        for (uint32_t i = 0; i < n;) {  // the part of the chunk outside the data, then inside
            const uint32_t a = at + i;
            const bool inside = a >= from && a < from + bytes.size();
            const uint32_t end = inside     ? std::min<uint32_t>(from + bytes.size() - at, n)
                                 : a < from ? std::min(from - at, n)
                                            : n;
            const uint8_t* want = inside ? bytes.data() + (a - from) : zero.data();
            if (memcmp(chunk.data() + i, want, end - i) != 0) {
                ADD_FAILURE() << "image differs in 0x" << std::hex << a << "..0x" << at + end;
                close(fd);
                return;
            }
            i = end;
        }
    }
    close(fd);
}

class EveryRecord : public ::testing::TestWithParam<int> {};

TEST_P(EveryRecord, IsIdentifiedProgrammedAndDumped) {
    const std::vector<Record> records = ShippedRecords();
    ASSERT_GT(records.size(), 300u);
    TargetDir dir;
    for (size_t i = static_cast<size_t>(GetParam()); i < records.size(); i += kStride) {
        const Record& rec = records[i];
        const Cable cable = (i / kStride) % 2 ? Cable::Usb : Cable::Lpt;
        SCOPED_TRACE(rec.name + " on " + CableName(cable));
        if (rec.size > kEmulatorLimit) {
            std::cout << "note: " << rec.name
                      << " is larger than the emulator's 256 MiB: skipped\n";
            continue;
        }
        std::remove(dir.Path("flash.bin.status").c_str());  // the last record's
        dir.Configure(cable, rec.name);
        std::vector<uint8_t> image = WriteImage(dir, rec.size, static_cast<uint32_t>(i));
        const uint32_t around_from = rec.size / 2 - std::min(rec.size / 2, kAround);
        const uint32_t S = rec.size / 2 - kHalf;
        const std::vector<uint8_t> data = Pattern(2 * kHalf, static_cast<uint32_t>(i) + 1000);
        dir.WriteBytes("data.bin", data);

        if (rec.locked) {
            EXPECT_EQ(dir.Run({"-u"}).status, 1);
        }
        const std::vector<std::string> sequence = {"-e", "-w", "-v", "data.bin",
                                                   Fmt("-ab=0x%X", S)};
        RunResult r = dir.Run(sequence);
        // Parts that share an id and that no SFDP table tells apart: refused naming this
        // record among the candidates, then taken by name.
        const size_t shared = r.out.find("\nWarning: the chip answers the id of ");
        if (shared != std::string::npos && r.status == 255) {
            const std::string names = r.out.substr(shared, r.out.find('\n', shared + 1) - shared);
            EXPECT_NE((names + ",").find(" " + rec.name + ","), std::string::npos) << names;
            std::vector<std::string> by_name = sequence;
            by_name.insert(by_name.begin(), "-n=" + rec.name);
            r = dir.Run(by_name);
        }
        EXPECT_NE(r.out.find("\nDevice name:\t\"" + rec.name + "\"\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nRead data Head:"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nRead data Tail:"), std::string::npos) << r.out;
        const std::string verified = "\nVerify OK\n\n";
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), verified.size())), verified)
            << r.out;
        EXPECT_EQ(r.status, 1);
        std::copy(data.begin(), data.end(), image.begin() + (S - around_from));

        const uint32_t first = S - 0x100, last = S + 2 * kHalf + 0xFF;
        r = dir.Run({"-d", "dump.bin", Fmt("-ab=0x%X", first), Fmt("-al=0x%X", last)});
        EXPECT_EQ(r.status, 1) << r.out;
        const std::vector<uint8_t> dumped = dir.ReadBytes("dump.bin");
        EXPECT_TRUE(
            std::equal(dumped.begin(), dumped.end(), image.begin() + (first - around_from)) &&
            dumped.size() == last + 1 - first)
            << "dump differs";
        CheckImage(dir, rec.size, around_from, image);
    }
}

INSTANTIATE_TEST_SUITE_P(Halves, EveryRecord, ::testing::Values(0, 1));

}  // namespace
