// Clearing the chip's write-protection bits through a status register write.
#include <cstdio>

#include "flash/spi_opcodes.h"
#include "run/tamrel.h"

int CTAMREL::FLASH_Unlock() {
    Write_Enable();
    unsigned char status = Get_StatusReg();
    if (!(status & STATUS_WEL)) {
        printf("Status = %02Xh, WE bit is %s\n", status, "disabled");
        return -1;
    }
    printf("Status = %02Xh, WE bit is %s\n", status, "enabled");

    unsigned char frame[2] = {SPI_WRITE_STATUS, 0x00};  // write status register: all bits clear
    adapter->WR_BLOCK(frame, 2, 0);
    printf("Unlocking...\n");
    Wait_WriteBusy(200, 100);

    status = Get_StatusReg();
    printf("Status = %02Xh, ", status);
    if ((status & STATUS_PROTECT) == 0) {
        printf("device is unlocked now.\n");
        return 1;
    }
    printf("unlock failed, set WP# pin level high\n.");
    return -1;
}
