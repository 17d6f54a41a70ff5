// SPI flash command layer: every command frame goes out through the adapter's WR_BLOCK.
#include <cstdio>
#include <cstring>

#include "adapters/delay.h"
#include "flash/spi_opcodes.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

const unsigned char STATUS_FILLER = 0x00;

// One chip-select frame; without a cable nothing is clocked and buf keeps what it held.
void send_frame(CInterface* adapter, unsigned char* buf, long total_len, long read_len) {
    if (adapter) adapter->WR_BLOCK(buf, total_len, read_len);
}

}  // namespace

void CTAMREL::FLASH_Read_JEDEC(unsigned char* buf) {
    buf[0] = SPI_READ_JEDEC;
    send_frame(adapter, buf, 6, 5);
}

unsigned char CTAMREL::Get_StatusReg() {
    unsigned char frame[2] = {SPI_READ_STATUS, STATUS_FILLER};
    send_frame(adapter, frame, 2, 2);
    return frame[1];  // byte 0 was clocked in while the opcode went out
}

void CTAMREL::Write_Enable() {
    unsigned char frame[1] = {SPI_WRITE_ENABLE};
    send_frame(adapter, frame, 1, 0);
}

void CTAMREL::Write_Disable() {
    unsigned char frame[1] = {SPI_WRITE_DISABLE};
    send_frame(adapter, frame, 1, 0);
}

void CTAMREL::Read_Block(unsigned long addr, unsigned long len) {
    // A frame never runs past io_buf: the four command bytes plus the reply.
    if (len > IO_BUF_SIZE - 4) len = IO_BUF_SIZE - 4;
    io_buf[0] = SPI_READ;
    io_buf[1] = static_cast<unsigned char>(addr >> 16);
    io_buf[2] = static_cast<unsigned char>(addr >> 8);
    io_buf[3] = static_cast<unsigned char>(addr);
    send_frame(adapter, io_buf, static_cast<long>(len + 4), static_cast<long>(len));
    memmove(io_buf, io_buf + 4, len);
}

int CTAMREL::Wait_WriteBusy(int polls, int pause_ms, bool interruptible) {
    for (int busy_readings = 0; busy_readings < polls;) {
        if (interruptible && busy_readings > 0 && Interrupt_Pending()) return 0;
        if ((Get_StatusReg() & STATUS_BUSY) == 0) return 1;
        delay_ms(pause_ms > 0 ? static_cast<unsigned int>(pause_ms) : 0U);
        ++busy_readings;
    }
    printf("\nError: Wait_WriteBusy exit by timeout");
    return 0;
}

int CTAMREL::Check_WriteProtect() {
    if (Get_StatusReg() & STATUS_WEL) return 0;
    SetColor(14, 1);
    printf("\nError: Disable hardware \"Write protect\" pin!");
    SetColor(15, 0);
    printf("\n");
    return 1;
}
