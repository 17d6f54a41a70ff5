// tamrel --list: the USB-Blasters on the bus and the parallel ports, and which are in use,
// without driving any of them.
#pragma once

class CTAMREL;

// 1 listed; -1 when the USB devices or the emulated target could not be had (said).
int Cable_Listing(CTAMREL* pgm);
