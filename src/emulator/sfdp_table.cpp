#include "emulator/sfdp_table.h"

#include <cstddef>

#include "emulator/flash_chip.h"

namespace {

const uint32_t kTableAt = 0x30;  // where the basic table starts, as on many real parts
const uint32_t kDwords = 16;

uint32_t Log2(uint64_t v) {
    uint32_t n = 0;
    while (v > 1) v >>= 1, ++n;
    return n;
}

// A typical time as a count of units: (count + 1) x unit. `units` are in ns, ascending;
// the result is count | unit index << count_bits.
uint32_t Time_Field(uint64_t ns, const uint64_t* units, int unit_count, int count_bits) {
    const uint64_t most = 1ULL << count_bits;
    for (int u = 0; u < unit_count; ++u) {
        uint64_t n = (ns + units[u] - 1) / units[u];
        if (n == 0) n = 1;
        if (n <= most || u == unit_count - 1)
            return static_cast<uint32_t>((n > most ? most : n) - 1) | static_cast<uint32_t>(u)
                                                                          << count_bits;
    }
    return 0;
}

// 16th DWORD: bits 31:24 enter 4-byte addresses (bit 0: B7, bit 1: 06 then B7, bit 5: the
// dedicated 4-byte opcodes), bits 23:14 leave them (bit 0: E9, bit 1: 06 then E9).
struct FourByteBits {
    FourByte mode;
    uint32_t enter;
    uint32_t exit;
};
const FourByteBits kFourByteBits[] = {
    {FourByte::None, 0x00, 0x0},
    {FourByte::Opcodes, 0x21, 0x1},
    {FourByte::Mode, 0x01, 0x1},
    {FourByte::ModeNeedsWel, 0x02, 0x2},
};

const uint64_t kMs = 1000000ULL;
const uint64_t kEraseUnits[] = {1 * kMs, 16 * kMs, 128 * kMs, 1000 * kMs};
const uint64_t kProgramUnits[] = {8000ULL, 64000ULL};
const uint64_t kChipEraseUnits[] = {16 * kMs, 256 * kMs, 4000 * kMs, 64000 * kMs};

}  // namespace

std::vector<uint8_t> Build_Sfdp_Table(uint32_t total_size, uint32_t page_size,
                                      const std::vector<SfdpEraseSpec>& erase, FourByte four_byte) {
    uint32_t dw[kDwords] = {};
    const bool addr4 = four_byte != FourByte::None;

    bool has_4k = false;
    for (const SfdpEraseSpec& e : erase) has_4k = has_4k || (e.size == 0x1000 && e.opcode == 0x20);
    // 4 KiB erase, page buffer of 64 bytes or more, addresses, unused bits set
    dw[0] = 0xFF8000E0u | (has_4k ? 0x2001u : 0xFF03u) | (page_size >= 64 ? 0x04u : 0) |
            (addr4 ? 1u << 17 : 0);
    const uint64_t bits = static_cast<uint64_t>(total_size) * 8;
    dw[1] = bits <= 0x80000000ULL ? static_cast<uint32_t>(bits - 1) : 0x80000000u | Log2(bits);
    // No fast reads: DWORDs 3 and 4 stay 0, 5 to 7 say 2-2-2 and 4-4-4 are not there.
    dw[4] = 0xFFFFFFEEu;
    dw[5] = 0x0000FFFFu;
    dw[6] = 0x0000FFFFu;
    dw[9] = 0x1;  // erase time multiplier: at most 4 x typical
    for (size_t i = 0; i < 4; ++i) {
        uint32_t field = 0xFF00;  // size exponent 0: type absent
        if (i < erase.size()) {
            field = Log2(erase[i].size) | static_cast<uint32_t>(erase[i].opcode) << 8;
            dw[9] |= Time_Field(Flash_Erase_Ns(erase[i].size), kEraseUnits, 4, 5) << (4 + 7 * i);
        }
        dw[7 + i / 2] |= field << (16 * (i % 2));
    }
    dw[10] = 0x80000001u | Log2(page_size) << 4 |
             Time_Field(Flash_Program_Ns(), kProgramUnits, 2, 5) << 8 |
             Time_Field(Flash_Chip_Erase_Ns(total_size), kChipEraseUnits, 4, 5) << 24;
    dw[11] = 0x80000000u;  // no suspend and resume
    dw[13] = 0x80000000u;  // no deep power-down
    // How 4-byte addresses are entered and left; status register 1 non-volatile.
    for (const FourByteBits& b : kFourByteBits) {
        if (b.mode == four_byte) dw[15] = 0x00000081u | b.enter << 24 | b.exit << 14;
    }

    std::vector<uint8_t> table(kTableAt + 4 * kDwords, 0xFF);
    const uint8_t header[16] = {'S',  'F',  'D',  'P',     0x06,     0x01, 0x00, 0xFF,
                                0x00, 0x06, 0x01, kDwords, kTableAt, 0x00, 0x00, 0xFF};
    for (size_t i = 0; i < sizeof header; ++i) table[i] = header[i];
    for (uint32_t i = 0; i < kDwords; ++i) {
        for (int b = 0; b < 4; ++b)
            table[kTableAt + 4 * i + b] = static_cast<uint8_t>(dw[i] >> (8 * b));
    }
    return table;
}
