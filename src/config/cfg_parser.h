// Reads config.cfg: which cable, the parallel-port address, and the emulated target keys.
#pragma once

#include <string>

class CTAMREL;

class CCFGP {
public:
    explicit CCFGP(CTAMREL* prog) : pgm(prog) {}
    ~CCFGP() {}

    // -1 when config.cfg cannot be opened, an emulate key has no usable value, a number is
    // not whole or does not fit its field, or exit_codes= names no codes, else 1.
    int Parse();

private:
    int Parse_Exit_Codes();
    int Parse_Emulation();
    void Find_Port_Lookalike();
    void Port_Lookalike(const std::string& line);
    // Searches `key` from the top of the file; 1 and its line when found.
    int Find_Line(const char* key, std::string* line);
    int Find_Line_Start(const std::string& key, std::string* line);
    int Read_Value(const std::string& line, const char* key, long long min, long long max,
                   long long* value);

    CTAMREL* pgm;
};
