// Printing a range of the chip as hexadecimal tables, one table per page.
#include <cstdio>

#include "flash/range_plan.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

int CTAMREL::FLASH_ShowMem() {
    const unsigned long P = setup->page_size;
    // Past the last byte the chip wraps to its start: never label those bytes as other
    // addresses. The parameter check keeps the start below the chip's size.
    const Span span = Show_Span(setup);
    unsigned long addr = span.first;
    unsigned long length = span.end - span.first;

    while (length > P) {
        if (Interrupt_Pending()) return -1;
        Read_Block(addr, P);
        if (Cable_Lost()) return -1;
        Print_Buffer(io_buf, addr, static_cast<int>(P));
        addr += P;
        length -= P;
    }
    if (Interrupt_Pending()) return -1;
    Read_Block(addr, length);
    if (Cable_Lost()) return -1;
    Print_Buffer(io_buf, addr, static_cast<int>(length));
    return 1;
}

void CTAMREL::Print_Buffer(const unsigned char* buf, unsigned long base, int len) {
    printf("\nADDR:\t");
    for (unsigned long col = 0; col < 16; col++) {
        if (col == 8) printf("| ");
        printf("%02lX ", col);
    }
    printf("\n");
    printf("---------------------------------------------------------\n");
    if (len < 1) return;

    const int rows = (len + 15) / 16;
    for (int row = 0; row < rows; row++) {
        printf("%06lX: ", base + 16UL * static_cast<unsigned long>(row));
        for (int col = 0; col < 16; col++) {
            if (col == 8) printf("| ");
            const int i = row * 16 + col;
            if (i < len)
                printf("%02X ", buf[i]);
            else
                printf("   ");
        }
        printf("\n");
    }
}
