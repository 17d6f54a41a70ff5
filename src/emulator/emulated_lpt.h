// ByteBlasters on the parallel ports of an emulated bench (/dev/parport0, 1, ... at their
// base addresses), seen through the ppdev requests: data bits drive the chip while control
// bit 1 enables the cable's outputs; BUSY reads the chip's data out inverted; status bits 5
// and 6 loop back D5 and D7 for cable detection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "adapters/port_access.h"
#include "emulator/emulated_boards.h"

class CFlashChip;

class CEmulatedLpt : public CPortAccess {
public:
    // ports[k] is /dev/parportK; attach(ctx, k) gives the chip of its board when the port is
    // first opened, null when it can't be had (said).
    CEmulatedLpt(const std::vector<EmulatedBoard>& ports, CFlashChip* (*attach)(void*, size_t),
                 void* ctx)
        : ports_(ports), attach_(attach), ctx_(ctx) {}

    int open(const char* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int close(int fd) override;
    bool list_ports(std::vector<ParportInfo>* ports) override;
    std::string lock_path(const std::string& device) override;  // its board's image

    uint64_t Accesses() const { return accesses_; }  // ioctl calls made
    uint8_t Data() const { return data_; }
    uint8_t Control() const { return control_; }
    // The cable is gone: every register access from now on fails.
    void Drop() { dropped_ = true; }
    // No ByteBlaster on the port: its status inputs float high, so the loop-backs read high
    // whatever D5 and D7 are, and the chip hangs on the port's own data pins.
    void RemoveCable() { no_cable_ = true; }

    enum { FD = 1000 };  // descriptor handed out; never a real one

private:
    void Drive();
    // K of "/dev/parportK" when the bench has that port, else -1.
    int Number(const std::string& path) const;

    std::vector<EmulatedBoard> ports_;
    CFlashChip* (*attach_)(void*, size_t);
    void* ctx_;
    CFlashChip* chip_ = nullptr;
    int wired_ = -1;  // the port whose board is wired, once one is
    uint64_t accesses_ = 0;
    bool open_ = false;
    bool claimed_ = false;
    bool dropped_ = false;
    bool no_cable_ = false;
    uint8_t data_ = 0;
    uint8_t control_ = 0x0C;  // nInit and select-in high, outputs off
};
