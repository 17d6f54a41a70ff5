#include "emulator/emulated_usb_bus.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {
const char kDescription[] = "USB-Blaster";
}  // namespace

CEmulatedUsbBus::CEmulatedUsbBus(const std::vector<EmulatedBoard>& cables,
                                 CFlashChip* (*attach)(void*, size_t), void* ctx)
    : CEmulatedUsbBlaster(nullptr), cables_(cables), attach_(attach), ctx_(ctx) {}

std::vector<size_t> CEmulatedUsbBus::Listed() {
    DWORD vid = 0, pid = 0;
    GetVIDPID(&vid, &pid);
    std::vector<size_t> listed;
    for (size_t k = 0; k < cables_.size() && !unplugged_; ++k)
        if (cables_[k].vid == vid && cables_[k].pid == pid) listed.push_back(k);
    return listed;
}

FT_STATUS CEmulatedUsbBus::ListDevices(void* arg1, void*, DWORD flags) {
    if (!(flags & FT_LIST_NUMBER_ONLY) || arg1 == nullptr) return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(arg1) = static_cast<DWORD>(Listed().size());
    return FT_OK;
}

FT_STATUS CEmulatedUsbBus::CreateDeviceInfoList(DWORD* count) {
    return ListDevices(count, nullptr, FT_LIST_NUMBER_ONLY);
}

FT_STATUS CEmulatedUsbBus::GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* loc_id, void* serial, void* description,
                                               FT_HANDLE* handle) {
    const std::vector<size_t> listed = Listed();
    if (index >= listed.size()) return FT_DEVICE_NOT_FOUND;
    const size_t k = listed[index];
    const bool open = wired_ && opened_ == k;
    if (flags) *flags = open ? 1 : 0;  // bit 0: opened
    if (type) *type = 0;               // FT245BM-class device
    if (id) *id = static_cast<DWORD>(cables_[k].vid) << 16 | cables_[k].pid;
    if (loc_id) *loc_id = static_cast<DWORD>(0x10 + k + 1);  // bus 1, port k + 1
    if (serial) snprintf(static_cast<char*>(serial), 16, "%s", cables_[k].serial.c_str());
    if (description) memcpy(description, kDescription, sizeof kDescription);
    if (handle) *handle = nullptr;
    return FT_OK;
}

// Each cable on its own port of bus 1; its board's image stands for it in locks.
FT_STATUS CEmulatedUsbBus::GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) {
    const std::vector<size_t> listed = Listed();
    if (where == nullptr) return FT_INVALID_PARAMETER;
    if (index >= listed.size()) return FT_DEVICE_NOT_FOUND;
    snprintf(where->path, sizeof where->path, "1-%zu", listed[index] + 1);
    snprintf(where->node, sizeof where->node, "%s", cables_[listed[index]].image.c_str());
    return FT_OK;
}

// The cable's board is wired on its first opening; a run wires one board only.
FT_STATUS CEmulatedUsbBus::Open(int index, FT_HANDLE* handle) {
    const std::vector<size_t> listed = Listed();
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    if (index < 0 || static_cast<size_t>(index) >= listed.size()) return FT_DEVICE_NOT_FOUND;
    const size_t k = listed[static_cast<size_t>(index)];
    if (wired_ && opened_ != k) return FT_DEVICE_NOT_OPENED;
    if (!wired_) {
        CFlashChip* chip = attach_(ctx_, k);
        if (chip == nullptr) return FT_DEVICE_NOT_OPENED;
        SetChip(chip);
        wired_ = true;
        opened_ = k;
    }
    // The blaster opens under its own ids only; the ids looked for stay.
    DWORD vid = 0, pid = 0;
    GetVIDPID(&vid, &pid);
    SetVIDPID(0x09FB, 0x6001);
    const FT_STATUS opened = CEmulatedUsbBlaster::Open(0, handle);
    SetVIDPID(vid, pid);
    return opened;
}
