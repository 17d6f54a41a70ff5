// A cable that records what reaches the chip and answers the id read with a given id.
#pragma once

#include "run/tamrel.h"

class RecordingChip : public CInterface {
public:
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        frames++;
        if (read <= 0) return;
        const bool id_read = buf[0] == 0x9F;
        for (long i = 0; i < total; i++) buf[i] = id_read && i >= 1 && i <= 5 ? id[i - 1] : 0;
    }
    int ADAPTER_ON() override {
        power_ups++;
        return 1;
    }
    bool Untouched() const { return frames == 0 && power_ups == 0; }
    void Forget() { frames = power_ups = 0; }

    unsigned char id[5] = {};  // manufacturer, two device id bytes, two extended id bytes
    long frames = 0;
    long power_ups = 0;
};
