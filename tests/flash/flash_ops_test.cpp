// Flash operations against the byte-level chip model; delays advance the chip's clock instead
// of sleeping.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include "adapters/delay.h"
#include "config/temp_cwd.h"
#include "emulator/flash_chip.h"
#include "flash/flash_alloc.h"
#include "flash/write_protect.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// A 256 KiB chip of 64 KiB erase units, run in a fresh temp folder. The fixture is the cable:
// each frame goes to the chip as it is.
class FlashOps : public TempCwd, public CInterface {
protected:
    FlashOps() {
        setup.page_size = 256, setup.total_size = 0x40000;
        setup.erase_size = 0x10000, setup.cmd_erase = 0xD8;
        pgm.adapter = this;
        delay_set_sink(
            [](unsigned long long ns, void* c) { static_cast<CFlashChip*>(c)->AdvanceTime(ns); },
            &chip);
        Interrupt_Install();
    }
    ~FlashOps() override {
        delay_set_sink(nullptr, nullptr), Flash_Set_Alloc(nullptr), Interrupt_Clear();
    }
    void UseFile(const std::vector<unsigned char>& bytes) {
        setup.data_file = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), setup.data_file);
        setup.file_size = static_cast<uint32_t>(bytes.size());
        setup.file_name = "image.bin", setup.has_file_name = 1;
    }
    template <class Op>
    std::string Out(Op op) {  // runs op, keeps its result in r, returns what it printed
        fflush(stdout), testing::internal::CaptureStdout();
        r = op();
        return fflush(stdout), testing::internal::GetCapturedStdout();
    }

    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        chip.Select();
        for (long i = 0; i < total; i++) {
            const unsigned char in = chip.Exchange(buf[i]);
            if (read > 0) buf[i] = in;
        }
        chip.Deselect();
    }

    Setup_struct setup{};
    CFlashChip chip{FlashChipParams()};
    CTAMREL pgm{&setup};
    int r = 0;
};

// Each refusal comes before any erase or program frame; the write refuses alike where marked.
TEST_F(FlashOps, RefusalsSendNoEraseOrProgramFrame) {
    const std::string started =
        "\nStatus:\t\t0x02h\tWE enabled\nFile: \"image.bin\"\tsize: 0x200 Bytes, Occupy Sectors: 3";
    static int allocs_left;  // allocations that succeed before the next one fails
    auto limited = [](size_t n) { return allocs_left-- > 0 ? malloc(n) : nullptr; };
    const std::tuple<bool, std::function<void()>, std::string> cases[] = {
        {false, [&] { setup.cmd_erase = 0; },  // would go out as a chip erase
         "\nError: no erase command known for this chip's erase unit, range erase refused\n"},
        {true, [&] { setup.erase_size = 0; },
         "\nError: erase unit size of the chip is 0, can`t work out the erase units\n"},
        {true, [&] { setup.addr_begin = 0x3FF00, setup.addr_last = 0x400FF; },
         "\nError: range 0x3FF00..0x400FF is outside the chip (0x40000 Bytes)\n"},
        {false, [&] { chip.SetFault(ChipFault::WelNeverSets); },
         "\nStatus:\t\t0x00h\tWE disabledCan`t erase, chip write protected!"},
        {true, [&] { allocs_left = 0, Flash_Set_Alloc(limited); },
         started + "\nMemory allocation Error!\n"},
        // The head is had, the tail is not.
        {true, [&] { chip.Memory()[0x10000] = 0, allocs_left = 1, Flash_Set_Alloc(limited); },
         started + "\nRead data Head:\tS1\tOK\nMemory allocation Error!\n"},
        {true,
         [&] {
             chip = CFlashChip({0xEF, 0x4016, 0, 0x40000, 0x10000, 0x9C});
         },
         "\nError: status register 0x9E: block protection bits 0x1C set, erase refused; -u clears "
         "them\n"},
    };
    UseFile(std::vector<unsigned char>(0x200, 0x5A));
    setup.addr_begin = 0x12345, setup.addr_last = 0x32344;
    setup.has_addr_begin = setup.has_addr_last = setup.do_erase = setup.do_write = 1;
    const Setup_struct base = setup;
    for (const auto& [write_refused, arrange, erase_out] : cases) {
        setup = base;
        arrange();
        EXPECT_EQ(erase_out, Out([&] { return pgm.FLASH_Erase(); }));
        EXPECT_EQ(-1, r);
        if (write_refused) Out([&] { return pgm.FLASH_Write(); });
        EXPECT_EQ(-1, r) << erase_out;
        for (unsigned char op : {0x02, 0x20, 0xD8, 0xC7})
            EXPECT_EQ(0u, chip.Stats().commands[op]) << erase_out;
        chip.SetFault(ChipFault::None), Flash_Set_Alloc(nullptr);
    }
    EXPECT_EQ(0, chip.Status() & 0x02) << "write enable latch left set";
}

// Which status bits protect the array differs by maker: SRP, TB and SEC alone never do; an
// Atmel DF part reports its WP# pin in bit 4; Macronix and ISSI keep QE in bit 6 and BP3 in
// bit 5; Micron keeps BP3 in bit 6 and TB in bit 5.
TEST_F(FlashOps, ProtectionBitsByMaker) {
    const std::tuple<uint8_t, unsigned char, bool> cases[] = {
        {0xEF, 0x04, true},  {0xEF, 0x10, true}, {0xEF, 0xE0, false}, {0xC8, 0x60, false},
        {0x1F, 0x10, false}, {0x1F, 0x0C, true}, {0xC2, 0x40, false}, {0xC2, 0x20, true},
        {0x9D, 0x40, false}, {0x9D, 0x20, true}, {0x20, 0x20, false}, {0x20, 0x40, true},
        {0x01, 0x60, false}, {0xBF, 0x9C, true},
    };
    for (const auto& [maker, status, refused] : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(refused, Refuse_Protected(Maker_Protect_Mask(maker), status, "write"))
            << std::hex << +maker << " " << +status;
        EXPECT_EQ(refused, !testing::internal::GetCapturedStdout().empty());
    }
}

// An interrupted dump removes the file it created, but keeps one that was there before.
TEST_F(FlashOps, InterruptedDumpRemovesOnlyAFileItCreated) {
    chip.SetFrameHook([](void*) { raise(SIGINT); }, nullptr);
    // The interrupt comes with each run's first frame (several pages): the page in hand is
    // kept.
    const std::string progress = "Reading dump:\t\t0x00000100 (0%)\r";
    setup.dump_name = "dump.bin";
    EXPECT_EQ(progress, Out([&] { return pgm.FLASH_Dump(); }));
    EXPECT_EQ(-1, r);
    EXPECT_EQ(1u, chip.Stats().frames);  // stopped before the next frame
    EXPECT_NE(0, access("dump.bin", F_OK));

    Interrupt_Clear();
    Write("old.bin", "an earlier dump");
    setup.dump_name = "old.bin";
    EXPECT_EQ(progress +
                  "\n\"old.bin\" existed before this dump: left as it is now, with an incomplete "
                  "dump\n",
              Out([&] { return pgm.FLASH_Dump(); }));
    EXPECT_EQ(-1, r);
    EXPECT_EQ(std::string(chip.Memory().begin(), chip.Memory().begin() + 0x100), Read("old.bin"));
}

}  // namespace
