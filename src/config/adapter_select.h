// Owner of the run's cable: creates the configured adapter (real or emulated), opens it,
// installs it in the programmer object, and performs the -x reset.
#pragma once

#include "adapters/cable_lock.h"

class CTAMREL;
class CEmulatedTarget;

class CADAPTER {
public:
    explicit CADAPTER(CTAMREL* prog);
    ~CADAPTER();
    CADAPTER(const CADAPTER&) = delete;
    CADAPTER& operator=(const CADAPTER&) = delete;

    // 1 adapter installed; 0 nothing configured, or after the reset; -1 open failed.
    int Add_Adapter();
    void Reset();
    // Deletes the adapter, then finishes the emulated board (image written back), then lets
    // go of the cable. 1, or -1 when the board could not save what the run did. The
    // destructor does it when not done.
    int Remove_Adapter();

private:
    CTAMREL* pgm;
    CEmulatedTarget* target;  // the emulated board, when config.cfg asks for one
    CCableLock lock_;         // the run's hold on its cable
};
