#include "stage_checks.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "memory_files.h"

namespace {

const uint64_t k3ByteLimit = 0x1000000;

bool Power_Of_Two(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

bool Same_Inode(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The largest size erase= gives `opcode` anywhere in the list ("0x20:4K,0xD8:64K|256K"),
// 0 when it gives none.
uint64_t Largest_Listed(const std::string& list, unsigned opcode) {
    uint64_t largest = 0;
    for (size_t at = 0; at < list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        at = comma + 1;
        const size_t colon = item.find(':');
        if (colon == std::string::npos || strtoul(item.c_str(), nullptr, 0) != opcode) continue;
        for (size_t p = colon + 1; p < item.size();) {
            char* end = nullptr;
            uint64_t n = strtoull(item.c_str() + p, &end, 0);
            if (*end == 'K' || *end == 'k') n <<= 10;
            if (*end == 'M' || *end == 'm') n <<= 20;
            largest = std::max(largest, n);
            const size_t bar = item.find('|', p);
            p = bar == std::string::npos ? item.size() : bar + 1;
        }
    }
    return largest;
}

// A range [first, end) of an operation that erases or programs: inside the chip, in erase
// units the chip's command erases exactly, reachable with the chip's addresses.
void Check_Unit_Range(const Setup_struct& s, uint64_t first, uint64_t end) {
    Check(first < end && end <= s.total_size);
    const uint64_t es = s.erase_size;
    Check(Power_Of_Two(es) && s.total_size % es == 0);
    // What each erase command erases as the data sheets give it, and its 4-byte twin.
    const struct {
        unsigned opcode, twin;
        uint64_t size;
    } commands[] = {
        {0x20, 0x21, 0x1000}, {0x40, 0, 0x2000}, {0x52, 0x5C, 0x8000}, {0xD8, 0xDC, s.sector_size}};
    unsigned wire = 0;
    for (const auto& c : commands) {
        if (c.opcode != s.cmd_erase) continue;
        Check(c.size == es);
        wire = s.addr4_mode == ADDR4_OPCODES ? c.twin : c.opcode;
    }
    Check(wire != 0);
    // erase= names the sizes the parts sharing the id erase: none may erase more than the
    // unit. Without it the usual sizes hold, but few parts erase 8 KiB with 0x40.
    if (s.erase_list.empty())
        Check(s.cmd_erase != 0x40);
    else
        Check(Largest_Listed(s.erase_list, wire) == es);
    Check(s.addr4_mode != ADDR4_NO || (end + es - 1) / es * es <= k3ByteLimit);
}

bool Program_Sequence(const Setup_struct& s) {
    return s.operation == OP_WRITE || s.operation == OP_VERIFY || s.operation == OP_ERASE;
}

// The decision of the parameter check alone on a copy of a request.
int Decide(Setup_struct request) {
    CTAMREL pgm(&request);
    return pgm.FLASH_Check_Parameters();
}

// The promises of an accepted parameter check, from the request and the record alone.
void Check_Accepted(const Setup_struct& s) {
    // A record the operations can split: pages inside units inside the chip.
    Check(Power_Of_Two(s.page_size) && s.page_size <= s.sector_size &&
          s.sector_size <= s.total_size && s.total_size % s.sector_size == 0);
    Check(!s.has_block_size || (s.page_size <= s.block_size && s.total_size % s.block_size == 0));
    Check(s.addr_last < s.total_size);

    // The data file: a regular file, opened, not empty, with its size recorded.
    if (s.has_file_name || s.do_verify) {
        struct stat st;
        Check(s.has_file_name && s.data_file && fstat(fileno(s.data_file), &st) == 0);
        Check(S_ISREG(st.st_mode) && st.st_size > 0);
        Check(s.file_size == (st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : st.st_size));
        Check(Same_Inode(s.file_name, "/proc/self/fd/" + std::to_string(fileno(s.data_file))));
    }

    const bool chain = Program_Sequence(s);
    if (chain && (s.do_write || s.do_verify)) Check(s.has_file_name && s.data_file);

    const uint64_t first = s.has_addr_begin ? s.addr_begin : 0;
    const uint64_t limit = s.addr4_mode == ADDR4_NO ? k3ByteLimit : uint64_t{1} << 32;
    const bool ranged = s.has_addr_begin || s.has_addr_last || s.has_file_name;
    if (s.operation == OP_DUMP) {
        // A dump never truncates the data file or the emulated chip's image.
        Check(!s.dump_name.empty());
        Check(!s.has_file_name || !Same_Inode(s.dump_name, s.file_name));
        Check(s.emulate_name.empty() || !Same_Inode(s.dump_name, s.emulate_image));
        const uint64_t end = s.has_addr_last ? uint64_t{s.addr_last} + 1 : s.total_size;
        Check(first < end && end <= s.total_size && end <= limit);
    }
    if (s.operation == OP_SHOWMEM) {
        const uint64_t two_pages = first + 2u * s.page_size;
        const uint64_t end = s.has_addr_last            ? uint64_t{s.addr_last} + 1
                             : two_pages < s.total_size ? two_pages
                                                        : s.total_size;
        Check(first < end && end <= s.total_size && end <= limit);
    }
    if (chain && (s.do_write || s.do_verify || (s.do_erase && ranged))) {
        const uint64_t end = s.has_addr_last   ? uint64_t{s.addr_last} + 1
                             : s.has_file_name ? first + s.file_size
                                               : s.total_size;
        Check_Unit_Range(s, first, end);
        // A write never runs past the file's end with its range already erased.
        if (s.do_write && s.has_addr_begin && s.has_addr_last) Check(end - first <= s.file_size);
    }
    // A whole-chip erase without chip erase: die by die, each die a power of two that tiles
    // the chip, or else unit by unit.
    const uint64_t die = s.record.die_size;
    if (chain && s.do_erase && !ranged && s.cmd_chip_erase == 0 && s.record.die_erase)
        Check(Power_Of_Two(die) && s.total_size % die == 0 &&
              (s.addr4_mode != ADDR4_NO || s.total_size <= k3ByteLimit));
    else if (chain && s.do_erase && !ranged && s.cmd_chip_erase == 0)
        Check_Unit_Range(s, 0, s.total_size);
}

}  // namespace

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

void Setup_For_Fuzzing(Setup_struct* s, CTAMREL* pgm) {
    PGM_setup_ini(s);
    s->config_path = "config.cfg";
    s->db_path = "flash_db.cfg";
    pgm->key_file_source = Memory_File_Open;
}

int Check_Stages(CTAMREL& pgm, RecordingChip& chip) {
    int r = pgm.FLASH_Identify();
    Check((r == 1 || r == -1) && pgm.adapter_active == 0);
    if (r != 1) return 0;
    Check(pgm.setup->has_total_size == 1);
    const Setup_struct identified = *pgm.setup;
    chip.Forget();
    r = pgm.FLASH_Check_Parameters();
    Check((r == 1 || r == -1) && chip.Untouched());

    // One range asked for two ways gets one answer: a data file's range from its size, or
    // with -al= at its last byte; a dump to the chip's end, or to -al= at the chip's end.
    const Setup_struct& s = *pgm.setup;
    Setup_struct same = identified;
    same.has_addr_last = 1;
    const uint64_t start = s.has_addr_begin ? s.addr_begin : 0;
    if (!identified.has_addr_last && identified.has_file_name && Program_Sequence(s) &&
        s.data_file && start + s.file_size <= s.total_size) {
        same.addr_last = static_cast<uint32_t>(start + s.file_size - 1);
        Check(Decide(same) == r);
    }
    if (!identified.has_addr_last && s.operation == OP_DUMP) {
        same.addr_last = s.total_size - 1;
        Check(Decide(same) == r);
    }
    if (r != 1) return r;
    Check_Accepted(s);

    // A write range one byte longer than the file is refused: its last byte has no data.
    if (Program_Sequence(s) && s.do_write && s.has_addr_begin &&
        uint64_t{s.addr_begin} + s.file_size < s.total_size) {
        Setup_struct longer = identified;
        longer.has_addr_last = 1;
        longer.addr_last = s.addr_begin + s.file_size;
        Check(Decide(longer) == -1);
    }

    // A range inside an accepted one is accepted too: its first byte alone, its last alone.
    if (s.has_addr_begin && s.has_addr_last) {
        for (const uint32_t at : {s.addr_begin, s.addr_last}) {
            Setup_struct part = identified;
            part.addr_begin = part.addr_last = at;
            Check(Decide(part) == 1);
        }
    }
    return r;
}
