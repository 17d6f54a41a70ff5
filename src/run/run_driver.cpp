#include "run/run_driver.h"

#include <cstdio>

#include "run/console.h"

// Placeholder until the stages land.
int Run_Driver(int, char**) {
    printf("\nTamrel, ver 2.8, %s, %s", TAMREL_CONTACT, __DATE__);
    return -1;
}
