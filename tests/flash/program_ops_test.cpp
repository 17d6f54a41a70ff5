#include <cstdlib>

#include "chip_bench.h"

namespace {

using ProgramOps = ChipBench;

// Each refusal comes before any erase or program frame; the write refuses alike where marked.
TEST_F(ProgramOps, RefusalsSendNoEraseOrProgramFrame) {
    const std::string started =
        "\nStatus:\t\t0x02h\tWE enabled\nFile: \"image.bin\"\tsize: 0x200 Bytes, Occupy Sectors: 3";
    const std::tuple<void (*)(Setup_struct&, CFlashChip&), std::string, bool> cases[] = {
        {[](Setup_struct& s, CFlashChip&) { s.cmd_erase = 0; },  // would go out as a chip erase
         "\nError: no erase command known for this chip's erase unit, range erase refused\n",
         false},
        {[](Setup_struct& s, CFlashChip&) { s.erase_size = 0; },
         "\nError: erase unit size of the chip is 0, can`t work out the erase units\n", true},
        {[](Setup_struct& s, CFlashChip&) { s.addr_begin = 0x3FF00, s.addr_last = 0x400FF; },
         "\nError: range 0x3FF00..0x400FF is outside the chip (0x40000 Bytes)\n", true},
        {[](Setup_struct&, CFlashChip& c) { c.SetFault(ChipFault::WelNeverSets); },
         "\nStatus:\t\t0x00h\tWE disabledCan`t erase, chip write protected!", false},
        {[](Setup_struct&, CFlashChip&) {
             Flash_Set_Alloc([](size_t) -> void* { return nullptr; });
         },
         started + "\nMemory allocation Error!\n", true},
        {[](Setup_struct&, CFlashChip& c) {  // the head is had, the tail is not
             c.Memory()[0x10000] = 0;
             Flash_Set_Alloc([](size_t n) -> void* {
                 static int calls;
                 return ++calls % 2 ? malloc(n) : nullptr;
             });
         },
         started + "\nRead data Head:\tS1\tOK\nMemory allocation Error!\n", true},
    };
    UseFile(std::vector<unsigned char>(0x200, 0x5A));
    setup.addr_begin = 0x12345, setup.addr_last = 0x32344;
    setup.has_addr_begin = setup.has_addr_last = 1;
    setup.do_erase = setup.do_write = 1;
    const Setup_struct base = setup;
    for (const auto& [arrange, erase_out, write_refused] : cases) {
        setup = base;
        arrange(setup, chip);
        EXPECT_EQ(erase_out, Out([&] { return pgm.FLASH_Erase(); }));
        EXPECT_EQ(-1, r);
        if (write_refused) Out([&] { return pgm.FLASH_Write(); });
        EXPECT_EQ(-1, r) << erase_out;
        for (unsigned char op : {0x02, 0x20, 0xD8, 0xC7})
            EXPECT_EQ(0u, chip.Stats().commands[op]) << erase_out;
        chip.SetFault(ChipFault::None);
        Flash_Set_Alloc(nullptr);
    }
}

// Chunk lengths: never across a page end; the last chunk is the bytes left.
TEST_F(ProgramOps, DataAlignKeepsChunksInsideOnePage) {
    const std::tuple<unsigned long, int, bool, unsigned long> cases[] = {
        {0x1000, 256, false, 256},  {0x10F0, 256, false, 0x10}, {0x10F0, 8, true, 8},
        {0x10F0, 0x20, true, 0x10}, {0x1000, 0x20, true, 0x20}, {0x1000, -5, true, 0}};
    for (const auto& [addr, len, last, n] : cases)
        EXPECT_EQ(n, pgm.Data_Align(addr, len, last)) << std::hex << addr << " " << len;
}

// Chip bytes the file has no byte for are differences, not compared with stale buffer bytes.
TEST_F(ProgramOps, VerifyCountsChipBytesPastTheFileEnd) {
    UseFile(std::vector<unsigned char>(chip.Memory().begin(), chip.Memory().begin() + 0x100));
    setup.addr_last = 0x1FF, setup.has_addr_last = 1;
    setup.do_verify = setup.do_write = 1;
    EXPECT_EQ(
        "\nVerify data:\t\t0x00000100 (50%)\rVerify data:\t\t0x00000200 (100%) Errors: 256\r"
        "\nVerify Error!",
        Out([&] { return pgm.FLASH_Verify(); }));
    EXPECT_EQ(-1, r);
}

TEST_F(ProgramOps, UnlockFailsWhileWpIsLow) {
    FlashChipParams p;
    p.status = 0x9C;
    CFlashChip locked(p);
    locked.SetPins(true, false, false, false);  // deselected, WP# low
    cable.chip = &locked;
    EXPECT_EQ(
        "Status = 9Eh, WE bit is enabled\nUnlocking...\nStatus = 9Ch, unlock failed, set WP# "
        "pin level high\n.",
        Out([&] { return pgm.FLASH_Unlock(); }));
    EXPECT_EQ(-1, r);
    cable.chip = &chip;
}

}  // namespace
