// A SPI NOR flash chip at pin level (CS#, SCK, MOSI, WP# in; MISO out; mode 0, MSB first),
// with busy times on a virtual clock.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

struct FlashChipParams {
    uint8_t mnf_id = 0xEF;
    uint16_t jedec_id = 0x4016;
    uint16_t ext_id = 0;
    uint32_t total_size = 0x400000;
    uint32_t sector_size = 0x10000;  // size erased by 0xD8
    uint8_t status = 0;              // status register at power-up
};

enum class ChipFault { None, MisoStuckHigh, MisoStuckLow, WelNeverSets, AlwaysBusy };

struct ChipStats {
    uint64_t frames = 0;
    uint64_t commands[256] = {};
    uint64_t bytes_read = 0;
    uint64_t bytes_programmed = 0;
    std::map<uint32_t, uint64_t> erases;  // erase size in bytes -> count (chip erase: total size)
};

class CFlashChip {
public:
    explicit CFlashChip(const FlashChipParams& params);

    // Pin level: apply the levels driven by the cable; edges are detected internally.
    void SetPins(bool cs, bool sck, bool mosi, bool wp);
    bool Miso() const;

    // Byte level, for frame-level tests: select, exchange bytes MSB first, deselect.
    void Select();
    uint8_t Exchange(uint8_t out);
    void Deselect();

    // Virtual time in nanoseconds; busy operations finish when it passes their end.
    void AdvanceTime(uint64_t ns);
    uint64_t Now() const;

    void SetFault(ChipFault fault);
    uint8_t Status() const;  // current status register (busy bit from the clock)
    std::vector<uint8_t>& Memory();
    const FlashChipParams& Params() const;
    const ChipStats& Stats() const;
};
