#include "flash/range_plan.h"

#include <string>

#include "chipdb/record_keys.h"
#include "flash/spi_opcodes.h"

namespace {

unsigned long begin_of(const Setup_struct* s) {
    return s->has_addr_begin ? s->addr_begin : 0;
}

unsigned long last_plus_one(const Setup_struct* s) {
    return static_cast<unsigned long>(s->addr_last) + 1;
}

bool power_of_two(unsigned long n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// Bytes `opcode` erases on this part, 0 when it is not to be used for a multi-unit erase.
// erase= decides when present; a list joining sizes with '|' describes parts that differ, so
// only the unit's own command is trusted there.
unsigned long erased_by(const Setup_struct* s, unsigned char opcode) {
    unsigned char wire = opcode;
    if (s->addr4_mode == ADDR4_OPCODES) wire = Four_Byte_Opcode(opcode);
    if (wire == 0) return 0;
    const std::vector<EraseItem>& items = s->record.erase;
    if (items.empty())
        return opcode == SPI_ERASE_SECTOR && power_of_two(s->sector_size) ? s->sector_size : 0;
    for (const EraseItem& item : items)
        if (item.sizes.size() > 1) return 0;
    for (unsigned long size = 0x1000; size != 0 && size <= s->total_size; size <<= 1)
        if (Erase_List_Has(items, wire, static_cast<uint32_t>(size)) == 1) return size;
    return 0;
}

}  // namespace

bool Erases_Whole_Chip(const Setup_struct* s) {
    return !s->has_addr_begin && !s->has_addr_last && !s->has_file_name;
}

Span Erase_Span(const Setup_struct* s) {
    const unsigned long S = begin_of(s);
    if (s->has_addr_last) return {S, last_plus_one(s)};
    if (s->has_file_name) return {S, S + s->file_size};
    return {S, s->total_size};
}

Span Write_Span(const Setup_struct* s) {
    const unsigned long S = begin_of(s), fs = s->file_size;
    unsigned long L = fs;
    if (s->has_addr_last) {
        const unsigned long to_last = last_plus_one(s) - S;
        L = s->has_addr_begin ? to_last : (to_last < fs ? to_last : fs);
    }
    return {S, S + L};
}

Span Verify_Span(const Setup_struct* s) {
    const unsigned long S = begin_of(s);
    return {S, s->has_addr_last ? last_plus_one(s) : S + s->file_size};
}

Span Dump_Span(const Setup_struct* s) {
    const unsigned long S = begin_of(s);
    if (s->has_addr_last) return {S, last_plus_one(s)};
    return {S, S < s->total_size ? s->total_size : S};
}

Span Show_Span(const Setup_struct* s) {
    const unsigned long S = begin_of(s);
    unsigned long E = s->has_addr_last ? last_plus_one(s) : S + 2UL * s->page_size;
    if (S < s->total_size && E > s->total_size) E = s->total_size;
    return {S, E};
}

Units Units_Of(Span span, unsigned long unit) {
    Units u;
    u.size = unit;
    u.first = span.first / unit;
    u.last = (span.end - 1) / unit;
    u.head_addr = u.first * unit;
    u.head_len = span.first - u.head_addr;
    u.tail_addr = span.end;
    u.tail_len = span.end % unit ? unit - span.end % unit : 0;
    return u;
}

std::vector<EraseStep> Erase_Plan(const Setup_struct* s, const Units& u) {
    std::vector<EraseStep> plan;
    const unsigned long es = u.size;
    if (u.first == 0 && (u.last + 1) * es == s->total_size && s->cmd_chip_erase != 0) {
        plan.push_back({s->cmd_chip_erase, 0, u.last + 1, true});
        return plan;
    }
    // Larger commands, largest first; each is used only on whole aligned blocks of units.
    struct Larger {
        unsigned char opcode;
        unsigned long size;
    } larger[2] = {{SPI_ERASE_SECTOR, erased_by(s, SPI_ERASE_SECTOR)},
                   {SPI_ERASE_32K, erased_by(s, SPI_ERASE_32K)}};
    if (larger[1].size > larger[0].size) std::swap(larger[0], larger[1]);
    unsigned long a = u.first * es;
    const unsigned long end = (u.last + 1) * es;
    while (a < end) {
        EraseStep step = {s->cmd_erase, a, 1, false};
        for (const Larger& l : larger) {
            if (l.size > es && l.size % es == 0 && a % l.size == 0 && end - a >= l.size) {
                step = {l.opcode, a, l.size / es, false};
                break;
            }
        }
        plan.push_back(step);
        a += step.units * es;
    }
    return plan;
}
