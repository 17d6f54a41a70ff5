// Geometry check: the record's sizes, the command-line range and the data file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "chipdb/manufacturer.h"
#include "chipdb/record_keys.h"
#include "fileutil/file_utils.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "flash/spi_opcodes.h"
#include "run/tamrel.h"

namespace {

const uint64_t kAddressLimit = 0x1000000;  // 3-byte addresses reach 16 MiB
const char kAddUnit[] =
    "add the chip's erase commands to its flash_db.cfg record (e.g. erase=0x20:4K,0xD8:64K), "
    "or unit=block or unit=sector";

// What the run will do with the chip, as the run driver dispatches it.
struct Plan {
    bool erase_range;  // erase of units (a chip erase has no range)
    bool erase_whole;  // erase of the whole chip, by any command
    bool erase_units;  // a whole-chip erase done unit by unit: the chip has no chip erase
    bool erase_dies;   // a whole-chip erase done die by die (diers=)
    bool write;
    bool verify;
    bool dump;
    bool show;
};

// Erase, write and verify, as the run driver chains them.
bool is_chain(const Setup_struct* s) {
    return s->operation == OP_WRITE || s->operation == OP_VERIFY || s->operation == OP_ERASE;
}

Plan make_plan(const Setup_struct* s) {
    const bool chain = is_chain(s);
    Plan p;
    p.erase_range =
        chain && s->do_erase && (s->has_addr_begin || s->has_addr_last || s->has_file_name);
    p.erase_whole = chain && s->do_erase && !p.erase_range;
    p.erase_dies = p.erase_whole && Erase_By_Dies(s);
    p.erase_units = p.erase_whole && s->cmd_chip_erase == 0 && !p.erase_dies;
    p.write = chain && s->do_write;
    p.verify = chain && s->do_verify;
    p.dump = s->operation == OP_DUMP;
    p.show = s->operation == OP_SHOWMEM;
    return p;
}

// Highest chip address the planned operations touch; -1 when none is addressed.
int64_t last_address(const Setup_struct* s, const Plan& p) {
    int64_t last = -1;
    auto touch = [&last](uint64_t end) {  // end: first address behind the range
        if (end > 0 && static_cast<int64_t>(end - 1) > last) last = static_cast<int64_t>(end - 1);
    };
    if (p.dump)
        touch(std::min<uint64_t>(Dump_Span(s).end, s->total_size));  // what lies on the chip
    if (p.show) touch(Show_Span(s).end);
    if (p.erase_units || p.erase_dies) touch(s->total_size);
    // Write and verify lie inside the erase's range; a range erase from -ab= runs to the end.
    if (p.erase_range || p.write || p.verify) touch(Erase_Span(s).end);
    return last;
}

// Range and erase-unit checks that keep an operation from touching bytes nobody named.
int check_range(const Setup_struct* s) {
    const Plan plan = make_plan(s);

    if (s->only_changed && !(is_chain(s) && s->do_erase && s->do_write)) {
        printf("\nError: -c works with -e -w (and -v): -c -e -w -v filename -ab=address_begin\n");
        return -1;
    }
    if (s->operation == OP_PUT_BACK && s->journal_file.empty()) {
        printf("\nError: -r needs the journal file a run named: -r journal_file\n");
        return -1;
    }
    if (plan.write && !s->has_file_name) {
        printf("\nError: -w needs a data file name: -w filename -ab=address_begin\n");
        return -1;
    }
    if (s->erase_size == 0 && (plan.erase_range || plan.write || plan.verify)) {
        printf(
            "\nError: no erase unit is known for manufacturer id 0x%02X: range erase, write "
            "and verify are refused (chip erase -e, -d, -s, -i and -u still work); %s\n",
            s->mnf_id, kAddUnit);
        return -1;
    }
    if (s->erase_size == 0 && plan.erase_units) {
        printf(
            "\nError: the chip has no chip erase command (chipers=0) and no erase unit is "
            "known for manufacturer id 0x%02X: erase refused; %s\n",
            s->mnf_id, kAddUnit);
        return -1;
    }
    if (!s->alternatives.empty() && (plan.erase_range || plan.write || plan.verify ||
                                     (plan.erase_whole && !s->alternatives_erase_alike))) {
        printf(
            "\nError: the chip answers the id of %s, parts that differ, and its SFDP tables "
            "do not tell which it is: %s refused; -n=NAME takes one of them\n",
            s->alternatives.c_str(),
            plan.erase_range || plan.write || plan.verify ? "range erase, write and verify are"
                                                          : "erase is");
        return -1;
    }
    if (s->cmd_erase == 0 && (plan.erase_range || plan.erase_units)) {
        printf("\nError: no erase command for an erase unit of %u bytes: range erase refused\n",
               s->erase_size);
        return -1;
    }
    if (plan.write && s->has_addr_begin && s->has_addr_last &&
        uint64_t{s->addr_last} + 1 - s->addr_begin > s->file_size) {
        // The write would stop at the file's end with the range already erased.
        printf("\nError: range 0x%X..0x%X is longer than \"%s\" (0x%X Bytes): write refused\n",
               s->addr_begin, s->addr_last, s->file_name.c_str(), s->file_size);
        return -1;
    }
    if (s->has_addr_begin && s->addr_begin >= s->total_size) {
        printf("\nError: -ab=0x%X lies beyond the chip's last address 0x%X\n", s->addr_begin,
               s->total_size - 1);
        return -1;
    }
    if ((plan.erase_range || plan.write || plan.verify) && s->has_file_name && !s->has_addr_last) {
        const uint64_t start = s->has_addr_begin ? s->addr_begin : 0;
        if (start + s->file_size > s->total_size) {
            printf(
                "\nError: \"%s\" (0x%X Bytes) from address 0x%X runs past the chip's last "
                "address 0x%X\n",
                s->file_name.c_str(), s->file_size, static_cast<unsigned>(start),
                s->total_size - 1);
            return -1;
        }
    }
    const int64_t last = last_address(s, plan);
    if (s->addr4_mode == ADDR4_NO && last >= static_cast<int64_t>(kAddressLimit)) {
        printf(
            "\nError: address 0x%llX lies above 16 MiB, which 3-byte addresses cannot "
            "reach\n",
            static_cast<unsigned long long>(last));
        return -1;
    }
    return 1;
}

// A dump truncates its file before it reads the chip: never the emulated chip's own image,
// nor the data file of the run.
int check_dump_file(const Setup_struct* s) {
    const char* dump = s->dump_name.c_str();
    if (!s->emulate_name.empty() && !s->emulate_image.empty() &&
        Same_File(dump, s->emulate_image.c_str())) {
        printf("\nError: dump file \"%s\" is the emulated chip's image: dump refused\n", dump);
        return -1;
    }
    if (s->has_file_name && Same_File(dump, s->file_name.c_str())) {
        printf("\nError: dump file \"%s\" is the data file \"%s\": dump refused\n", dump,
               s->file_name.c_str());
        return -1;
    }
    return 1;
}

bool power_of_two(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// The unit must be erased by a command that erases exactly its size: no more, or bytes
// outside the range go; no less, or part of the range stays.
int check_erase_unit(const Setup_struct* s, const char* rec, const char* unit_key) {
    if (s->erase_size == 0 || !unit_key) return 1;  // no unit: range operations are refused
    if (s->cmd_erase == 0) {
        printf(
            "\nError: flash_db.cfg record %s: %s=0x%X: no erase command erases exactly that "
            "size (0x20 4 KiB, 0x52 32 KiB, 0xD8 sector=)\n",
            rec, unit_key, s->erase_size);
        return -1;
    }
    // 0xD8 takes any sector=, but a chip erases a unit aligned to its size: other sizes miss
    // the units the tool counts.
    if (!power_of_two(s->erase_size)) {
        printf("\nError: flash_db.cfg record %s: %s=0x%X is not a power of two\n", rec, unit_key,
               s->erase_size);
        return -1;
    }
    unsigned char wire = s->cmd_erase;
    if (s->addr4_mode == ADDR4_OPCODES) {
        wire = Four_Byte_Opcode(s->cmd_erase);
        if (wire == 0) {
            printf(
                "\nError: flash_db.cfg record %s: addr4=opcodes: the %s= unit's erase "
                "command 0x%02X has no 4-byte form\n",
                rec, unit_key, s->cmd_erase);
            return -1;
        }
    }
    // Without erase= the opcodes' usual sizes are trusted, except 0x40: few chips erase
    // 8 KiB with it.
    const bool listed = s->record.erase.empty()
                            ? s->cmd_erase != SPI_ERASE_8K
                            : Erase_List_Has(s->record.erase, wire, s->erase_size) == 1;
    if (!listed) {
        printf(
            "\nError: flash_db.cfg record %s: erase= lists no 0x%02X erasing 0x%X bytes, the "
            "%s= unit\n",
            rec, wire, s->erase_size, unit_key);
        return -1;
    }
    return 1;
}

// Opens the data file for reading. Only a regular file is taken, and the open does not wait
// for a writer when the name is a FIFO.
FILE* open_data_file(const std::string& name, uint64_t* size) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        printf("\n\nError: can`t open file: \"%s\"\n", name.c_str());
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        printf("\n\nError: \"%s\" is not a regular file.\n", name.c_str());
        return nullptr;
    }
    FILE* f = fdopen(fd, "rb");  // O_NONBLOCK has no effect on a regular file
    if (f == nullptr) {
        close(fd);
        printf("\n\nError: can`t open file: \"%s\"\n", name.c_str());
        return nullptr;
    }
    *size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return f;
}

// The record's geometry must be one the operations can honour: a page the program loop can
// split by, an erase command for the unit, and sizes that tile the chip.
int check_record(const Setup_struct* s) {
    const char* rec = s->record_name.c_str();
    if (!power_of_two(s->page_size)) {
        printf("\nError: flash_db.cfg record %s: page=%u is not a power of two\n", rec,
               s->page_size);
        return -1;
    }
    const char* unit_key = Erase_Unit_Key(s);
    if (check_erase_unit(s, rec, unit_key) != 1) return -1;
    const uint32_t die = s->record.die_size;
    if (s->record.die_erase && (!power_of_two(die) || die > s->total_size)) {
        printf(
            "\nError: flash_db.cfg record %s: diers= die of 0x%X bytes is no power of two "
            "up to volime=0x%X\n",
            rec, die, s->total_size);
        return -1;
    }

    const struct {
        const char* key;
        uint32_t size;
        bool used;
    } sizes[] = {
        {"page", s->page_size, true},
        {"block", s->block_size, s->has_block_size || (unit_key && unit_key[0] == 'b')},
        {"sector", s->sector_size, true},
        {"erase", s->erase_size, unit_key && unit_key[0] == 'e'},
        {"diers", die, s->record.die_erase != 0},
    };
    for (const auto& u : sizes) {
        if (u.used && s->total_size % u.size != 0) {
            printf(
                "\nError: flash_db.cfg record %s: volime=0x%X is not a whole number of "
                "%s=0x%X units\n",
                rec, s->total_size, u.key, u.size);
            return -1;
        }
    }
    return 1;
}

}  // namespace

int CTAMREL::FLASH_Check_Parameters() {
    Setup_struct* s = setup;

    if (s->page_size == 0 || !s->has_page_size) {
        printf("\nDB Error: 'page=' not given.\n\n");
        return -1;
    }
    printf("\nPage size:\t0x%X, (%d) Bytes", s->page_size, s->page_size);

    if (s->has_block_size) {
        if (s->block_size == 0) {
            printf("\nDB Error: 'block=' not given.\n\n");
            return -1;
        }
        printf("\nBlock size:\t0x%X, (%d) Kb", s->block_size, s->block_size >> 10);
    }

    if (s->sector_size == 0 || !s->has_sector_size) {
        printf("\nDB Error: 'sector=' not given.\n\n");
        return -1;
    }
    printf("\nSector size:\t0x%X, (%d) Kb", s->sector_size, s->sector_size >> 10);

    if (s->total_size == 0 || !s->has_total_size) {
        printf("\nDB Error: 'volime=' not given.\n\n");
        return -1;
    }
    if (s->has_block_size) printf("\nBlock  numbers:\t%d ", s->total_size / s->block_size);
    printf("\nSector numbers:\t%d ", s->total_size / s->sector_size);
    printf("\nTotal Size:\t%d MB", s->total_size >> 20);

    if (s->addr_last >= s->total_size) s->addr_last = s->total_size - 1;

    if (s->has_addr_begin && s->has_addr_last && s->addr_begin > s->addr_last) {
        printf("\nError: argument -ab > -al\n");
        return -1;
    }
    if (s->do_dump && s->dump_name.empty()) {
        printf("\nError: Not defined dump file\n");
        return -1;
    }

    if (s->has_file_name || s->do_verify) {
        if (!s->has_file_name) {  // -v alone would try to open a file with an empty name
            printf("\nError: -v needs a data file name: -v filename -ab=address_begin\n");
            return -1;
        }
        if (s->data_file) fclose(s->data_file);
        uint64_t size = 0;
        s->data_file = open_data_file(s->file_name, &size);
        if (!s->data_file) return -1;
        // Larger than any chip anyway; saturate so the range check below sees it.
        s->file_size = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
        if (s->file_size == 0) {
            printf("\n\nError: \"%s\" file is empty.\n", s->file_name.c_str());
            return -1;
        }
    }

    if (s->page_size > s->block_size || s->page_size > s->sector_size ||
        s->page_size > s->total_size || s->block_size > s->total_size ||
        s->sector_size > s->total_size) {
        printf("\n\nflash_DB param error: Page or Block or Sector or Total size.\n");
        return -1;
    }
    if (s->operation == OP_DUMP && check_dump_file(s) != 1) return -1;
    if (check_record(s) != 1) return -1;
    return check_range(s);
}
