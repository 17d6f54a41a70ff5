#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "adapters/port_access.h"

namespace {

const char kParportList[] = "/proc/sys/dev/parport";

// Straight to the kernel's ppdev driver.
class CKernelPortAccess : public CPortAccess {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    int close(int fd) override { return ::close(fd); }

    // Each parportN folder holds base-addr: the base address in decimal, then the upper one.
    bool list_ports(std::vector<ParportInfo>* ports) override {
        DIR* dir = opendir(kParportList);
        if (dir == nullptr) return false;
        ports->clear();
        while (const dirent* e = readdir(dir)) {
            int n = 0;
            char rest = 0;
            if (sscanf(e->d_name, "parport%d%c", &n, &rest) != 1) continue;
            const std::string file = std::string(kParportList) + "/" + e->d_name + "/base-addr";
            FILE* f = fopen(file.c_str(), "r");
            unsigned long address = 0;
            const bool read = f != nullptr && fscanf(f, "%lu", &address) == 1;
            if (f != nullptr) fclose(f);
            if (read) ports->push_back({n, address});
        }
        closedir(dir);
        std::sort(ports->begin(), ports->end(),
                  [](const ParportInfo& a, const ParportInfo& b) { return a.number < b.number; });
        return true;
    }

    // devices/active names the device holding the port, or reads "none".
    std::string claimed_by(int number) override {
        const std::string file =
            std::string(kParportList) + "/parport" + std::to_string(number) + "/devices/active";
        FILE* f = fopen(file.c_str(), "r");
        char name[64] = "";
        const bool read = f != nullptr && fscanf(f, "%63s", name) == 1;
        if (f != nullptr) fclose(f);
        return read && strcmp(name, "none") != 0 ? name : "";
    }
};

}  // namespace

CPortAccess* Kernel_PortAccess() {
    static CKernelPortAccess kernel;
    return &kernel;
}
