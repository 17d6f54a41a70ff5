#include "flash/page_program.h"

#include <cstdio>
#include <cstring>

#include "flash/spi_opcodes.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// The replies of a page fill whole 62-byte reply packets, each of which leaves as soon as it
// is full, so none waits for the latency timer: the latch's status read with the read right
// after the program (clocked on through the start of the wait), then the readings at the end
// of the wait.
const unsigned long kReplyPacket = 62;
const unsigned long kStartReadings = kReplyPacket - 3;
const unsigned long kEndReadings = kReplyPacket - 1;
// Byte times of the cable's 6 MHz shift clock a program keeps the chip busy: the first guess
// is a 0.7 ms program; at most about 4 ms of idle clocks go out with one page.
const unsigned long kFirstBusy = 525;
const unsigned long kMaxBusy = 3000;

struct Progress {
    unsigned long a;
    unsigned long done;
};

// Puts the next frame's data behind its command bytes: its length, 0 when it can't be had.
unsigned long Fill_Next(CTAMREL* pgm, const PageProgramJob& job, const Progress& at) {
    const unsigned long P = pgm->setup->page_size;
    const unsigned long rest = job.len - at.done;
    const bool last = rest < P;
    const unsigned long n = pgm->Data_Align(at.a, static_cast<int>(last ? rest : P), last);
    return job.fill(job.ctx, pgm->Program_Data(), at.done, n) ? n : 0;
}

void Page_Done(const PageProgramJob& job, Progress* at, unsigned long n) {
    at->a += n;
    at->done += n;
    Print_Progress(job.progress, {at->done, job.len, 0}, "%s0x%08lX (%lu%%)\r", job.progress, at->a,
                   at->done * 100 / job.len);
}

// One page after the other, each after a status wait: the chip's own pace.
void Plain_Program(CTAMREL* pgm, const PageProgramJob& job, PageProgramResult* res, Progress* at) {
    while (at->done < job.len) {
        if (job.interruptible && Interrupt_Pending()) {
            res->end = ProgramEnd::Interrupted;
            return;
        }
        // A chip still busy would ignore the frame: stop rather than report it programmed.
        if (pgm->Wait_WriteBusy(job.busy_polls, job.busy_pause_ms) != 1) {
            res->busy_timeout = true;
            break;
        }
        pgm->Write_Enable();
        const unsigned long n = Fill_Next(pgm, job, *at);
        if (n == 0) {
            res->end = ProgramEnd::FillFailed;
            return;
        }
        pgm->Program_Page(at->a, n);
        if (pgm->Cable_Lost()) break;
        Page_Done(job, at, n);
    }
    if (pgm->Cable_Lost()) res->end = ProgramEnd::CableLost;
}

// Each page in one round trip: write enable, its latch read, the program, a status read, idle
// clocks for about as long as the last program kept the chip busy, and status readings at the
// end travel together, and the next page goes as soon as those show the chip ready. A page
// counts only once the chip has confirmed it: the latch set (and the chip ready) after the
// write enable, busy right after the program. A busy chip ignores both, so a page it did not
// take is sent again after a status wait. A chip that is ready but does not latch or does not
// start the program is left to the plain loop, which does as it always did.
void Pipelined_Program(CTAMREL* pgm, const PageProgramJob& job, PageProgramResult* res,
                       Progress* at) {
    unsigned char latch[2], started[kStartReadings + 1], polled[kEndReadings + 1];
    unsigned long busy = kFirstBusy;
    bool ready = false;  // the last status reading showed the chip ready
    int refused = 0;     // times in a row the chip was busy at the write enable
    while (at->done < job.len) {
        if (job.interruptible && Interrupt_Pending()) {
            res->end = ProgramEnd::Interrupted;
            return;
        }
        if (!ready && pgm->Wait_WriteBusy(job.busy_polls, job.busy_pause_ms) != 1) {
            if (pgm->Cable_Lost()) break;
            res->busy_timeout = true;
            return;
        }
        const unsigned long n = Fill_Next(pgm, job, *at);
        if (n == 0) {
            res->end = ProgramEnd::FillFailed;
            return;
        }
        const unsigned long lead = kStartReadings + kEndReadings / 2;
        const unsigned long gap = busy > lead ? busy - lead : 0;
        pgm->Program_Page_Confirmed(at->a, n, latch, started, kStartReadings, gap, polled,
                                    kEndReadings);
        if (pgm->Cable_Lost()) break;

        const bool latched = (latch[1] & (STATUS_WEL | STATUS_BUSY)) == STATUS_WEL;
        if (!latched && (latch[1] & STATUS_BUSY) && ++refused < 3) {
            ready = false;  // still busy from before: nothing was taken
            continue;
        }
        if (!latched || !(started[1] & STATUS_BUSY)) break;
        refused = 0;
        unsigned long seen = 1;
        while (seen <= kEndReadings && (polled[seen] & STATUS_BUSY)) ++seen;
        ready = seen <= kEndReadings;
        // Ready at the first reading, the chip may have been ready a while: the gap shrinks.
        if (ready)
            busy = seen > 1 ? kStartReadings + gap + seen : busy - busy / 8;
        else
            busy += busy / 2 + kEndReadings;
        if (busy > kMaxBusy) busy = kMaxBusy;
        Page_Done(job, at, n);
    }
    if (pgm->Cable_Lost()) res->end = ProgramEnd::CableLost;
}

}  // namespace

PageProgramResult Page_Program(CTAMREL* pgm, const PageProgramJob& job) {
    PageProgramResult res = {ProgramEnd::Done, false};
    Progress at = {job.addr, 0};
    if (pgm->Pipelined_Programs()) {
        Pipelined_Program(pgm, job, &res, &at);
        if (res.end != ProgramEnd::Done || res.busy_timeout || at.done == job.len) return res;
    }
    Plain_Program(pgm, job, &res, &at);
    return res;
}

bool Fill_From_Buffer(void* ctx, unsigned char* dst, unsigned long done, unsigned long n) {
    memcpy(dst, static_cast<const unsigned char*>(ctx) + done, n);
    return true;
}
