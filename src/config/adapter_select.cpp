#include "config/adapter_select.h"

#include <cstdio>

#include "adapters/altera_lpt.h"
#include "adapters/altera_usb.h"
#include "adapters/d2xx.h"
#include "adapters/delay.h"
#include "adapters/ftdi.h"
#include "adapters/lpt.h"
#include "adapters/port_access.h"
#include "emulator/emulated_target.h"
#include "run/tamrel.h"

namespace {
const uint16_t kDefaultLptAddr = 0x378;
}  // namespace

CADAPTER::CADAPTER(CTAMREL* prog) : pgm(prog), target(nullptr) {}

CADAPTER::~CADAPTER() {
    Remove_Adapter();
}

int CADAPTER::Remove_Adapter() {
    if (pgm->adapter) {
        delete pgm->adapter;
        pgm->adapter = nullptr;
    }
    int result = 1;
    if (target) {
        D2XX_SetBackend(nullptr);
        result = target->Finish();
        delete target;
        target = nullptr;
    }
    lock_.Release();  // only now: the emulated board has saved its image
    return result;
}

int CADAPTER::Add_Adapter() {
    Setup_struct* s = pgm->setup;
    if (!s->use_lpt && !s->use_usb) {
        printf("\nIs not set config for any LPT or USB adapters.");
        if (!s->port_lookalike.empty())
            printf("\n%s: the line \"%s\" sets no cable; write it as %s\n", s->config_path.c_str(),
                   s->port_lookalike.c_str(), s->port_expected.c_str());
        return 0;
    }
    if (!s->emulate_name.empty()) {
        target = CEmulatedTarget::Create(pgm);
        if (!target) return -1;
    }
    if (s->use_usb) {
        if (target) D2XX_SetBackend(target->D2xxBackend());
        CALTERAUSB* usb = new CALTERAUSB();
        if (s->usb_vid) usb->vid = s->usb_vid;
        if (s->usb_pid) usb->pid = s->usb_pid;
        usb->ftdi->choice.serial = s->usb_serial;
        usb->ftdi->choice.path = s->usb_path;
        usb->ftdi->choice.index = s->has_usb_index ? s->usb_index : -1;
        usb->ftdi->lock = &lock_;
        usb->use_async = s->usb_async != 0;
        if (usb->Open() != 1) {
            delete usb;
            return -1;
        }
        pgm->adapter = usb;
        // The switches that name this cable again, where there is a choice to make.
        const UsbCable& c = usb->ftdi->opened;
        if (usb->ftdi->listed > 1 || !usb->ftdi->choice.Any())
            s->cable_words = c.serial.empty() ? "--usb-path=" + c.path : "--usb-serial=" + c.serial;
    } else {
        CALTERALPT* lpt = new CALTERALPT(target ? target->PortAccess() : Kernel_PortAccess());
        lpt->base_addr = s->lpt_addr;
        lpt->lpt->lock = &lock_;
        if (lpt->Open() != 1) {
            delete lpt;
            return -1;
        }
        pgm->adapter = lpt;
        char words[16];
        snprintf(words, sizeof words, "-p=0x%X", s->lpt_addr);
        if (s->lpt_addr != kDefaultLptAddr) s->cable_words = words;
    }
    if (target) printf("\nEmulated target: %s", target->Description().c_str());
    if (s->operation != OP_RESET) return 1;
    Reset();
    return 0;
}

void CADAPTER::Reset() {
    printf("\nAdapter Reset...");
    pgm->Adapter_ini();
    delay_ms(500);
    pgm->Adapter_release();
    printf(" Done");
}
