// Copying a range of the chip into a binary file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "flash/range_plan.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// Opens the dump file for writing from its start; `created` tells whether this run made it.
FILE* open_dump(const char* name, bool* created) {
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        if (*created) unlink(name);
    }
    return f;
}

// A failed dump must not leave a partial image that looks whole where there was none: a
// regular file this run created is removed, while the name still leads to it. A file that
// was there before is the user's: it stays as the failure left it, and the user is told.
// Device nodes and the like are only closed.
enum class Partial { Remove, Keep, Leave };

Partial partial_rule(FILE* f, const char* name, bool created) {
    struct stat opened, named;
    if (fstat(fileno(f), &opened) != 0 || !S_ISREG(opened.st_mode)) return Partial::Leave;
    if (!created) return Partial::Keep;
    const bool same =
        lstat(name, &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
    return same ? Partial::Remove : Partial::Leave;
}

// `lead` starts the note on a line of its own ("\n" after a progress line).
void handle_partial(Partial rule, const char* name, const char* lead) {
    if (rule == Partial::Remove) remove(name);
    if (rule == Partial::Keep)
        printf("%s\"%s\" existed before this dump: left as it is now, with an incomplete dump\n",
               lead, name);
}

void discard_partial(FILE* f, const char* name, bool created, const char* lead) {
    const Partial rule = partial_rule(f, name, created);
    fclose(f);
    handle_partial(rule, name, lead);
}

}  // namespace

int CTAMREL::FLASH_Dump() {
    const Span span = Dump_Span(setup);
    unsigned long addr = span.first;
    const unsigned long length = span.end - span.first;
    if (length == 0) {  // from -ab= alone at or past the chip's end: never wrap past it
        printf("\nError: address 0x%lX is past the chip's end\n", addr);
        return -1;
    }

    const char* name = setup->dump_name.c_str();
    bool created = false;
    FILE* f = open_dump(name, &created);
    if (!f) {
        printf("\nError: can`t create file %s\n", name);
        return -1;
    }

    // Several pages per frame; the file and the progress lines still go page by page.
    const unsigned long P = setup->page_size;
    const unsigned long frame_len = Read_Frame_Len();
    unsigned long done = 0, framed = 0, in_frame = 0;
    while (done < length) {
        if (Interrupt_Pending()) {
            discard_partial(f, name, created, "\n");
            return -1;
        }
        if (done == framed) {
            in_frame = length - done < frame_len ? length - done : frame_len;
            Read_Block(addr, in_frame);
            if (Cable_Lost()) {                         // the cable has said so
                discard_partial(f, name, created, "");  // the error ended its line
                return -1;
            }
            framed += in_frame;
        }
        const unsigned long chunk = length - done < P ? length - done : P;
        const unsigned char* data = io_buf + (in_frame - (framed - done));
        // Flushed per chunk so that a full disk shows at the block it hit.
        if (fwrite(data, 1, chunk, f) < chunk || fflush(f) != 0) {
            printf("Error: cannot write block %lu to file\n", addr / chunk);
            discard_partial(f, name, created, "");
            return -1;
        }
        addr += chunk;
        done += chunk;
        Print_Progress("Reading dump:", {done, length, 0}, "Reading dump:\t\t0x%08lX (%lu%%)\r",
                       addr, done * 100 / length);
    }
    const Partial rule = partial_rule(f, name, created);
    if (fclose(f) != 0) {
        printf("\nError: can`t close file %s\n", name);
        handle_partial(rule, name, "");
        return -1;
    }
    return 1;
}
