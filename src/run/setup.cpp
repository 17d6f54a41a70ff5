#include "run/setup.h"

void PGM_setup_ini(Setup_struct* setup) {
    *setup = Setup_struct{};
    setup->data_file = nullptr;
    setup->usb_async = 1;
}
