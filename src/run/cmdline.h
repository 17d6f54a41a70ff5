// Command-line parser and usage text.
#pragma once

#include <string>

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

// `all`: with the switches added since (--help); without arguments the text stays as it was.
void PrintUsage(bool all = false);

// Two or more switch letters behind one dash ("-ewv") would be taken as the first one alone:
// true after an error line with the way to write them, wherever such an argument stands.
// Words such as -erase have a letter that is no switch.
bool Refuse_Glued_Switches(int argc, char** argv);

// --help, -h (-H) and -? ask for the usage text, --version for the version line; both are
// answered before any file is read. --list asks for the cable listing instead of a run,
// --list-chips for the chip listing, filtered by the text in *filter (--list-chips TEXT or
// --list-chips=TEXT; "" for all). The first such argument counts.
enum EarlySwitch { EARLY_NONE, EARLY_HELP, EARLY_VERSION, EARLY_LIST, EARLY_LIST_CHIPS };
EarlySwitch Find_Early_Switch(int argc, char** argv, std::string* filter = nullptr);
