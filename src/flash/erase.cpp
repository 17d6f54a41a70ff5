// Erase of the whole chip or of the erase units covering a range, keeping head and tail.
#include "flash/erase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "adapters/delay.h"
#include "flash/progress_plan.h"
#include "flash/range_check.h"
#include "flash/range_plan.h"
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

int CTAMREL::Erase_Permitted() {
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
    return 1;
}

int Erase_Steps(CTAMREL* pgm, const Units& u, const std::vector<EraseStep>& plan,
                bool* interrupted) {
    const unsigned long es = u.size;
    for (const EraseStep& step : plan) {
        if (Interrupt_Pending()) {
            *interrupted = true;
            return 1;
        }
        // A chip still busy would ignore the erase: stop rather than report it erased.
        if (pgm->Wait_WriteBusy(200, 100) != 1) return pgm->Cable_Lost() ? -2 : -1;
        pgm->Write_Enable();
        if (step.chip)
            pgm->Chip_Erase();
        else if (step.units == 1)
            pgm->Erase_Unit(step.addr + es / 2);  // the middle of the unit
        else
            pgm->Erase_Command(step.opcode, step.addr);
        const unsigned long n0 = step.addr / es, n1 = n0 + step.units - 1;
        // From here on the saved bytes of this unit exist only in memory and the journal.
        if (n0 <= pgm->head_addr / es && pgm->head_addr / es <= n1 && pgm->head_len > 0)
            pgm->head_pending = true;
        if (n0 <= pgm->tail_addr / es && pgm->tail_addr / es <= n1 && pgm->tail_len > 0)
            pgm->tail_pending = true;
        // A unit is reported only once its erase command has reached the chip.
        if (pgm->Cable_Lost()) return -2;
        for (unsigned long i = n0; i <= n1; i++)
            Print_Progress("Erase", {(i - u.first + 1) * es, (u.last - u.first + 1) * es, 0},
                           "\rErase %s%d->%d\tOK", pgm->erase_label, static_cast<int>(u.first),
                           static_cast<int>(i));
        // A chip erase takes far longer than any unit: wait for it as the whole-chip erase does,
        // to its end when bytes wait to be programmed back.
        const bool kept = pgm->head_pending || pgm->tail_pending;
        if (step.chip && pgm->Wait_WriteBusy(360, 1000, !kept) != 1)
            return pgm->Cable_Lost() || (Interrupt_Pending() && !kept) ? -2 : -1;
    }
    return 1;
}

void Choose_Erase_Label(CTAMREL* pgm) {
    for (const EraseLabel& e : kEraseLabels)
        if (e.opcode == pgm->setup->cmd_erase) pgm->erase_label = pgm->*e.label;
}

int CTAMREL::FLASH_Erase() {
    if (!setup->do_erase) return 1;

    Choose_Erase_Label(this);

    const bool whole_chip = Erases_Whole_Chip(setup);
    // A chip without a chip erase command (chipers=0) is erased die by die (diers=), or unit
    // by unit.
    const bool by_dies = whole_chip && Erase_By_Dies(setup);
    const bool by_units = !whole_chip || (setup->cmd_chip_erase == 0 && !by_dies);
    Units u = {};
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
        const Span span = Erase_Span(setup);
        if (!Range_Inside_Chip(setup, span.first, span.end)) return -1;
        u = Units_Of(span, setup->erase_size);
    }

    if (Erase_Permitted() != 1) return -1;

    if (setup->has_file_name) {
        const std::string plural = std::string(erase_label, strlen(erase_label) - 2) + "s";
        printf("\nFile: \"%s\"\tsize: 0x%lX Bytes, Occupy %s: %d", setup->file_name.c_str(),
               static_cast<unsigned long>(setup->file_size), plural.c_str(),
               static_cast<int>(u.last - u.first + 1));
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
            if (Cable_Lost()) break;
            delay_ms(1000);
            if (Wait_WriteBusy(360, 1000, true) != 1) ok = false;
            // Each die is erased whole or not at all; nothing was kept: stop at once.
            if (Interrupt_Pending() || Cable_Lost() || !ok) break;
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
        if (Journal_Head_Tail() != 1) return -1;              // nor what is not on disk
        printf("\n");
        // Whole aligned blocks go with one larger erase command.
        const int r = Erase_Steps(this, u, Erase_Plan(setup, u), &interrupted);
        if (r == -2) return -1;
        if (r != 1) ok = false;
    }

    if (Wait_WriteBusy(200, 20) != 1) ok = false;
    if (Cable_Lost()) return -1;
    if (ok && !interrupted) printf("\nErase done");
    if (Restore_Kept(this) != 1) ok = false;
    return ok && !interrupted ? 1 : -1;
}

int Restore_Kept(CTAMREL* pgm) {
    // The restores run to their end even when an interrupt is pending.
    bool ok = true;
    if (pgm->FLASH_Write_Head() == 1)
        pgm->head_pending = false;
    else
        ok = false;
    const bool tail_sent = pgm->FLASH_Write_Tail(pgm->tail_addr) == 1;
    // The tail's last page program must be over before the next step reads the chip.
    if (pgm->Wait_WriteBusy(200, 20) != 1 || !tail_sent)
        ok = false;
    else
        pgm->tail_pending = false;
    if (!pgm->head_pending && !pgm->tail_pending && pgm->Confirm_Head_Tail() != 1) ok = false;
    return ok ? 1 : -1;
}
