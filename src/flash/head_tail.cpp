// Saving and restoring the bytes of the first and last erase unit that lie outside a range.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flash/flash_alloc.h"
#include "flash/page_program.h"
#include "flash/range_check.h"
#include "run/tamrel.h"

namespace {

// Largest read per frame, so that a frame always fits io_buf.
const unsigned long kMaxReadFrame = 0x10000;

void drop(unsigned char*& buf, uint32_t& len) {
    free(buf);
    buf = nullptr;
    len = 0;
}

// Reads len bytes at addr into dst, in as many frames as io_buf needs.
void read_chip(CTAMREL* pgm, unsigned long addr, unsigned long len, unsigned char* dst) {
    while (len > 0 && !pgm->Cable_Lost()) {
        const unsigned long n = len < kMaxReadFrame ? len : kMaxReadFrame;
        pgm->Read_Block(addr, n);
        memcpy(dst, pgm->io_buf, n);
        addr += n;
        dst += n;
        len -= n;
    }
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
    read_chip(pgm, addr, len, buf);
    if (pgm->Cable_Lost()) return false;  // the cable has said so
    printf("\tOK");
    if (pgm->Check_DataEmpty(buf, len)) {
        drop(buf, len);
        printf(" %s empty", name);
    }
    return true;
}

}  // namespace

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

    const unsigned long es = setup->erase_size;
    unsigned long S, E;
    Unit_Range(setup, &S, &E);
    head_addr = static_cast<uint32_t>(S / es * es);
    head_len = static_cast<uint32_t>(S - head_addr);
    tail_addr = static_cast<uint32_t>(E);
    tail_len = static_cast<uint32_t>(E % es ? es - E % es : 0);

    if (head_len > 0 && !save_block(this, head_buf, head_len, head_addr, "Head", S / es)) {
        drop(tail_buf, tail_len);
        return -1;
    }
    if (tail_len > 0 && !save_block(this, tail_buf, tail_len, tail_addr, "Tail", E / es)) {
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
