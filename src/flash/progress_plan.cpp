#include "flash/progress_plan.h"

#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "run/progress.h"

namespace {

// What a cable adds to the chip's own work, measured on the modeled wire (4 MiB jobs on a
// W25Q32): a page program frame with its write enable and status polls (fixed part and per
// byte), a byte of a bulk read, and the frames around a unit erase.
struct CableCost {
    double page_s, page_byte_s, read_byte_s, erase_frames_s;
};
const CableCost kLptCost = {0.0008, 32.4e-6, 32.1e-6, 0.0045};
const CableCost kUsbCost = {0.0059, 1.5e-6, 6.4e-6, 0.0073};

// A unit erase, typically, as the emulated chip takes it: 45 ms up to 4 KiB, a straight line
// to 150 ms at 64 KiB, 150 ms per 64 KiB above.
double Unit_Erase_s(unsigned long size) {
    if (size <= 0x1000) return 0.045;
    if (size <= 0x10000) return 0.045 + 0.105 * (size - 0x1000) / 0xF000;
    return 0.150 * size / 0x10000;
}

}  // namespace

double Typical_Chip_Erase_s(const Setup_struct* s) {
    return s->total_size / 1048576.0;
}

void Progress_Plan_Sequence(const Setup_struct* s) {
    const CableCost& cable = s->use_usb ? kUsbCost : kLptCost;
    ProgressPlanStep steps[3];
    int n = 0;
    const unsigned long es = s->erase_size;
    if (s->do_erase && Erases_Whole_Chip(s) && (s->cmd_chip_erase != 0 || Erase_By_Dies(s))) {
        steps[n++] = {"Chip erase", Typical_Chip_Erase_s(s)};
    } else if (s->do_erase && es > 0) {
        const Span span = Erase_Span(s);
        const unsigned long units =
            span.end > span.first ? (span.end - 1) / es - span.first / es + 1 : 0;
        steps[n++] = {"Erase", units * (Unit_Erase_s(es) + cable.erase_frames_s)};
    }
    const unsigned long page = s->page_size > 0 ? s->page_size : 256;
    if (s->do_write) {
        const unsigned long pages = (Write_Span(s).end - Write_Span(s).first) / page + 1;
        steps[n++] = {"Write data:", pages * (cable.page_s + page * cable.page_byte_s)};
    }
    if (s->do_verify)
        steps[n++] = {"Verify data:",
                      (Verify_Span(s).end - Verify_Span(s).first) * cable.read_byte_s};
    Progress_Plan(steps, n);
}
