// The erase commands a range erase sends: the largest the record lists that erases exactly an
// aligned part of the range, the chip erase for the whole chip.
#include "flash/range_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "chipdb/record_keys.h"
#include "flash/spi_opcodes.h"

namespace {

// "OPCODE@ADDR*N" for N steps of one command in a row ("chip" for the chip erase).
std::string Plan(const std::string& list, uint32_t unit, uint32_t total, uint8_t chip_erase,
                 unsigned long first, unsigned long end, uint8_t addr4 = ADDR4_NO) {
    Setup_struct s{};
    std::string why;
    if (!list.empty() && Erase_List_Parse(list, &s.record.erase, &why) != 1) return why;
    s.erase_size = unit, s.total_size = total, s.sector_size = 0x10000;
    s.cmd_erase = unit == 0x1000 ? 0x20 : 0xD8, s.cmd_chip_erase = chip_erase;
    s.addr4_mode = addr4;
    std::string out;
    unsigned char op = 0;
    unsigned long units = 0;
    int run = 0;
    for (const EraseStep& e : Erase_Plan(&s, Units_Of({first, end}, unit))) {
        if (run > 0 && e.opcode == op && e.units == units) {
            ++run;
            continue;
        }
        if (run > 0) out += "*" + std::to_string(run) + " ";
        char step[40];
        snprintf(step, sizeof step, "0x%02X@0x%lX", e.opcode, e.addr);
        out += e.chip ? std::string("chip") : std::string(step);
        op = e.opcode, units = e.units, run = 1;
    }
    return out + "*" + std::to_string(run);
}

TEST(ErasePlan, LargestCommandThatFitsEachAlignedPart) {
    const std::string w25q = "0x20:4K,0x52:32K,0xD8:64K";
    const uint32_t M4 = 0x400000, M16 = 0x1000000;
    const struct {
        std::string got, want;
    } cases[] = {
        // Whole 64 KiB blocks, head and tail units of the range included.
        {Plan(w25q, 0x1000, M4, 0xC7, 0x10000, 0x3F0000), "0xD8@0x10000*62"},
        {Plan(w25q, 0x1000, M4, 0xC7, 0x10080, 0x3EFF00), "0xD8@0x10000*62"},
        {Plan(w25q, 0x1000, M4, 0xC7, 0x8000, 0x2C000),
         "0x52@0x8000*1 0xD8@0x10000*1 0x52@0x20000*1 0x20@0x28000*4"},
        {Plan(w25q, 0x1000, M4, 0xC7, 0x1234, 0x1235), "0x20@0x1000*1"},
        // erase= without 0xD8: 32 KiB blocks at most.
        {Plan("0x20:4K,0x52:32K", 0x1000, M4, 0xC7, 0x8000, 0x2C000),
         "0x52@0x8000*4 0x20@0x28000*4"},
        // 0xD8 erasing 256 KiB: only on 256 KiB blocks, never on a 64 KiB one.
        {Plan("0x20:4K,0xD8:256K", 0x1000, M16, 0xC7, 0x3F000, 0x90000),
         "0x20@0x3F000*1 0xD8@0x40000*1 0x20@0x80000*16"},
        {Plan("0x20:4K,0xD8:256K", 0x1000, M16, 0xC7, 0x10000, 0x30000), "0x20@0x10000*32"},
        // Parts sharing the record erase different sizes with 0xD8: the unit's command only.
        {Plan("0x20:4K,0xD8:64K|256K", 0x1000, M16, 0xC7, 0x0, 0x50000), "0x20@0x0*80"},
        // Without erase=, 0xD8 erases sector= and 0x52 is not trusted.
        {Plan("", 0x1000, M4, 0xC7, 0x8000, 0x2C000),
         "0x20@0x8000*8 0xD8@0x10000*1 0x20@0x20000*12"},
        // The whole chip: its chip erase, or blocks when it has none.
        {Plan(w25q, 0x1000, M4, 0xC7, 0x0, M4), "chip*1"},
        {Plan(w25q, 0x1000, M4, 0x00, 0x0, M4), "0xD8@0x0*64"},
        {Plan("0xD8:64K", 0x10000, 0x20000, 0x00, 0x0, 0x20000), "0xD8@0x0*2"},
        // 4-byte opcodes: erase= lists the commands that go on the wire.
        {Plan(w25q + ",0x21:4K,0x5C:32K,0xDC:64K", 0x1000, 0x2000000, 0xC7, 0xFF0000, 0x1010000,
              ADDR4_OPCODES),
         "0xD8@0xFF0000*2"},
        {Plan(w25q + ",0x21:4K,0x5C:32K", 0x1000, 0x2000000, 0xC7, 0xFF0000, 0x1010000,
              ADDR4_OPCODES),
         "0x52@0xFF0000*4"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

}  // namespace
