// -e -w [-v] -c: reads the erase range first, then leaves alone the units that already hold
// what the run would leave there, programs without an erase those whose new bytes only clear
// bits, and erases and programs the rest, keeping the bytes outside the range as the erase
// does. With -v only what was programmed is read back.
#pragma once

class CTAMREL;

int Flash_Update(CTAMREL* pgm);
