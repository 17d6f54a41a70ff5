#include "emulator/emulated_lpt.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulator/flash_chip.h"
#include "emulator/wire_cost.h"

int CEmulatedLpt::Number(const std::string& path) const {
    int n = -1;
    char rest = 0;
    if (sscanf(path.c_str(), "/dev/parport%d%c", &n, &rest) != 1 || n < 0 ||
        static_cast<size_t>(n) >= ports_.size() || path != "/dev/parport" + std::to_string(n))
        return -1;
    return n;
}

// The port's board is wired on its first opening; a run wires one board only.
int CEmulatedLpt::open(const char* path, int flags) {
    (void)flags;
    const int n = path == nullptr ? -1 : Number(path);
    if (n < 0 || (wired_ >= 0 && n != wired_)) {
        errno = ENOENT;
        return -1;
    }
    if (wired_ < 0) {
        chip_ = attach_(ctx_, static_cast<size_t>(n));
        if (chip_ == nullptr) {
            errno = EIO;
            return -1;
        }
        wired_ = n;
    }
    open_ = true;
    return FD;
}

bool CEmulatedLpt::list_ports(std::vector<ParportInfo>* ports) {
    ports->clear();
    for (size_t k = 0; k < ports_.size(); ++k)
        ports->push_back({static_cast<int>(k), ports_[k].address});
    return true;
}

std::string CEmulatedLpt::lock_path(const std::string& device) {
    const int n = Number(device);
    return n < 0 ? std::string() : ports_[static_cast<size_t>(n)].image;
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
    if (fd != FD || !open_) {
        errno = EBADF;
        return -1;
    }
    chip_->AdvanceTime(kPortAccessNs);
    if (dropped_ && request != PPRELEASE) {
        errno = ENODEV;
        return -1;
    }
    unsigned char* byte = static_cast<unsigned char*>(arg);
    switch (request) {
        case PPEXCL:  // one process per emulated bench: nothing else registers here
            if (claimed_) break;
            return 0;
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
