// Scripted SPI chip for unit tests: records every frame and answers by opcode.
#pragma once

#include <deque>
#include <vector>

#include "config/temp_cwd.h"
#include "run/tamrel.h"

class FakeChip : public CInterface {
public:
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        frames.emplace_back(buf, buf + total);
        if (read <= 0) return;
        const unsigned op = buf[0], addr = total >= 4 ? buf[1] << 16 | buf[2] << 8 | buf[3] : 0;
        for (long i = 0; i < total; i++) buf[i] = i == 0 ? 0xEE : 0;  // 0xEE: opcode time
        for (long i = 1; op == 0x9F && i < total && i <= 5; i++) buf[i] = id[i - 1];
        for (long i = 4; op == 0x03 && i < total; i++) buf[i] = (addr + i - 4) & 0xFF;
        for (long i = 5; op == 0x5A && i < total; i++) buf[i] = ~(addr + i - 5) & 0xFF;
        if (op == 0x05 && total > 1 && !status.empty()) buf[1] = status.front(), status.pop_front();
    }
    int ADAPTER_ON() override { return 1; }

    unsigned char id[5] = {0xEF, 0x40, 0x16, 0, 0};
    std::deque<unsigned char> status;  // one per status read, then 0 (idle)
    std::vector<std::vector<unsigned char>> frames;
};

// A setup record and programmer object wired to a FakeChip, run in a fresh temp folder.
class ChipTest : public TempCwd {
protected:
    ChipTest() { pgm.adapter = &chip; }
    template <class F>
    static std::string Output(F f) {  // what f printed
        fflush(stdout), testing::internal::CaptureStdout();
        return f(), fflush(stdout), testing::internal::GetCapturedStdout();
    }

    FakeChip chip;  // outlives pgm
    Setup_struct setup{};
    CTAMREL pgm{&setup};
};
