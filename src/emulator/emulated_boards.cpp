#include "emulator/emulated_boards.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

const size_t kMaxSerial = 15;  // what a D2XX serial number buffer holds

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

// A whole number, decimal or 0x hex, in [min, max].
bool Read_Field(const std::string& text, unsigned long min, unsigned long max,
                unsigned long* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    *value = strtoul(text.c_str(), &end, 0);
    return *end == '\0' && errno == 0 && *value >= min && *value <= max;
}

bool Read_Entry(const std::string& entry, bool usb, EmulatedBoard* b) {
    const std::vector<std::string> f = Split(entry, ':');
    if (usb ? f.size() != 2 && f.size() != 4 : f.size() != 2) return false;
    b->image = f[1];
    if (b->image.empty()) return false;
    if (!usb) return Read_Field(f[0], 0, 0xFFFF, &b->address);
    b->serial = f[0];
    if (b->serial.size() > kMaxSerial) return false;
    if (f.size() == 2) return true;
    unsigned long vid = 0, pid = 0;
    if (!Read_Field(f[2], 1, 0xFFFF, &vid) || !Read_Field(f[3], 1, 0xFFFF, &pid)) return false;
    b->vid = static_cast<uint16_t>(vid);
    b->pid = static_cast<uint16_t>(pid);
    return true;
}

}  // namespace

int Parse_Emulated_Boards(const char* key, const std::string& list, bool usb,
                          std::vector<EmulatedBoard>* boards) {
    boards->clear();
    for (const std::string& entry : Split(list, ',')) {
        EmulatedBoard b;
        if (!Read_Entry(entry, usb, &b)) {
            printf("\nError: %s=%s: \"%s\" is not %s\n", key, list.c_str(), entry.c_str(),
                   usb ? "SERIAL:FILE or SERIAL:FILE:VID:PID (a serial of at most 15 characters)"
                       : "ADDRESS:FILE (an address of at most 0xFFFF)");
            return 0;
        }
        boards->push_back(b);
    }
    return 1;
}
