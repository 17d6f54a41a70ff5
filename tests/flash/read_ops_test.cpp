#include <unistd.h>

#include <fstream>
#include <iterator>

#include "chip_bench.h"

namespace {

class ReadOps : public ChipBench {
  protected:
    std::string dump = testing::TempDir() + "dump_" + std::to_string(getpid()) + ".bin";
    ~ReadOps() override { remove(dump.c_str()); }
    std::vector<unsigned char> Dumped() {
        std::ifstream f(dump, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
    }
};

TEST_F(ReadOps, DumpCopiesTheRangeOfTheOptions) {
    struct Case {
        long ab, al;
        unsigned long first, len;
    } cases[] = {
        {-1, -1, 0, 0x40000},
        {-1, 0x1FF, 0, 0x200},
        {0x100, 0x1FF, 0x100, 0x100},
        {0x3FF00, -1, 0x3FF00, 0x100},  // -ab= alone stops at the chip's end
    };
    setup.dump_name = dump;
    for (const Case& c : cases) {
        Range(c.ab, c.al);
        Out([&] { return pgm.FLASH_Dump(); });
        EXPECT_EQ(r, 1);
        EXPECT_EQ(Dumped(), Mem(c.first, c.first + c.len)) << std::hex << c.first;
    }
    Range(-1, 299);
    EXPECT_EQ(Out([&] { return pgm.FLASH_Dump(); }),
              "Reading dump:\t\t0x00000100 (85%)\rReading dump:\t\t0x0000012C (100%)\r");
}

TEST_F(ReadOps, FailedDumpRemovesOnlyTheFileItCreated) {
    setup.dump_name = testing::TempDir() + "no_such_dir/d.bin";
    EXPECT_EQ(Out([&] { return pgm.FLASH_Dump(); }),
              "\nError: can`t create file " + setup.dump_name + "\n");
    EXPECT_EQ(r, -1);

    setup.dump_name = "/dev/full";
    EXPECT_EQ(Out([&] { return pgm.FLASH_Dump(); }), "Error: cannot write block 0 to file\n");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(access("/dev/full", F_OK), 0);

    setup.dump_name = dump;  // an interrupted dump leaves no partial image behind
    cable.interrupt_op = 0x03;
    cable.interrupt_after = 2;
    Out([&] { return pgm.FLASH_Dump(); });
    EXPECT_EQ(r, -1);
    EXPECT_NE(access(dump.c_str(), F_OK), 0);
}

TEST_F(ReadOps, ShowMemTables) {
    const std::string header =
        "\nADDR:\t00 01 02 03 04 05 06 07 | 08 09 0A 0B 0C 0D 0E 0F \n"
        "---------------------------------------------------------\n";
    Range(-1, 0x13);
    EXPECT_EQ(Out([&] { return pgm.FLASH_ShowMem(); }),
              header +
                  "000000: 00 01 02 03 04 05 06 07 | 08 09 0A 0B 0C 0D 0E 0F \n"
                  "000010: 10 11 12 13             |                         \n");

    Range(0x1005, -1);  // two tables of a page each; rows follow the first address
    const std::string out = Out([&] { return pgm.FLASH_ShowMem(); });
    EXPECT_EQ(out.find("001005: "), header.size());
    EXPECT_EQ(out.find(header, 1) + header.size(), out.find("001105: "));
}

}  // namespace
