// Saving and restoring the bytes of the first and last erase unit that lie outside a range.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileutil/file_utils.h"
#include "flash/chip_read.h"
#include "flash/flash_alloc.h"
#include "flash/journal.h"
#include "flash/page_program.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "run/tamrel.h"

namespace {

void drop(unsigned char*& buf, uint32_t& len) {
    free(buf);
    buf = nullptr;
    len = 0;
}

// Allocates, reads and keeps one block (head or tail); drops it when it reads all 0xFF.
// False when the buffer can't be had or the cable is lost.
bool save_block(CTAMREL* pgm, unsigned char*& buf, uint32_t& len, unsigned long addr,
                const char* name, unsigned long unit) {
    buf = Flash_Alloc(len);
    if (!buf) {
        len = 0;
        printf("\nMemory allocation Error!\n");
        return false;
    }
    printf("\nRead data %s:\tS%d", name, static_cast<int>(unit));
    if (!Read_Chip(pgm, addr, len, buf)) return false;  // the cable has said so
    printf("\tOK");
    if (pgm->Check_DataEmpty(buf, len)) {
        drop(buf, len);
        printf(" %s empty", name);
    }
    return true;
}

// Creates a new file for a rescued block in the current folder, never over an existing one
// (an earlier rescue may be all that is left of those bytes). -1 with errno when none.
int create_rescue_file(const char* which, unsigned long addr, std::string* name) {
    for (int n = 0; n < 100; ++n) {
        char text[64];
        if (n == 0)
            snprintf(text, sizeof text, "tamrel-%s-0x%08lX.bin", which, addr);
        else
            snprintf(text, sizeof text, "tamrel-%s-0x%08lX.%d.bin", which, addr, n);
        const int fd = open(text, O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0 || errno != EEXIST) {
            *name = text;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Puts a block that exists only in memory into a file and tells the user how to write it
// back; the chip holds erased bytes there now.
void rescue_block(const char* which, const unsigned char* buf, uint32_t len, uint32_t addr) {
    const unsigned long first = addr, last = static_cast<unsigned long>(addr) + len - 1;
    std::string name;
    const int fd = create_rescue_file(which, first, &name);
    bool ok = fd >= 0 && Write_All(fd, buf, len);
    const int err = errno;
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok) {
        printf(
            "\nError: the %s bytes 0x%08lX-0x%08lX were not programmed back after their unit's "
            "erase; "
            "saved in %s, put them back with: tamrel -w %s -ab=0x%lX\n",
            which, first, last, name.c_str(), name.c_str(), first);
        return;
    }
    if (fd >= 0) unlink(name.c_str());  // a part of them is no rescue
    printf(
        "\nError: the %s bytes 0x%08lX-0x%08lX were not programmed back after their unit's erase, "
        "and "
        "could not be saved to %s: %s\n",
        which, first, last, name.empty() ? "a file" : name.c_str(), strerror(err));
}

}  // namespace

int CTAMREL::Rescue_Head_Tail() {
    int result = 1;
    if (head_pending && head_buf != nullptr && head_len > 0) {
        rescue_block("head", head_buf, head_len, head_addr);
        result = -1;
    }
    if (tail_pending && tail_buf != nullptr && tail_len > 0) {
        rescue_block("tail", tail_buf, tail_len, tail_addr);
        result = -1;
    }
    head_pending = tail_pending = false;
    return result;
}

int CTAMREL::Check_DataEmpty(const unsigned char* buf, unsigned int len) {
    if (len == 0) return 0;
    for (unsigned int i = 0; i < len; i++)
        if (buf[i] != 0xFF) return 0;
    return 1;
}

int CTAMREL::Save_Head_Tail() {
    drop(head_buf, head_len);
    drop(tail_buf, tail_len);
    head_addr = 0;
    tail_addr = 0;
    if (!Erase_Size_Usable(setup)) return -1;

    const Units u = Units_Of(Erase_Span(setup), setup->erase_size);
    head_addr = static_cast<uint32_t>(u.head_addr);
    head_len = static_cast<uint32_t>(u.head_len);
    tail_addr = static_cast<uint32_t>(u.tail_addr);
    tail_len = static_cast<uint32_t>(u.tail_len);

    if (head_len > 0 && !save_block(this, head_buf, head_len, head_addr, "Head", u.first)) {
        drop(tail_buf, tail_len);
        return -1;
    }
    if (tail_len > 0 &&
        !save_block(this, tail_buf, tail_len, tail_addr, "Tail", u.tail_addr / u.size)) {
        // Half a save is no save: nothing may be erased or restored from it.
        drop(head_buf, head_len);
        return -1;
    }
    return 1;
}

int CTAMREL::FLASH_Write_Head() {
    if (head_len == 0 || head_buf == nullptr) return 1;
    const PageProgramJob job = {head_addr, head_len,         200,     100, "Restore data Head:\t",
                                false,     Fill_From_Buffer, head_buf};
    const PageProgramResult res = Page_Program(this, job);
    if (res.end == ProgramEnd::CableLost) return -1;
    bool ok = !res.busy_timeout;
    if (Wait_WriteBusy(200, 20) != 1) ok = false;
    printf("\n");
    return ok ? 1 : -1;
}

int CTAMREL::FLASH_Write_Tail(unsigned long addr) {
    if (tail_len == 0 || tail_buf == nullptr) return 1;
    const PageProgramJob job = {addr,  tail_len,         200,     20, "Restore Sector Tail:\t",
                                false, Fill_From_Buffer, tail_buf};
    const PageProgramResult res = Page_Program(this, job);
    return res.busy_timeout || res.end == ProgramEnd::CableLost ? -1 : 1;
}

int CTAMREL::Journal_Head_Tail() {
    Journal j;
    j.chip = Journal_Chip_Id(setup);
    j.name = setup->record_name;
    j.cable = setup->cable_words;
    if (head_buf && head_len > 0) j.blocks.push_back({head_addr, {head_buf, head_buf + head_len}});
    if (tail_buf && tail_len > 0) j.blocks.push_back({tail_addr, {tail_buf, tail_buf + tail_len}});
    if (j.blocks.empty()) return 1;
    return Journal_Write(j, &journal_path);
}

int CTAMREL::Confirm_Head_Tail() {
    if (journal_path.empty()) return 1;
    const struct {
        const char* name;
        const unsigned char* buf;
        uint32_t addr, len;
    } kept[] = {{"head", head_buf, head_addr, head_len}, {"tail", tail_buf, tail_addr, tail_len}};
    for (const auto& k : kept) {
        if (!k.buf || k.len == 0 || Chip_Holds(this, k.addr, k.buf, k.len)) continue;
        if (Cable_Lost()) return -1;  // the cable has said so
        printf(
            "\nError: the %s bytes 0x%08lX-0x%08lX read back wrong after their restore; "
            "they stay in the journal %s\n",
            k.name, static_cast<unsigned long>(k.addr),
            static_cast<unsigned long>(k.addr) + k.len - 1, journal_path.c_str());
        return -1;
    }
    const int r = Journal_Remove(journal_path);
    journal_path.clear();
    return r;
}
