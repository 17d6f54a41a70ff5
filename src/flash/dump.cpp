// Copying a range of the chip into a binary file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// A failed dump must not leave a partial image that looks whole. Only a regular file is
// touched: it was created or truncated by this dump, so none of its earlier content is
// left to lose. It is removed when the name is that very file; reached through a link it is
// emptied instead, so the link stays. Device nodes and the like are only closed.
enum class Partial { Keep, Remove, Empty };

Partial partial_rule(FILE* f, const char* name) {
    struct stat opened, named;
    if (fstat(fileno(f), &opened) != 0 || !S_ISREG(opened.st_mode)) return Partial::Keep;
    const bool same = lstat(name, &named) == 0 && S_ISREG(named.st_mode) &&
                      named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
    return same ? Partial::Remove : Partial::Empty;
}

void discard_partial(FILE* f, const char* name) {
    const Partial rule = partial_rule(f, name);
    if (rule == Partial::Empty && ftruncate(fileno(f), 0) != 0) {
        // Nothing more to do; the dump is reported as failed anyway.
    }
    fclose(f);
    if (rule == Partial::Remove) remove(name);
}

}  // namespace

int CTAMREL::FLASH_Dump() {
    unsigned long addr = 0;
    unsigned long length = setup->total_size;
    if (setup->has_addr_begin) {
        addr = setup->addr_begin;
        if (setup->has_addr_last) {
            length = static_cast<unsigned long>(setup->addr_last) + 1 - addr;
        } else if (addr < setup->total_size) {
            length = setup->total_size - addr;  // to the chip's end, never wrapping past it
        } else {
            printf("\nError: address 0x%lX is past the chip's end\n", addr);
            return -1;
        }
    } else if (setup->has_addr_last) {
        length = static_cast<unsigned long>(setup->addr_last) + 1;
    }

    const char* name = setup->dump_name.c_str();
    FILE* f = fopen(name, "wb");
    if (!f) {
        printf("\nError: can`t create file %s\n", name);
        return -1;
    }

    const unsigned long P = setup->page_size;
    unsigned long done = 0;
    while (done < length) {
        if (Interrupt_Pending()) {
            discard_partial(f, name);
            return -1;
        }
        const unsigned long chunk = length - done < P ? length - done : P;
        Read_Block(addr, chunk);
        // Flushed per chunk so that a full disk shows at the block it hit.
        if (fwrite(io_buf, 1, chunk, f) < chunk || fflush(f) != 0) {
            printf("Error: cannot write block %lu to file\n", addr / chunk);
            discard_partial(f, name);
            return -1;
        }
        addr += chunk;
        done += chunk;
        Print_Progress("Reading dump:", "Reading dump:\t\t0x%08lX (%lu%%)\r", addr,
                       done * 100 / length);
    }
    const Partial rule = partial_rule(f, name);
    if (fclose(f) != 0) {
        printf("\nError: can`t close file %s\n", name);
        if (rule == Partial::Remove) remove(name);
        return -1;
    }
    return 1;
}
