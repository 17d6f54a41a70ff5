// Reading any length of the chip into memory, in as many frames as io_buf takes.
#pragma once

class CTAMREL;

// False when the cable is lost (it has said so).
bool Read_Chip(CTAMREL* pgm, unsigned long addr, unsigned long len, unsigned char* dst);
// True when the chip holds `len` bytes equal to `data` at `addr`.
bool Chip_Holds(CTAMREL* pgm, unsigned long addr, const unsigned char* data, unsigned long len);
