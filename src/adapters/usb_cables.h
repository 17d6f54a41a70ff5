// The USB-Blasters the FT_* layer lists, and the choice of one of them by serial number,
// place in that list or USB port path.
#pragma once

#include <string>
#include <vector>

struct UsbCable {
    int device = -1;  // entry of the FT_* device list
    std::string serial;
    std::string description;  // empty when it can't be read (no access)
    std::string path;         // USB port path, "1-1.4"
    std::string node;         // the file that stands for it in locks
};

// What names the cable; an empty field, or index -1, asks nothing of it.
struct UsbChoice {
    std::string serial;
    std::string path;
    long index = -1;
    bool Any() const { return serial.empty() && path.empty() && index < 0; }
};

// The devices with the layer's current ids whose description begins with `name`, in list
// order, into `cables`; those whose description can't be read into `unreadable`. 1, or -1
// when there is no list (said).
int Usb_List(const char* name, std::vector<UsbCable>* cables, std::vector<UsbCable>* unreadable);

// The cable as messages name it: "serial A1, path 1-1".
std::string Usb_Cable_Text(const UsbCable& cable);

// The place in `cables` of the one cable `choice` names; without a choice the first, with a
// line naming it when there are others. -1 after an "Error:" line that lists the cables when
// the choice names none or several.
int Usb_Choose(const std::vector<UsbCable>& cables, const UsbChoice& choice);
