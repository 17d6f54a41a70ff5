// The parallel-port seam: the three system calls CLPT makes on /dev/parportN, and the
// list of ports the system knows. The kernel one is used on hardware; the emulated target
// and tests supply others.
#pragma once

#include <string>
#include <vector>

struct ParportInfo {
    int number;             // /dev/parportN
    unsigned long address;  // I/O base address
};

class CPortAccess {
public:
    virtual ~CPortAccess() {}
    virtual int open(const char* path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int close(int fd) = 0;
    // The ports and their base addresses; false when no list can be read.
    virtual bool list_ports(std::vector<ParportInfo>* ports) {
        (void)ports;
        return false;
    }
    // The file that stands for the port `device` in locks: the device node itself.
    virtual std::string lock_path(const std::string& device) { return device; }
    // The device that has port N claimed right now ("lp0", "ppdev0"); empty when none or
    // unknown.
    virtual std::string claimed_by(int number) {
        (void)number;
        return std::string();
    }
};

// The ppdev driver itself (a process-wide object; never delete it).
CPortAccess* Kernel_PortAccess();
