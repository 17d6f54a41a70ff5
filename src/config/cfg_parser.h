// Reads config.cfg: which cable, the parallel-port address, and the emulated target keys.
#pragma once

#include <string>

class CTAMREL;

class CCFGP {
public:
    explicit CCFGP(CTAMREL* prog) : pgm(prog) {}
    ~CCFGP() {}

    // -1 when config.cfg cannot be opened or an emulate key has no usable value, else 1.
    int Parse();

private:
    int Parse_Emulation();
    // Searches `key` from the top of the file; 1 and its line when found.
    int Find_Line(const char* key, std::string* line);

    CTAMREL* pgm;
};
