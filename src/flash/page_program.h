// Page-program loop shared by the head and tail restores and the data write. Each frame
// never crosses a page boundary; its data is read straight into io_buf behind the command.
#pragma once

class CTAMREL;

struct PageProgramJob {
    unsigned long addr;  // first chip address
    unsigned long len;   // bytes to program
    int busy_polls;      // Wait_WriteBusy before each frame
    int busy_pause_ms;
    const char* progress;  // label of the progress line: "<label>0x%08lX (%lu%%)\r"
    bool interruptible;    // stop before the next frame once an interrupt is pending
    // Puts the n bytes at data offset `done` to dst; false when they can't be had (it
    // prints its own message then).
    bool (*fill)(void* ctx, unsigned char* dst, unsigned long done, unsigned long n);
    void* ctx;
};

enum class ProgramEnd { Done, FillFailed, Interrupted, CableLost };

struct PageProgramResult {
    ProgramEnd end;
    bool busy_timeout;  // a wait before a frame ran out of polls: that frame and the rest unsent
};

PageProgramResult Page_Program(CTAMREL* pgm, const PageProgramJob& job);

// fill for a job whose data is a byte array (ctx points at its first byte).
bool Fill_From_Buffer(void* ctx, unsigned char* dst, unsigned long done, unsigned long n);
