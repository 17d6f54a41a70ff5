#include "flash/page_program.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "flash/spi_opcodes.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// Status readings after a program: a whole number of 62-byte reply packets with the two
// replies of the latch's status read, so none waits for the latency timer. The count follows
// what the chip took last time; the first guess covers a 0.7 ms program on the USB-Blaster.
const unsigned long kReplyPacket = 62;
const unsigned long kFirstPolls = 9 * kReplyPacket - 3;
const unsigned long kMaxPolls = 48 * kReplyPacket - 3;

unsigned long Polls_For(unsigned long busy_readings) {
    const unsigned long want = busy_readings + busy_readings / 8 + 16;
    const unsigned long polls = (want + 3 + kReplyPacket - 1) / kReplyPacket * kReplyPacket - 3;
    return polls < kMaxPolls ? polls : kMaxPolls;
}

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
    Print_Progress(job.progress, {at->done, job.len, 0}, "%s0x%08lX (%lu%%)\r", job.progress,
                   at->a, at->done * 100 / job.len);
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

// Each page in one round trip: write enable, its latch read, the program and the status
// readings that follow it travel together, and the next page goes as soon as they show the
// chip ready. A page counts only once the chip has confirmed it: the latch set (and the chip
// ready) after the write enable, busy right after the program. A busy chip ignores both, so a
// page it did not take is sent again after a status wait. A chip that is ready but does not
// latch or does not start the program is left to the plain loop, which does as it always did.
void Pipelined_Program(CTAMREL* pgm, const PageProgramJob& job, PageProgramResult* res,
                       Progress* at) {
    unsigned char latch[2];
    std::vector<unsigned char> polled(kMaxPolls + 1);
    unsigned long polls = kFirstPolls;
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
        pgm->Program_Page_Confirmed(at->a, n, latch, polled.data(), polls);
        if (pgm->Cable_Lost()) break;

        const bool latched = (latch[1] & (STATUS_WEL | STATUS_BUSY)) == STATUS_WEL;
        if (!latched && (latch[1] & STATUS_BUSY) && ++refused < 3) {
            ready = false;  // still busy from before: nothing was taken
            continue;
        }
        if (!latched || !(polled[1] & STATUS_BUSY)) break;
        refused = 0;
        unsigned long busy = 1;
        while (busy < polls && (polled[busy + 1] & STATUS_BUSY)) ++busy;
        ready = busy < polls;
        polls = ready ? Polls_For(busy) : Polls_For(2 * polls);
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
