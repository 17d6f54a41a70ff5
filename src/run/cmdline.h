// Command-line parser and usage text.
#pragma once

class CTAMREL;

class CCMDP {
public:
    explicit CCMDP(CTAMREL* prog) : pgm(prog) {}
    ~CCMDP() {}

    // Scans the switches into the setup record and warns about arguments it does not know.
    // -1 after an error line for a number that is malformed or out of range, else 1.
    int Parse(int argc, char** argv);
    // Diagnostic listing of the arguments.
    int PrintArg(int argc, char** argv);

private:
    CTAMREL* pgm;
};

void PrintUsage();

// --help, -h and -? ask for the usage text, --version for the version line; both are
// answered before any file is read. --list asks for the cable listing instead of a run. The
// first such argument counts.
enum EarlySwitch { EARLY_NONE, EARLY_HELP, EARLY_VERSION, EARLY_LIST };
EarlySwitch Find_Early_Switch(int argc, char** argv);
