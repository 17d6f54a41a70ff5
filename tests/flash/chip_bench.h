// A programmer object wired to the byte-level chip model through a cable that records every
// frame; delays advance the chip's clock instead of sleeping.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "adapters/delay.h"
#include "emulator/flash_chip.h"
#include "flash/flash_alloc.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

// A frame's address and the number of bytes after it.
using Chunk = std::pair<unsigned long, size_t>;
using Chunks = std::vector<Chunk>;

class ChipCable : public CInterface {
  public:
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        frames.emplace_back(buf, buf + total);
        chip->Select();
        for (long i = 0; i < total; i++) {
            const unsigned char in = chip->Exchange(buf[i]);
            if (read > 0) buf[i] = in;
        }
        chip->Deselect();
        if (frames.back()[0] == interrupt_op && --interrupt_after == 0) raise(SIGINT);
    }
    Chunks Sent(unsigned char op) const {
        Chunks r;
        for (const std::vector<unsigned char>& f : frames)
            if (f[0] == op) r.push_back({(f[1] << 16) | (f[2] << 8) | f[3], f.size() - 4});
        return r;
    }
    CFlashChip* chip = nullptr;
    std::vector<std::vector<unsigned char>> frames;
    unsigned char interrupt_op = 0;  // SIGINT after interrupt_after frames of this opcode
    int interrupt_after = 0;
};

inline unsigned char Pattern(unsigned long a) {
    return static_cast<unsigned char>(a % 251);
}

class ChipBench : public ::testing::Test {
  protected:
    ChipBench() : chip(FlashChipParams()), pgm(&setup) {
        Reset();
        pgm.adapter = &cable;
        for (size_t a = 0; a < chip.Memory().size(); a++) chip.Memory()[a] = Pattern(a);
        Rewire(&chip);
        Interrupt_Install();
    }
    ~ChipBench() override {
        delay_set_sink(nullptr, nullptr);
        Flash_Set_Alloc(nullptr);
        Interrupt_Clear();
    }
    void Reset() {  // a 256 KiB chip of 64 KiB sectors
        PGM_setup_ini(&setup);
        setup.page_size = 256;
        setup.total_size = 0x40000;
        setup.erase_size = 0x10000;
        setup.cmd_erase = 0xD8;
    }
    void Rewire(CFlashChip* c) {
        cable.chip = c;
        delay_set_sink(
            [](unsigned long long ns, void* x) { static_cast<CFlashChip*>(x)->AdvanceTime(ns); },
            c);
    }
    void Range(long ab, long al) {
        setup.has_addr_begin = ab >= 0;
        setup.addr_begin = ab >= 0 ? static_cast<uint32_t>(ab) : 0;
        setup.has_addr_last = al >= 0;
        setup.addr_last = al >= 0 ? static_cast<uint32_t>(al) : 0;
    }
    void UseFile(const std::vector<unsigned char>& bytes) {
        if (setup.data_file) fclose(setup.data_file);
        setup.data_file = tmpfile();
        fwrite(bytes.data(), 1, bytes.size(), setup.data_file);
        setup.file_size = static_cast<uint32_t>(bytes.size());
        setup.file_name = "image.bin";
        setup.has_file_name = 1;
    }
    void Erased(unsigned long from, unsigned long to) {
        std::fill(chip.Memory().begin() + from, chip.Memory().begin() + to, 0xFF);
    }
    std::vector<unsigned char> Mem(unsigned long from, unsigned long to) {
        return std::vector<unsigned char>(chip.Memory().begin() + from, chip.Memory().begin() + to);
    }
    // Runs op with stdout captured into its result `r`; returns what it printed.
    template <class Op>
    std::string Out(Op op) {
        fflush(stdout);
        testing::internal::CaptureStdout();
        r = op();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    bool KeptOutside(unsigned long from, unsigned long to) {
        for (size_t a = 0; a < chip.Memory().size(); a++)
            if ((a < from || a >= to) && chip.Memory()[a] != Pattern(a)) return false;
        return true;
    }

    Setup_struct setup;
    CFlashChip chip;
    ChipCable cable;
    CTAMREL pgm;
    int r = 0;
};
