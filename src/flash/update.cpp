#include "flash/update.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapters/delay.h"
#include "flash/erase.h"
#include "flash/flash_alloc.h"
#include "flash/page_program.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

enum class Change : unsigned char { Same, Program, Erase };

struct Free {
    void operator()(unsigned char* p) const { free(p); }
};
typedef std::unique_ptr<unsigned char, Free> Buffer;

struct Piece {  // chip bytes [addr, addr + len) to program and verify
    unsigned long addr;
    unsigned long len;
};

double seconds_since(unsigned long long start_ns) {
    return static_cast<double>(delay_now_ns() - start_ns) / 1e9;
}

// Reads `len` bytes at `addr` into dst in whole-page frames; `label` names the progress line,
// one per page. With `want`, counts the bytes that differ from it into *errors.
bool read_pages(CTAMREL* pgm, unsigned long addr, unsigned long len, unsigned char* dst,
                const char* label, const unsigned char* want, unsigned long* errors,
                unsigned long shown, unsigned long total) {
    const unsigned long P = pgm->setup->page_size, frame_len = pgm->Read_Frame_Len();
    unsigned long done = 0;
    while (done < len) {
        if (Interrupt_Pending()) return false;
        const unsigned long n = len - done < frame_len ? len - done : frame_len;
        pgm->Read_Block(addr + done, n);
        if (pgm->Cable_Lost()) return false;  // the cable has said so
        for (unsigned long k = 0; k < n;) {
            const unsigned long chunk = n - k < P ? n - k : P;
            if (dst) memcpy(dst + done + k, pgm->io_buf + k, chunk);
            if (want)
                for (unsigned long i = 0; i < chunk; i++)
                    if (pgm->io_buf[k + i] != want[done + k + i]) ++*errors;
            k += chunk;
            const unsigned long at = addr + done + k, pct = (shown + done + k) * 100 / total;
            const ProgressCount count = {shown + done + k, total, want ? *errors : 0};
            if (want && *errors > 0)
                Print_Progress(label, count, "%s0x%08lX (%01lu%%) Errors: %d\r", label, at, pct,
                               static_cast<int>(*errors));
            else
                Print_Progress(label, count, "%s0x%08lX (%01lu%%)\r", label, at, pct);
        }
        done += n;
    }
    return true;
}

// Keeps the bytes a unit holds outside the range, unless they are all erased anyway. False
// when the memory can't be had: nothing may be erased then.
bool keep(unsigned char*& buf, uint32_t& len, uint32_t& at, const unsigned char* from,
          unsigned long addr, unsigned long n) {
    bool blank = true;
    for (unsigned long i = 0; i < n && blank; i++) blank = from[i] == 0xFF;
    if (n == 0 || blank) return true;
    buf = Flash_Alloc(n);
    if (!buf) {
        printf("\nMemory allocation Error!\n");
        return false;
    }
    memcpy(buf, from, n);
    len = static_cast<uint32_t>(n);
    at = static_cast<uint32_t>(addr);
    return true;
}

}  // namespace

int Flash_Update(CTAMREL* pgm) {
    Setup_struct* s = pgm->setup;
    if (s->data_file == nullptr) {
        printf("\nError: no data file to write\n");
        return -1;
    }
    Choose_Erase_Label(pgm);
    const Span span = Erase_Span(s), wspan = Write_Span(s);
    if (!Erase_Size_Usable(s) || !Range_Inside_Chip(s, span.first, span.end) ||
        !Range_Inside_Chip(s, wspan.first, wspan.end))
        return -1;
    const Units u = Units_Of(span, s->erase_size);
    const unsigned long es = u.size, base = u.first * es, n = (u.last + 1) * es - base;
    if (pgm->Erase_Permitted() != 1) return -1;
    const std::string units = std::string(pgm->erase_label, strlen(pgm->erase_label) - 2) + "s";
    printf("\nFile: \"%s\"\tsize: 0x%lX Bytes, Occupy %s: %d", s->file_name.c_str(),
           static_cast<unsigned long>(s->file_size), units.c_str(),
           static_cast<int>(u.last - u.first + 1));

    // What the chip holds, and what the run leaves there: the file in its range, the rest of
    // the erase range erased, the bytes outside it as they are.
    // Both copies of the range come from the flash allocator: a chip too large for memory
    // is refused with a message, not ended by an exception.
    Buffer old_buf(Flash_Alloc(n)), want_buf(Flash_Alloc(n));
    if (!old_buf || !want_buf) {
        printf("\nMemory allocation Error!\n");
        return -1;
    }
    unsigned char *old = old_buf.get(), *want = want_buf.get();
    printf("\n");
    unsigned long long t0 = delay_now_ns();
    if (!read_pages(pgm, base, n, old, "Read data:\t\t", nullptr, nullptr, 0, n)) return -1;
    const double t_read = seconds_since(t0);
    memcpy(want, old, n);
    memset(want + (span.first - base), 0xFF, span.end - span.first);
    if (fseek(s->data_file, 0, SEEK_SET) != 0 ||
        fread(want + (wspan.first - base), 1, wspan.end - wspan.first, s->data_file) <
            wspan.end - wspan.first) {
        printf("\nError: can`t read file by address: 0\n");
        return -1;
    }

    std::vector<Change> change(u.last - u.first + 1, Change::Same);
    unsigned long counts[3] = {0, 0, 0};
    for (unsigned long k = 0; k < change.size(); k++) {
        const unsigned char* o = old + k * es;
        const unsigned char* w = want + k * es;
        if (memcmp(o, w, es) != 0) {
            change[k] = Change::Program;
            for (unsigned long i = 0; i < es; i++)
                if ((o[i] & w[i]) != w[i]) change[k] = Change::Erase;  // a bit must go to 1
        }
        counts[static_cast<int>(change[k])]++;
    }
    printf(
        "\nChanged only:\t%lu %s unchanged, %lu programmed without erase, %lu erased and "
        "programmed",
        counts[0], units.c_str(), counts[1], counts[2]);

    // Erase: the bytes outside the range of an erased first or last unit go to the journal
    // and are programmed back, as with a range erase.
    bool ok = true, interrupted = false;
    if (counts[2] > 0) {
        free(pgm->head_buf);
        free(pgm->tail_buf);
        pgm->head_buf = pgm->tail_buf = nullptr;
        pgm->head_len = pgm->tail_len = 0;
        if ((change.front() == Change::Erase &&
             !keep(pgm->head_buf, pgm->head_len, pgm->head_addr, old, u.head_addr, u.head_len)) ||
            (change.back() == Change::Erase &&
             !keep(pgm->tail_buf, pgm->tail_len, pgm->tail_addr, old + (u.tail_addr - base),
                   u.tail_addr, u.tail_len)))
            return -1;
        if (pgm->Journal_Head_Tail() != 1) return -1;  // never erase what is not on disk
        printf("\n");
        for (unsigned long k = 0; k < change.size() && ok && !interrupted;) {
            if (change[k] != Change::Erase) {
                k++;
                continue;
            }
            unsigned long e = k;
            while (e + 1 < change.size() && change[e + 1] == Change::Erase) e++;
            Units run = u;
            run.first = u.first + k;
            run.last = u.first + e;
            const int r = Erase_Steps(pgm, run, Erase_Plan(s, run), &interrupted);
            if (r == -2) return -1;
            if (r != 1) ok = false;
            k = e + 1;
        }
        if (pgm->Wait_WriteBusy(200, 20) != 1) ok = false;
        if (pgm->Cable_Lost()) return -1;
        if (ok && !interrupted) printf("\nErase done");
        if (Restore_Kept(pgm) != 1 || !ok || interrupted) return -1;
    }
    if (counts[1] + counts[2] == 0) pgm->Write_Disable();  // nothing to send: leave the latch

    // Program the pages of the range whose bytes are not yet what the run leaves there.
    std::vector<Piece> pieces;
    const unsigned long P = s->page_size;
    for (unsigned long a = span.first; a < span.end;) {
        const unsigned long next = (a / P + 1) * P, end = next < span.end ? next : span.end;
        const unsigned long k = (a - base) / es, off = a - base;
        const Change c = change[k];
        bool need = false;
        for (unsigned long i = off; i < off + (end - a) && !need && c != Change::Same; i++)
            need = want[i] != (c == Change::Erase ? 0xFF : old[i]);
        if (need) {
            if (!pieces.empty() && pieces.back().addr + pieces.back().len == a)
                pieces.back().len += end - a;
            else
                pieces.push_back({a, end - a});
        }
        a = end;
    }
    unsigned long programmed = 0;
    t0 = delay_now_ns();
    if (!pieces.empty()) printf("\n");
    for (const Piece& p : pieces) {
        const PageProgramJob job = {p.addr,
                                    p.len,
                                    200,
                                    20,
                                    "Write data:\t\t",
                                    true,
                                    Fill_From_Buffer,
                                    want + (p.addr - base)};
        const PageProgramResult res = Page_Program(pgm, job);
        if (res.end != ProgramEnd::Done) return -1;
        if (res.busy_timeout) return -1;
        programmed += p.len;
    }
    if (pgm->Wait_WriteBusy(200, 20) != 1 || pgm->Cable_Lost()) return -1;
    const double t_prog = seconds_since(t0);
    printf("\nFile recorded.\n");

    // What the whole sequence would have spent on the bytes left alone, at this run's own
    // rates (a program frame moves no fewer bytes than a read), less the first read that it
    // does not make. The erases left out are not counted: their sizes vary.
    const unsigned long range = span.end - span.first, all = change.size();
    const double per_read = t_read / static_cast<double>(n);
    const double per_program = programmed > 0 ? t_prog / programmed : per_read;
    double saved = per_program * (range - programmed) - t_read;
    if (s->do_verify) saved += per_read * (range - programmed);
    printf("\nSaved:\t\t%lu Bytes not programmed, %lu %s not erased, ", range - programmed,
           all - counts[2], units.c_str());
    if (saved > 0)
        printf("at least %.1f s\n", saved);
    else
        printf("no time (the first read took %.1f s)\n", t_read);

    if (!s->do_verify) return 1;
    printf("\n");
    unsigned long errors = 0, shown = 0;
    for (const Piece& p : pieces) {
        if (!read_pages(pgm, p.addr, p.len, nullptr, "Verify data:\t\t", want + (p.addr - base),
                        &errors, shown, programmed))
            return -1;
        shown += p.len;
    }
    if (errors > 0) {
        printf("\nVerify Error!");
        return -1;
    }
    printf("\nVerify OK\n");
    return 1;
}
