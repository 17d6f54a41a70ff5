#include "adapters/lpt.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "adapters/cable_lock.h"
#include "adapters/port_access.h"

namespace {

const unsigned short kDefaultBase = 0x378;

// The ppdev device of the port at `base`, as the system lists them. Without a list, and for
// the default address when no listed port has it, /dev/parport0. Empty after an error line
// when no port has the address.
std::string Device_For(CPortAccess* port, unsigned short base) {
    std::vector<ParportInfo> ports;
    if (!port->list_ports(&ports)) return "/dev/parport0";
    for (const ParportInfo& p : ports)
        if (p.address == base) return "/dev/parport" + std::to_string(p.number);
    if (base == kDefaultBase) return "/dev/parport0";
    std::string found;
    for (const ParportInfo& p : ports) {
        char entry[64];
        snprintf(entry, sizeof entry, "%s/dev/parport%d at 0x%lX", found.empty() ? "" : ", ",
                 p.number, p.address);
        found += entry;
    }
    printf("\nError: no parallel port at I/O address 0x%X; ports found: %s\n", base,
           found.empty() ? "none" : found.c_str());
    return std::string();
}

}  // namespace

CLPT::CLPT(CPortAccess* port) : port_(port) {}

CLPT::~CLPT() {
    Close();
}

int CLPT::Open(unsigned short base) {
    Close();
    base_addr = base;
    const std::string device = Device_For(port_, base);
    if (device.empty()) return 0;
    const char* path = device.c_str();
    if (lock && lock->Take(port_->lock_path(device)) != 1) {
        printf("\nError: parallel port %s (0x%X) is in use by another process\n", path, base);
        return 0;
    }
    fd = port_->open(path, O_RDWR);
    if (fd < 0) {
        const bool denied = errno == EACCES || errno == EPERM;
        fd = -1;
        printf("\tCan't open LPT port %s", path);
        puts(
            "\n\tParallel Port no exist in: /dev/...           "
            "\n\tInstall parallel port by command from root:           "
            "\n\t1. cd /dev           "
            "\n\t2. mknod -m 660 parport0 c 99 0           "
            "\n\t3. chgrp lp parport0\n");
        if (denied)
            printf(
                "Permission denied on %s: join group lp (usermod -aG lp USER, then log in "
                "again) or install the udev rules (60-tamrel.rules).\n",
                path);
        return 0;
    }
    const int claimed = Claim(path);
    if (claimed != 1) {
        if (fd >= 0) port_->close(fd);
        fd = -1;
        if (claimed < 0) puts("close: 1");
        return claimed < 0 ? -1 : 0;
    }
    int mode = IEEE1284_MODE_COMPAT;
    if (port_->ioctl(fd, PPNEGOT, &mode) < 0) {
        port_->close(fd);  // closing also drops the claim
        fd = -1;
        puts("close: 2");
        return -1;
    }
    puts("\nLPT port opened.");
    return 1;
}

// An exclusive claim fails at once (ENXIO) while another device is registered on the port,
// where a shared one sleeps until the port is free; and since ppdev runs every ioctl of
// every process under one lock that the sleeper keeps, the other user's run would freeze
// too. Kernel drivers such as lp stay registered while idle: when no one holds the port
// right now, it is claimed again, shared. 1 claimed; 0 busy (reported); -1 failed.
int CLPT::Claim(const char* path) {
    const bool exclusive = port_->ioctl(fd, PPEXCL, nullptr) == 0;
    if (port_->ioctl(fd, PPCLAIM, nullptr) == 0) return 1;
    if (!exclusive || errno != ENXIO) return -1;
    int number = 0;
    sscanf(path, "/dev/parport%d", &number);
    const std::string holder = port_->claimed_by(number);
    if (!holder.empty()) {
        printf("\nError: parallel port %s (0x%X) is in use by %s\n", path, base_addr,
               holder.c_str());
        return 0;
    }
    port_->close(fd);  // the exclusive wish stays with the descriptor
    fd = port_->open(path, O_RDWR);
    if (fd < 0) return -1;
    return port_->ioctl(fd, PPCLAIM, nullptr) == 0 ? 1 : -1;
}

void CLPT::Write(unsigned short port, unsigned char value) {
    if (fd < 0) return;
    unsigned long request;
    switch (port - base_addr) {
        case 0:
            request = PPWDATA;
            break;
        case 2:
            request = PPWCONTROL;
            break;
        default:
            return;
    }
    if (port_->ioctl(fd, request, &value) < 0) access_failed = true;
}

// A register that can't be read reads as 0xFF, like an undriven bus.
unsigned char CLPT::Read(unsigned short port) {
    unsigned long request;
    switch (port - base_addr) {
        case 0:
            request = PPRDATA;
            break;
        case 1:
            request = PPRSTATUS;
            break;
        case 2:
            request = PPRCONTROL;
            break;
        default:
            return 0xFF;
    }
    unsigned char value = 0xFF;
    if (fd < 0) return 0xFF;
    if (port_->ioctl(fd, request, &value) < 0) {
        access_failed = true;
        return 0xFF;
    }
    return value;
}

void CLPT::Close() {
    if (fd < 0) return;
    port_->ioctl(fd, PPRELEASE, nullptr);
    port_->close(fd);
    fd = -1;
}
