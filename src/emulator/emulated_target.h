// The emulated target board: the configured cable, a flash chip behind it, and the chip's
// content in an image file (or in memory).
#pragma once

#include <string>

class CTAMREL;
class CPortAccess;
class CD2xxBackend;

class CEmulatedTarget {
public:
    // Builds the board that setup->emulate_* describe. On failure prints a clear
    // "Error:" line, leaves every file untouched and returns null.
    static CEmulatedTarget* Create(CTAMREL* pgm);
    // Writes the image back, appends the stats line, removes the virtual clock.
    ~CEmulatedTarget();

    CPortAccess* PortAccess();     // a ByteBlaster on /dev/parport0
    CD2xxBackend* D2xxBackend();   // a USB-Blaster on USB
    std::string Description() const;  // "NAME, image FILE" ("memory" without an image)
};
