#include "adapters/usb_cables.h"

#include <cstdio>
#include <cstring>

#include "adapters/d2xx.h"

int Usb_List(const char* name, std::vector<UsbCable>* cables, std::vector<UsbCable>* unreadable) {
    cables->clear();
    unreadable->clear();
    DWORD count = 0;
    if (FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) {
        printf("\nError: Failed can`t get USB device list");
        return -1;
    }
    if (count < 1) return 1;
    count = 0;
    if (FT_CreateDeviceInfoList(&count) != FT_OK) return 1;
    const size_t name_len = strlen(name);
    for (DWORD i = 0; i < count; ++i) {
        DWORD flags, type, id, loc_id;
        char serial[16] = {};
        char description[64] = {};
        FT_HANDLE slot;
        UsbCable c;
        c.device = static_cast<int>(i);
        FT_DEVICE_LOCATION where = {};
        if (FT_GetDeviceLocation(i, &where) == FT_OK) {
            where.path[sizeof where.path - 1] = where.node[sizeof where.node - 1] = '\0';
            c.path = where.path;
            c.node = where.node;
        }
        if (FT_GetDeviceInfoDetail(i, &flags, &type, &id, &loc_id, serial, description, &slot) !=
            FT_OK) {
            unreadable->push_back(c);
            continue;
        }
        serial[sizeof serial - 1] = description[sizeof description - 1] = '\0';
        if (strncmp(description, name, name_len) != 0) continue;
        c.serial = serial;
        c.description = description;
        cables->push_back(c);
    }
    return 1;
}

std::string Usb_Cable_Text(const UsbCable& cable) {
    return "serial " + (cable.serial.empty() ? std::string("(none)") : cable.serial) + ", path " +
           (cable.path.empty() ? std::string("(unknown)") : cable.path);
}

namespace {

bool Matches(const UsbCable& c, long place, const UsbChoice& choice) {
    return (choice.serial.empty() || c.serial == choice.serial) &&
           (choice.path.empty() || c.path == choice.path) &&
           (choice.index < 0 || place == choice.index);
}

std::string Choice_Text(const UsbChoice& choice) {
    std::string s;
    if (!choice.serial.empty()) s += "serial " + choice.serial;
    if (!choice.path.empty()) s += (s.empty() ? "" : ", ") + std::string("path ") + choice.path;
    if (choice.index >= 0)
        s += (s.empty() ? "" : ", ") + std::string("index ") + std::to_string(choice.index);
    return s;
}

std::string Present(const std::vector<UsbCable>& cables) {
    if (cables.empty()) return "none";
    std::string s;
    for (size_t i = 0; i < cables.size(); ++i)
        s += (i ? "; " : "") + std::to_string(i) + ": " + Usb_Cable_Text(cables[i]);
    return s;
}

}  // namespace

int Usb_Choose(const std::vector<UsbCable>& cables, const UsbChoice& choice) {
    if (choice.Any()) {
        if (cables.size() > 1)
            printf(
                "\nUsing USB-Blaster %s; %zu more present (choose one with --usb-serial=, "
                "--usb-index= or --usb-path=; --list shows them)",
                Usb_Cable_Text(cables[0]).c_str(), cables.size() - 1);
        return cables.empty() ? -1 : 0;
    }
    int found = -1, matches = 0;
    for (size_t i = 0; i < cables.size(); ++i) {
        if (!Matches(cables[i], static_cast<long>(i), choice)) continue;
        if (found < 0) found = static_cast<int>(i);
        ++matches;
    }
    if (matches == 1) return found;
    if (matches == 0)
        printf("\nError: no USB-Blaster has %s; present: %s\n", Choice_Text(choice).c_str(),
               Present(cables).c_str());
    else
        printf(
            "\nError: %d USB-Blasters have %s, choose one by --usb-index= or --usb-path=; "
            "present: %s\n",
            matches, Choice_Text(choice).c_str(), Present(cables).c_str());
    return -1;
}
