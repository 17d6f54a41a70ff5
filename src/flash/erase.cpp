// Erase of the whole chip or of the erase units covering a range, keeping head and tail.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "adapters/delay.h"
#include "flash/progress_plan.h"
#include "flash/range_check.h"
#include "flash/spi_opcodes.h"
#include "flash/write_protect.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

struct EraseLabel {
    unsigned char opcode;
    const char* CTAMREL::*label;
};

const EraseLabel kEraseLabels[] = {
    {0x81, &CTAMREL::page_label},
    {0x52, &CTAMREL::block_label},
    {0xD8, &CTAMREL::sector_label},
    {0x20, &CTAMREL::sector_label},
};

}  // namespace

int CTAMREL::FLASH_Erase() {
    if (!setup->do_erase) return 1;

    for (const EraseLabel& e : kEraseLabels)
        if (e.opcode == setup->cmd_erase) erase_label = this->*e.label;

    const bool whole_chip = Erases_Whole_Chip(setup);
    // A chip without a chip erase command (chipers=0) is erased die by die (diers=), or unit
    // by unit.
    const bool by_dies = whole_chip && Erase_By_Dies(setup);
    const bool by_units = !whole_chip || (setup->cmd_chip_erase == 0 && !by_dies);
    const unsigned long es = setup->erase_size;
    unsigned long S = 0, E = 0, first = 0, last = 0;
    if (by_units) {
        // Refuse before anything is sent: an opcode of 0 would go out as 0xC7 and wipe
        // the whole chip, and a unit size of 0 leaves no units to work out.
        if (setup->cmd_erase == 0) {
            printf(
                "\nError: no erase command known for this chip's erase unit, range erase "
                "refused\n");
            return -1;
        }
        if (!Erase_Size_Usable(setup)) return -1;
        Unit_Range(setup, &S, &E);
        if (!Range_Inside_Chip(setup, S, E)) return -1;
        first = S / es;
        last = (E - 1) / es;
    }

    Write_Enable();
    const unsigned char status = Get_StatusReg();
    if (Cable_Lost()) return -1;  // the cable has said so
    if (!(status & STATUS_WEL)) {
        printf("\nStatus:\t\t0x%02Xh\tWE %s", status, "disabled");
        printf("Can`t erase, chip write protected!");
        Adapter_release();
        return -1;
    }
    if (Refuse_Protected(setup->record.protect_mask, status, "erase") ||
        Refuse_Locked_Blocks("erase")) {
        Write_Disable();  // leave the latch as it was found
        return -1;
    }
    printf("\nStatus:\t\t0x%02Xh\tWE %s", status, "enabled");

    if (setup->has_file_name) {
        const std::string plural = std::string(erase_label, strlen(erase_label) - 2) + "s";
        printf("\nFile: \"%s\"\tsize: 0x%lX Bytes, Occupy %s: %d", setup->file_name.c_str(),
               static_cast<unsigned long>(setup->file_size), plural.c_str(),
               static_cast<int>(last - first + 1));
    }

    bool ok = true;
    bool interrupted = false;
    if (whole_chip) {
        // Nothing is kept over a chip erase; a head or tail left from before must not return.
        free(head_buf);
        free(tail_buf);
        head_buf = tail_buf = nullptr;
        head_len = tail_len = 0;
        printf("\nChip full erase, please wait...");
    }
    if (by_dies) {
        const unsigned long die = setup->record.die_size;
        Progress_Wait_Begin("Chip erase", Typical_Chip_Erase_s(setup));
        for (unsigned long at = 0; at < setup->total_size; at += die) {
            if (at > 0) Write_Enable();  // the first uses the latch set and tested above
            Die_Erase(at);
            if (Cable_Lost()) return -1;
            delay_ms(1000);
            if (Wait_WriteBusy(360, 1000, true) != 1) ok = false;
            // Each die is erased whole or not at all; nothing was kept: stop at once.
            if (Interrupt_Pending() || Cable_Lost()) break;
            if (!ok) break;
        }
        Progress_Wait_End();
        if (Interrupt_Pending() || Cable_Lost()) return -1;
    } else if (!by_units) {
        Chip_Erase();  // uses the latch set and tested above
        Progress_Wait_Begin("Chip erase", Typical_Chip_Erase_s(setup));
        delay_ms(1000);
        if (Wait_WriteBusy(360, 1000, true) != 1) ok = false;
        Progress_Wait_End();
        // The chip finishes a chip erase on its own and nothing was kept: stop at once.
        if (Interrupt_Pending() || Cable_Lost()) return -1;
    } else {
        if (!whole_chip && Save_Head_Tail() != 1) return -1;  // never erase what was not saved
        printf("\n");
        for (unsigned long i = first; i <= last; i++) {
            if (Interrupt_Pending()) {
                interrupted = true;
                break;
            }
            // A chip still busy would ignore the erase: stop rather than report it erased.
            if (Wait_WriteBusy(200, 100) != 1) {
                if (Cable_Lost()) return -1;
                ok = false;
                break;
            }
            Write_Enable();
            Erase_Unit(i * es + es / 2);  // the middle of the unit
            // From here on the saved bytes of this unit exist only in memory.
            if (i == first && head_len > 0) head_pending = true;
            if (i == last && tail_len > 0) tail_pending = true;
            // A unit is reported only once its erase command has reached the chip.
            if (Cable_Lost()) return -1;
            Print_Progress("Erase", {(i - first + 1) * es, (last - first + 1) * es, 0},
                           "\rErase %s%d->%d\tOK", erase_label, static_cast<int>(first),
                           static_cast<int>(i));
        }
    }

    if (Wait_WriteBusy(200, 20) != 1) ok = false;
    if (Cable_Lost()) return -1;
    if (ok && !interrupted) printf("\nErase done");
    // The restores run to their end even when an interrupt is pending.
    if (FLASH_Write_Head() == 1)
        head_pending = false;
    else
        ok = false;
    const bool tail_sent = FLASH_Write_Tail(tail_addr) == 1;
    // The tail's last page program must be over before the next step reads the chip.
    if (Wait_WriteBusy(200, 20) != 1 || !tail_sent)
        ok = false;
    else
        tail_pending = false;
    return ok && !interrupted ? 1 : -1;
}
