// Comparing a range of the chip with the data file, page by page.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flash/flash_alloc.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

// The first differences are listed, so that a stuck bit or a shifted image shows at once.
const uint32_t kDifferencesShown = 8;

struct Difference {
    unsigned long addr;
    int file;  // -1: the file has no byte there
    unsigned char chip;
};

void Print_Differences(const Difference* first, uint32_t errors) {
    const uint32_t shown = errors < kDifferencesShown ? errors : kDifferencesShown;
    for (uint32_t i = 0; i < shown; i++) {
        const Difference& d = first[i];
        if (d.file < 0)
            printf("\n0x%08lX: file has no byte, chip 0x%02X", d.addr, d.chip);
        else
            printf("\n0x%08lX: file 0x%02X, chip 0x%02X (bits 0x%02X)", d.addr, d.file, d.chip,
                   d.file ^ d.chip);
    }
    if (errors > shown) printf("\n... and %u more", errors - shown);
}

}  // namespace

int CTAMREL::FLASH_Verify() {
    if (!setup->do_verify) return 1;
    if (setup->data_file == nullptr) {
        printf("\nError: no data file to verify\n");
        return -1;
    }

    const unsigned long fs = setup->file_size;
    const Span span = Verify_Span(setup);
    const unsigned long S = span.first, L = span.end - span.first;

    if (setup->do_write) {
        printf("\n");
    } else {
        if (!Erase_Size_Usable(setup)) return -1;  // the unit count below divides by it
        const std::string unit = std::string(erase_label, strlen(erase_label) - 2) + "s:";
        const float units = static_cast<float>(static_cast<double>(fs) / setup->erase_size);
        printf("\nFile: \"%s\"\tsize: 0x%lX Bytes", setup->file_name.c_str(), fs);
        printf("\nVerify %s\t\t%d x %ld Bytes\n", unit.c_str(), static_cast<int>(ceilf(units)),
               static_cast<long>(setup->erase_size));
    }

    const unsigned long P = setup->page_size;
    unsigned char* cmp = Flash_Alloc(P);
    if (!cmp) {
        printf("\nMemory allocation Error!\n");
        return -1;
    }

    uint32_t errors = 0;
    Difference first[kDifferencesShown];
    bool stopped = false;
    unsigned long a = S;
    unsigned long done = 0, framed = 0, in_frame = 0;
    const unsigned long frame_len = Read_Frame_Len();  // whole pages per frame
    while (done < L) {
        if (Interrupt_Pending()) {
            stopped = true;
            break;
        }
        if (done == framed) {
            in_frame = L - done < frame_len ? L - done : frame_len;
            Read_Block(a, in_frame);
            if (Cable_Lost()) {  // the cable has said so
                stopped = true;
                break;
            }
            framed += in_frame;
        }
        const unsigned long chunk = L - done < P ? L - done : P;
        const unsigned char* chip = io_buf + (in_frame - (framed - done));
        // A chip byte the file has no byte for counts as a difference: the range asked for
        // does not hold the file, and no unread buffer content is compared.
        size_t got = 0;
        if (fseek(setup->data_file, static_cast<long>(done), SEEK_SET) == 0)
            got = fread(cmp, 1, chunk, setup->data_file);
        for (unsigned long i = 0; i < chunk; i++) {
            if (i < got && chip[i] == cmp[i]) continue;
            if (errors < kDifferencesShown) first[errors] = {a + i, i < got ? cmp[i] : -1, chip[i]};
            errors++;
        }

        a += chunk;
        done += chunk;
        const ProgressCount count = {done, L, errors};
        if (errors > 0)
            Print_Progress("Verify data:", count, "Verify data:\t\t0x%08lX (%01lu%%) Errors: %d\r",
                           a, done * 100 / L, static_cast<int>(errors));
        else
            Print_Progress("Verify data:", count, "Verify data:\t\t0x%08lX (%01lu%%)\r", a,
                           done * 100 / L);
    }
    free(cmp);

    if (stopped) return -1;
    if (errors > 0) {
        printf("\nVerify Error!");
        Print_Differences(first, errors);
        return -1;
    }
    printf("\nVerify OK\n");
    return 1;
}
