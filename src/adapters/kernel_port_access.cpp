#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "adapters/port_access.h"

namespace {

// Straight to the kernel's ppdev driver.
class CKernelPortAccess : public CPortAccess {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    int close(int fd) override { return ::close(fd); }
};

}  // namespace

CPortAccess* Kernel_PortAccess() {
    static CKernelPortAccess kernel;
    return &kernel;
}
