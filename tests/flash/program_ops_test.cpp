#include "chip_bench.h"

namespace {

std::vector<unsigned char> Bytes(size_t n, unsigned char v = 0) {
    std::vector<unsigned char> b(n, v);
    for (size_t i = 0; v == 0 && i < n; i++) b[i] = static_cast<unsigned char>(i * 7 + 1);
    return b;
}

bool Has(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

using ProgramOps = ChipBench;

TEST_F(ProgramOps, HeadAndTailAreSavedAndRestoredInPageFrames) {
    Range(0x12345, 0x32344);
    EXPECT_EQ(Out([&] { return pgm.Save_Head_Tail(); }),
              "\nRead data Head:\tS1\tOK\nRead data Tail:\tS3\tOK");
    EXPECT_EQ(Chunks({{pgm.head_addr, pgm.head_len}, {pgm.tail_addr, pgm.tail_len}}),
              Chunks({{0x10000, 0x2345}, {0x32345, 0xDCBB}}));
    Out([&] { return pgm.FLASH_Write_Tail(pgm.tail_addr); });
    Chunks want = {{0x32345, 0xBB}};
    for (unsigned long a = 0x32400; a < 0x40000; a += 256) want.push_back({a, 256});
    EXPECT_EQ(cable.Sent(0x02), want);

    setup.erase_size = 0x40000;  // a head larger than io_buf is read in several frames
    Range(0x30000, 0x3FFFF);
    cable.frames.clear();
    Out([&] { return pgm.Wait_WriteBusy(200, 20) + pgm.Save_Head_Tail(); });
    EXPECT_EQ(cable.Sent(0x03), Chunks({{0, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x10000}}));
    EXPECT_EQ(std::vector<unsigned char>(pgm.head_buf, pgm.head_buf + pgm.head_len),
              Mem(0, 0x30000));
}

TEST_F(ProgramOps, ProgramSequenceChangesOnlyTheRange) {
    Range(0x12345, -1);
    UseFile(Bytes(0x20000));
    setup.do_erase = setup.do_write = setup.do_verify = 1;
    const std::string erase = Out([&] { return pgm.FLASH_Erase(); });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(cable.Sent(0xD8), Chunks({{0x18000, 0}, {0x28000, 0}, {0x38000, 0}}));
    EXPECT_TRUE(Has(erase, "size: 0x20000 Bytes, Occupy Sectors: 3"));
    EXPECT_TRUE(Has(erase, "\rErase Sector:\t1->3\tOK\nErase done"));
    EXPECT_EQ(chip.Status() & 1, 0);  // the write step must find the chip idle
    EXPECT_TRUE(KeptOutside(0x12345, 0x32345));
    EXPECT_EQ(Mem(0x12345, 0x32345), Bytes(0x20000, 0xFF));

    EXPECT_TRUE(Has(Out([&] { return pgm.FLASH_Write(); }), "\nFile recorded.\n"));
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(Has(Out([&] { return pgm.FLASH_Verify(); }), "(100%)\r\nVerify OK\n"));
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(KeptOutside(0x12345, 0x32345));
    EXPECT_EQ(Mem(0x12345, 0x32345), Bytes(0x20000));
}

TEST_F(ProgramOps, RefusedEraseOrWriteTouchesNothing) {
    struct Case {
        void (*arrange)(Setup_struct&, CFlashChip&);
        const char* erase_out;
        bool write_refused;
    } cases[] = {
        {[](Setup_struct& s, CFlashChip&) { s.cmd_erase = 0; },
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
         "\nStatus:\t\t0x02h\tWE enabled\nFile: \"image.bin\"\tsize: 0x200 Bytes, Occupy Sectors: 3"
         "\nMemory allocation Error!\n",
         true},
    };
    for (const Case& c : cases) {
        Reset();
        UseFile(Bytes(0x200));
        Range(0x12345, 0x32344);
        setup.do_erase = setup.do_write = 1;
        c.arrange(setup, chip);
        EXPECT_EQ(Out([&] { return pgm.FLASH_Erase(); }), c.erase_out);
        EXPECT_EQ(r, -1);
        if (c.write_refused) {
            Out([&] { return pgm.FLASH_Write(); });
            EXPECT_EQ(r, -1) << c.erase_out;
        }
        EXPECT_TRUE(cable.Sent(0xD8).empty() && cable.Sent(0xC7).empty() &&
                    cable.Sent(0x02).empty());
        chip.SetFault(ChipFault::None);
        Flash_Set_Alloc(nullptr);
    }
}

TEST_F(ProgramOps, WriteProgramsPageBoundedChunksUpToTheFileEnd) {
    Erased(0, 0x10000);
    Range(0x1F0, -1);
    UseFile(Bytes(0x120));
    setup.do_write = 1;
    Out([&] { return pgm.FLASH_Write(); });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(cable.Sent(0x02), Chunks({{0x1F0, 0x10}, {0x200, 0x100}, {0x300, 0x10}}));

    Range(0x1000, 0x13FF);  // a file shorter than the range
    const std::string out = Out([&] { return pgm.FLASH_Write(); });
    EXPECT_TRUE(Has(out, "(25%)\r\nError: can`t read file by address: 256\n"));
    EXPECT_FALSE(Has(out, "File recorded."));
    EXPECT_EQ(r, -1);
}

TEST_F(ProgramOps, VerifyCountsDifferencesAndChipBytesPastTheFile) {
    std::vector<unsigned char> data = Mem(0, 0x300);
    data[0x100] ^= 1;
    data[0x180] ^= 0x80;
    data[0x1FF] = 0;
    UseFile(data);
    Range(0, 0x2FF);
    setup.do_verify = setup.do_write = 1;
    EXPECT_EQ(Out([&] { return pgm.FLASH_Verify(); }),
              "\nVerify data:\t\t0x00000100 (33%)\rVerify data:\t\t0x00000200 (66%) Errors: 3\r"
              "Verify data:\t\t0x00000300 (100%) Errors: 3\r\nVerify Error!");
    EXPECT_EQ(r, -1);

    UseFile(Mem(0, 0x100));
    Range(0, 0x1FF);
    EXPECT_TRUE(
        Has(Out([&] { return pgm.FLASH_Verify(); }), "(100%) Errors: 256\r\nVerify Error!"));
    EXPECT_EQ(r, -1);
}

TEST_F(ProgramOps, UnlockOutcomes) {
    struct Case {
        uint8_t status;
        bool wp_low;
        ChipFault fault;
        const char* out;
        int result;
    } cases[] = {
        {0x9C, false, ChipFault::None,
         "Status = 9Eh, WE bit is enabled\nUnlocking...\nStatus = 00h, device is unlocked now.\n",
         1},
        {0x9C, true, ChipFault::None,
         "Status = 9Eh, WE bit is enabled\nUnlocking...\nStatus = 9Ch, unlock failed, set WP# pin "
         "level high\n.",
         -1},
        {0x00, false, ChipFault::WelNeverSets, "Status = 00h, WE bit is disabled\n", -1},
    };
    for (const Case& c : cases) {
        FlashChipParams p;
        p.status = c.status;
        CFlashChip local(p);
        local.SetFault(c.fault);
        local.SetPins(true, false, false, !c.wp_low);
        Rewire(&local);
        EXPECT_EQ(Out([&] { return pgm.FLASH_Unlock(); }), c.out);
        EXPECT_EQ(r, c.result);
        Rewire(&chip);
    }
}

TEST_F(ProgramOps, InterruptStopsEraseAndWriteButHeadAndTailGoBack) {
    Range(0x12345, 0x32344);
    setup.do_erase = 1;
    cable.interrupt_op = 0xD8;
    cable.interrupt_after = 1;
    EXPECT_FALSE(Has(Out([&] { return pgm.FLASH_Erase(); }), "Erase done"));
    EXPECT_EQ(r, -1);
    EXPECT_EQ(cable.Sent(0xD8).size(), 1u);
    EXPECT_TRUE(KeptOutside(0x12345, 0x32345));

    Interrupt_Clear();
    Erased(0x20000, 0x20300);
    UseFile(Bytes(0x300));
    Range(0x20000, -1);
    setup.do_write = 1;
    cable.frames.clear();
    cable.interrupt_op = 0x02;
    cable.interrupt_after = 2;
    EXPECT_FALSE(Has(Out([&] { return pgm.FLASH_Write(); }), "File recorded."));
    EXPECT_EQ(r, -1);
    std::vector<unsigned char> want = Bytes(0x300);
    std::fill(want.begin() + 0x200, want.end(), 0xFF);  // the third page was never sent
    EXPECT_EQ(Mem(0x20000, 0x20300), want);
    EXPECT_EQ(cable.Sent(0x02).back().first, 0x2FF00u);  // the tail went back to its end
}

}  // namespace
