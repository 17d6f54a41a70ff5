// The parallel-port seam: the three system calls CLPT makes on /dev/parport0.
// The kernel one is used on hardware; the emulated target and tests supply others.
#pragma once

class CPortAccess {
public:
    virtual ~CPortAccess() {}
    virtual int open(const char* path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int close(int fd) = 0;
};

// The ppdev driver itself (a process-wide object; never delete it).
CPortAccess* Kernel_PortAccess();
