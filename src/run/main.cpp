#include "run/run_driver.h"

int main(int argc, char** argv) {
    return Run_Driver(argc, argv);
}
