#include "emulator/emulated_lpt.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "emulator/flash_chip.h"
#include "emulator/wire_cost.h"

int CEmulatedLpt::open(const char* path, int flags) {
    (void)flags;
    if (path == nullptr || strcmp(path, "/dev/parport0") != 0) {
        errno = ENOENT;
        return -1;
    }
    open_ = true;
    return FD;
}

bool CEmulatedLpt::list_ports(std::vector<ParportInfo>* ports) {
    *ports = {{0, 0x378}};
    return true;
}

int CEmulatedLpt::close(int fd) {
    if (fd != FD || !open_) {
        errno = EBADF;
        return -1;
    }
    open_ = false;
    claimed_ = false;
    return 0;
}

// Cable outputs follow the data register only while enabled; otherwise the board's
// pull-ups leave the chip deselected. Without the cable the data pins drive the chip.
void CEmulatedLpt::Drive() {
    if ((control_ & 0x02) || no_cable_)
        chip_->SetPins((data_ & 0x02) != 0, (data_ & 0x01) != 0, (data_ & 0x40) != 0,
                       (data_ & 0x08) != 0);
    else
        chip_->SetPins(true, false, false, true);
}

int CEmulatedLpt::ioctl(int fd, unsigned long request, void* arg) {
    ++accesses_;
    chip_->AdvanceTime(kPortAccessNs);
    if (fd != FD || !open_) {
        errno = EBADF;
        return -1;
    }
    if (dropped_ && request != PPRELEASE) {
        errno = ENODEV;
        return -1;
    }
    unsigned char* byte = static_cast<unsigned char*>(arg);
    switch (request) {
        case PPCLAIM:
            claimed_ = true;
            return 0;
        case PPRELEASE:
            claimed_ = false;
            return 0;
        case PPNEGOT:
            if (!claimed_ || arg == nullptr) break;
            return 0;
        case PPWDATA:
            if (!claimed_ || arg == nullptr) break;
            data_ = *byte;
            Drive();
            return 0;
        case PPRDATA:
            if (!claimed_ || arg == nullptr) break;
            *byte = data_;
            return 0;
        case PPWCONTROL:
            if (!claimed_ || arg == nullptr) break;
            control_ = *byte;
            Drive();
            return 0;
        case PPRCONTROL:
            if (!claimed_ || arg == nullptr) break;
            *byte = control_;
            return 0;
        case PPRSTATUS: {
            if (!claimed_ || arg == nullptr) break;
            // The port inverts BUSY; the cable loops D5 back to bit 5 and D7 to bit 6.
            unsigned char s = chip_->Miso() ? 0x00 : 0x80;
            if ((data_ & 0x20) || no_cable_) s |= 0x20;
            if ((data_ & 0x80) || no_cable_) s |= 0x40;
            *byte = s;
            return 0;
        }
        default:
            break;
    }
    errno = EINVAL;
    return -1;
}
