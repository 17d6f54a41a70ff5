// A programmer object wired to the byte-level chip model; delays advance the chip's clock
// instead of sleeping.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/delay.h"
#include "emulator/flash_chip.h"
#include "flash/flash_alloc.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

class ChipCable : public CInterface {
public:
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        chip->Select();
        for (long i = 0; i < total; i++) {
            const unsigned char in = chip->Exchange(buf[i]);
            if (read > 0) buf[i] = in;
        }
        chip->Deselect();
    }
    CFlashChip* chip = nullptr;  // delays advance its clock
};

// A 256 KiB chip of 64 KiB erase units.
class ChipBench : public ::testing::Test {
protected:
    ChipBench() : chip(FlashChipParams()), pgm(&setup) {
        setup.page_size = 256, setup.total_size = 0x40000;
        setup.erase_size = 0x10000, setup.cmd_erase = 0xD8;
        pgm.adapter = &cable;
        cable.chip = &chip;
        delay_set_sink([](unsigned long long ns,
                          void* c) { static_cast<ChipCable*>(c)->chip->AdvanceTime(ns); },
                       &cable);
        Interrupt_Install();
    }
    ~ChipBench() override {
        delay_set_sink(nullptr, nullptr);
        Flash_Set_Alloc(nullptr);
        Interrupt_Clear();
    }
    void UseFile(const std::vector<unsigned char>& bytes) {
        setup.data_file = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), setup.data_file);
        setup.file_size = static_cast<uint32_t>(bytes.size());
        setup.file_name = "image.bin", setup.has_file_name = 1;
    }
    template <class Op>
    std::string Out(Op op) {  // runs op, keeps its result in r, returns what it printed
        fflush(stdout);
        testing::internal::CaptureStdout();
        r = op();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    Setup_struct setup{};
    CFlashChip chip;
    ChipCable cable;
    CTAMREL pgm;
    int r = 0;
};
