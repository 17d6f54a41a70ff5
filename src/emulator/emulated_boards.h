// The cables of an emulated bench (config.cfg emulate_usb= and emulate_lpt=), each with the
// board behind it, whose chip's content lives in its own image file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EmulatedBoard {
    std::string image;
    std::string serial;     // USB-Blaster
    uint16_t vid = 0x09FB;  // USB-Blaster ids
    uint16_t pid = 0x6001;
    unsigned long address = 0x378;  // parallel port base address
};

// A comma-separated list into `boards`: "SERIAL:FILE" or "SERIAL:FILE:VID:PID" entries for
// USB-Blasters (an empty SERIAL: a cable without one), "ADDRESS:FILE" for parallel ports.
// 0 after an "Error:" line naming the key when an entry is malformed.
int Parse_Emulated_Boards(const char* key, const std::string& list, bool usb,
                          std::vector<EmulatedBoard>* boards);
