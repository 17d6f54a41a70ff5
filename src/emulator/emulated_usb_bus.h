// The USB bus of an emulated bench: its USB-Blasters as the D2XX layer lists them, each with
// its serial number, the ids it reports and its port path ("1-1", "1-2", ...). The one that
// is opened is the emulated USB-Blaster, wired then to the chip of its board.
#pragma once

#include <cstddef>
#include <vector>

#include "emulator/emulated_boards.h"
#include "emulator/emulated_usb_blaster.h"

class CEmulatedUsbBus : public CEmulatedUsbBlaster {
public:
    // attach(ctx, k): the chip of cable k's board, null when it can't be had (said).
    CEmulatedUsbBus(const std::vector<EmulatedBoard>& cables,
                    CFlashChip* (*attach)(void* ctx, size_t k), void* ctx);

    FT_STATUS ListDevices(void* arg1, void* arg2, DWORD flags) override;
    FT_STATUS CreateDeviceInfoList(DWORD* count) override;
    FT_STATUS GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* loc_id,
                                  void* serial, void* description, FT_HANDLE* handle) override;
    FT_STATUS GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) override;
    FT_STATUS Open(int index, FT_HANDLE* handle) override;
    void Unplug() {
        unplugged_ = true;
        CEmulatedUsbBlaster::Unplug();
    }

private:
    // The cables the library lists under the ids it looks for (set with SetVIDPID), in bus
    // order.
    std::vector<size_t> Listed();

    std::vector<EmulatedBoard> cables_;
    CFlashChip* (*attach_)(void*, size_t);
    void* ctx_;
    bool unplugged_ = false;
    size_t opened_ = 0;  // the cable wired, once one is
    bool wired_ = false;
};
