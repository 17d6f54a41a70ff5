// Progress of the steps of a run on a terminal: one line per step with bytes done of the
// total, rate, time elapsed and left, and what the whole sequence has left; a chip erase shows
// its time against the chip's typical time. Lines are drawn at most ten times a second, on the
// clock of the delays (an emulated target's virtual clock). Piped or redirected, the steps
// print their own lines instead (run/console.h) and nothing here is drawn.
#pragma once

#include <string>

// What a progress line counts: `done` of `total` bytes, and the differences found so far.
struct ProgressCount {
    unsigned long long done;
    unsigned long long total;
    unsigned long errors;
};

// A step of the sequence a run has ahead: its series and the time it typically takes.
struct ProgressPlanStep {
    const char* series;
    double seconds;
};

// The steps ahead, in order; with more than one, each line also says what all of them have
// left. A new plan replaces the last one.
void Progress_Plan(const ProgressPlanStep* steps, int n);

// On a terminal: the figures of a line of `series` now, drawn when due.
void Progress_Update(const char* series, const ProgressCount& count);

// A wait for the chip (chip erase) that typically takes `typical_s`: its line is drawn when
// the wait begins, by Progress_Tick while it lasts, and once more when it ends.
void Progress_Wait_Begin(const char* series, double typical_s);
void Progress_Wait_End();
void Progress_Tick();

// Other text is about to be written to the terminal: the latest figures of the line, when not
// drawn yet, go first, and the next update of any series starts a new line.
void Progress_Before_Text();

// The figures of one line as drawn; what does not fit `width` columns is left out: first the
// sequence's time left, then the rate.
struct ProgressFigures {
    std::string name;
    unsigned long long done, total;  // bytes; a wait has none
    double elapsed_s;
    double rate;       // bytes a second; < 0: not known yet
    double left_s;     // < 0: not known yet
    double typical_s;  // > 0: a wait for the chip, shown against this time
    unsigned long errors;
    double all_left_s;  // < 0: no sequence
};
std::string Progress_Text(const ProgressFigures& f, unsigned width);
