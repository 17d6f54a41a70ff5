// Programming a data file into a range, page by page, keeping head and tail.
#include <cstdio>
#include <cstring>
#include <string>

#include "flash/page_program.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "flash/spi_opcodes.h"
#include "flash/write_protect.h"
#include "run/tamrel.h"

namespace {

// Reads the chunk at file offset `done` straight behind the frame's command bytes.
bool fill_from_file(void* ctx, unsigned char* dst, unsigned long done, unsigned long n) {
    FILE* f = static_cast<FILE*>(ctx);
    if (fseek(f, static_cast<long>(done), SEEK_SET) != 0 || fread(dst, 1, n, f) < n) {
        printf("\nError: can`t read file by address: %lu\n", done);
        return false;
    }
    return true;
}

}  // namespace

unsigned long CTAMREL::Data_Align(unsigned long addr, int len, bool last) {
    const unsigned long P = setup->page_size;
    const unsigned long want = len > 0 ? static_cast<unsigned long>(len) : 0;
    if (P == 0) return want;
    if (addr % P) {
        const unsigned long to_page_end = P - addr % P;
        return last && want < to_page_end ? want : to_page_end;
    }
    return last ? want : P;
}

int CTAMREL::FLASH_Write() {
    if (!setup->do_write) return 1;
    if (setup->data_file == nullptr) {
        printf("\nError: no data file to write\n");
        return -1;
    }

    const unsigned long fs = setup->file_size;
    const Span span = Write_Span(setup);
    const unsigned long S = span.first, L = span.end - span.first;
    if (!Erase_Size_Usable(setup) || !Range_Inside_Chip(setup, S, S + L)) return -1;
    // A protected chip takes the page programs without a word and changes nothing, and so
    // does one whose write enable latch never sets (write-protect pin, no chip).
    unsigned char status = Get_StatusReg();
    if (Cable_Lost() || Refuse_Protected(setup->record.protect_mask, status, "write") ||
        Refuse_Locked_Blocks("write"))
        return -1;
    Write_Enable();
    status = Get_StatusReg();
    if (Cable_Lost()) return -1;
    if (!(status & STATUS_WEL)) {
        printf(
            "\nError: status register 0x%02X: the write enable latch does not set, write "
            "refused (write-protect pin, wiring)\n",
            status);
        return -1;
    }
    Write_Disable();  // each page program sets it again

    // Never program when head and tail could not be kept.
    if (Save_Head_Tail() != 1) return -1;
    bool ok = FLASH_Write_Head() == 1;
    if (Cable_Lost()) return -1;

    const std::string unit(erase_label, strlen(erase_label) - 1);
    printf("\nFile: \"%s\"\tsize: 0x%lX Bytes", setup->file_name.c_str(), fs);
    // The units the range touches, from the one holding its first byte to its last byte's.
    const unsigned long es = setup->erase_size;
    printf("\nRequire %s\t\t%d x %ld Bytes\n", unit.c_str(),
           static_cast<int>((S + L - 1) / es - S / es + 1), static_cast<long>(es));

    const PageProgramJob job = {
        S, L, 200, 20, "Write data:\t\t", true, fill_from_file, setup->data_file};
    const PageProgramResult res = Page_Program(this, job);
    if (res.busy_timeout) ok = false;
    if (res.end == ProgramEnd::FillFailed || res.end == ProgramEnd::CableLost) return -1;

    // Also after an interrupt: the tail saved above goes back before the run ends.
    if (FLASH_Write_Tail(tail_addr) != 1) ok = false;
    if (Wait_WriteBusy(200, 20) != 1) ok = false;
    if (res.end == ProgramEnd::Interrupted || Cable_Lost() || !ok) return -1;
    printf("\nFile recorded.\n");
    return 1;
}
