#include "config/cable_listing.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "adapters/cable_lock.h"
#include "adapters/d2xx.h"
#include "adapters/port_access.h"
#include "adapters/usb_cables.h"
#include "emulator/emulated_target.h"
#include "run/tamrel.h"

namespace {

const unsigned kDefaultVid = 0x09FB;
const unsigned kDefaultPid = 0x6001;

int List_Usb(unsigned vid, unsigned pid) {
    printf("\nUSB-Blasters (USB id 0x%04X:0x%04X):", vid, pid);
    std::vector<UsbCable> cables, unreadable;
    if (FT_SetVIDPID(vid, pid) != FT_OK || Usb_List("USB-Blaster", &cables, &unreadable) != 1) {
        printf("\n  can`t be listed");
        return -1;
    }
    for (size_t i = 0; i < cables.size(); ++i)
        printf("\n  %zu: %s, \"%s\"%s", i, Usb_Cable_Text(cables[i]).c_str(),
               cables[i].description.c_str(), CCableLock::Held(cables[i].node) ? ", in use" : "");
    for (const UsbCable& c : unreadable)
        printf("\n  -: path %s, can`t be read (no permission?)",
               c.path.empty() ? "(unknown)" : c.path.c_str());
    if (cables.empty() && unreadable.empty()) printf("\n  none");
    return 1;
}

void List_Ports(CPortAccess* port) {
    printf("\nParallel ports:");
    std::vector<ParportInfo> ports;
    if (!port->list_ports(&ports) || ports.empty()) printf("\n  none");
    for (const ParportInfo& p : ports) {
        const std::string device = "/dev/parport" + std::to_string(p.number);
        const std::string holder = port->claimed_by(p.number);
        std::string use;
        if (!holder.empty())
            use = ", in use by " + holder;
        else if (CCableLock::Held(port->lock_path(device)))
            use = ", in use";
        printf("\n  %s at 0x%lX%s", device.c_str(), p.address, use.c_str());
    }
}

}  // namespace

int Cable_Listing(CTAMREL* pgm) {
    const Setup_struct* s = pgm->setup;
    std::unique_ptr<CEmulatedTarget> target;
    if (!s->emulate_name.empty()) {
        target.reset(CEmulatedTarget::Create(pgm, true));
        if (!target) return -1;
        D2XX_SetBackend(target->D2xxBackend());
    }
    const int usb =
        List_Usb(s->usb_vid ? s->usb_vid : kDefaultVid, s->usb_pid ? s->usb_pid : kDefaultPid);
    List_Ports(target ? target->PortAccess() : Kernel_PortAccess());
    printf("\n");
    D2XX_SetBackend(nullptr);
    return usb;
}
