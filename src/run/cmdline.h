// Command-line parser and usage text.
#pragma once

class CTAMREL;

class CCMDP {
public:
    explicit CCMDP(CTAMREL* prog) : pgm(prog) {}
    ~CCMDP() {}

    // Scans the switches into the setup record. Never fails: returns 1.
    int Parse(int argc, char** argv);
    // Diagnostic listing of the arguments.
    int PrintArg(int argc, char** argv);

private:
    CTAMREL* pgm;
};

void PrintUsage();
