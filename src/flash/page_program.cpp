#include "flash/page_program.h"

#include <cstdio>
#include <cstring>

#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

PageProgramResult Page_Program(CTAMREL* pgm, const PageProgramJob& job) {
    PageProgramResult res = {ProgramEnd::Done, false};
    const unsigned long P = pgm->setup->page_size;
    unsigned long a = job.addr;
    unsigned long done = 0;
    while (done < job.len) {
        if (job.interruptible && Interrupt_Pending()) {
            res.end = ProgramEnd::Interrupted;
            return res;
        }
        // A chip still busy would ignore the frame: stop rather than report it programmed.
        if (pgm->Wait_WriteBusy(job.busy_polls, job.busy_pause_ms) != 1) {
            res.busy_timeout = true;
            break;
        }
        pgm->Write_Enable();

        const unsigned long rest = job.len - done;
        const bool last = rest < P;
        const unsigned long n = pgm->Data_Align(a, static_cast<int>(last ? rest : P), last);

        if (!job.fill(job.ctx, pgm->Program_Data(), done, n)) {
            res.end = ProgramEnd::FillFailed;
            return res;
        }
        pgm->Program_Page(a, n);
        if (pgm->Cable_Lost()) break;

        a += n;
        done += n;
        Print_Progress(job.progress, {done, job.len, 0}, "%s0x%08lX (%lu%%)\r", job.progress, a,
                       done * 100 / job.len);
    }
    if (pgm->Cable_Lost()) res.end = ProgramEnd::CableLost;
    return res;
}

bool Fill_From_Buffer(void* ctx, unsigned char* dst, unsigned long done, unsigned long n) {
    memcpy(dst, static_cast<const unsigned char*>(ctx) + done, n);
    return true;
}
