// Clearing the chip's write protection: a status register write, or on parts with
// per-block locks (unlock=ulbpr) the global unlock, judged from the block-protection
// register.
#include <cstdio>

#include "flash/spi_opcodes.h"
#include "run/tamrel.h"

namespace {

// The SST26 block-protection register: one bit per 64 KiB block, two for each of the
// eight 8 KiB blocks at the ends, less the two 64 KiB spans those cover.
unsigned long block_protection_len(const Setup_struct* s) {
    return (s->total_size / 0x10000 + 16 + 7) / 8;
}

bool blocks_unlocked(CTAMREL* pgm) {
    const unsigned long len = block_protection_len(pgm->setup);
    pgm->Read_Block_Protection(len);
    for (unsigned long i = 0; i < len; i++)
        if (pgm->io_buf[i] != 0) return false;
    return true;
}

}  // namespace

bool CTAMREL::Refuse_Locked_Blocks(const char* operation) {
    if (setup->unlock_mode != UNLOCK_ULBPR) return false;
    const bool unlocked = blocks_unlocked(this);
    if (Cable_Lost()) return true;  // the cable has said so: nothing more is sent
    if (unlocked) return false;
    printf("\nError: the block-protection register locks blocks, %s refused; -u clears it\n",
           operation);
    return true;
}

int CTAMREL::FLASH_Unlock() {
    Write_Enable();
    unsigned char status = Get_StatusReg();
    if (Cable_Lost()) return -1;  // the cable has said so
    if (!(status & STATUS_WEL)) {
        printf("Status = %02Xh, WE bit is %s\n", status, "disabled");
        return -1;
    }
    printf("Status = %02Xh, WE bit is %s\n", status, "enabled");

    const bool global = setup->unlock_mode == UNLOCK_ULBPR;
    if (global)
        Global_Unlock();
    else
        Write_Status(0x00);  // all protection bits clear
    printf("Unlocking...\n");
    Wait_WriteBusy(200, 100);

    status = Get_StatusReg();
    if (Cable_Lost()) return -1;
    printf("Status = %02Xh, ", status);
    // Per-block locks do not show in the status register. A chip still busy has not finished
    // the write.
    const unsigned char bits = setup->record.protect_mask | STATUS_SRP;
    const bool cleared = global ? blocks_unlocked(this) : (status & bits) == 0;
    if (cleared && !(status & STATUS_BUSY)) {
        printf("device is unlocked now.\n");
        return 1;
    }
    printf("unlock failed, set WP# pin level high\n.");
    return -1;
}
