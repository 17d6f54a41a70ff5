#include "stage_checks.h"

#include <sys/stat.h>

#include "flash/spi_opcodes.h"
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

// A range [first, end) of an operation that erases or programs: inside the chip, in erase
// units the chip's command erases exactly, reachable with the chip's addresses.
void Check_Unit_Range(const Setup_struct& s, uint64_t first, uint64_t end) {
    Check(first < end && end <= s.total_size);
    const uint64_t es = s.erase_size;
    Check(Power_Of_Two(es) && s.total_size % es == 0);
    // What each erase command erases, as the chips' data sheets give it.
    const uint64_t erased = s.cmd_erase == 0x20   ? 0x1000
                            : s.cmd_erase == 0x40 ? 0x2000
                            : s.cmd_erase == 0x52 ? 0x8000
                            : s.cmd_erase == 0xD8 ? s.sector_size
                                                  : 0;
    Check(erased == es);
    Check(s.addr4_mode != ADDR4_OPCODES || Four_Byte_Opcode(s.cmd_erase) != 0);
    Check(s.addr4_mode != ADDR4_NO || (end + es - 1) / es * es <= k3ByteLimit);
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

    const uint64_t first = s.has_addr_begin ? s.addr_begin : 0;
    const uint64_t limit = s.addr4_mode == ADDR4_NO ? k3ByteLimit : uint64_t{1} << 32;
    const bool chain =
        s.operation == OP_WRITE || s.operation == OP_VERIFY || s.operation == OP_ERASE;
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
    if (chain && s.do_erase && !ranged && s.cmd_chip_erase == 0)
        Check_Unit_Range(s, 0, s.total_size);
}

int Check_Stages(CTAMREL& pgm, RecordingChip& chip) {
    int r = pgm.FLASH_Identify();
    Check((r == 1 || r == -1) && pgm.adapter_active == 0);
    if (r != 1) return 0;
    Check(pgm.setup->has_total_size == 1);
    chip.Forget();
    r = pgm.FLASH_Check_Parameters();
    Check((r == 1 || r == -1) && chip.Untouched());
    if (r == 1) Check_Accepted(*pgm.setup);
    return r;
}
