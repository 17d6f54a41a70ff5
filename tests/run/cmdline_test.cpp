#include "run/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/tamrel.h"

namespace {

// Parses `args`; gives "op=N", the operation flags and each field whose flag is set, then what
// the parser printed; "refused" and the message when it refused the line.
std::string Parsed(std::vector<std::string> args) {
    Setup_struct s;
    PGM_setup_ini(&s);
    CTAMREL pgm(&s);
    std::vector<char*> argv{const_cast<char*>("tamrel")};
    for (std::string& a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    const int rc = CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data());
    fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    if (rc != 1) return "refused" + printed;
    std::string got = "op=" + std::to_string(s.operation) + (s.do_erase ? " E" : "") +
                      (s.do_write ? " W" : "") + (s.do_verify ? " V" : "") +
                      (s.do_dump ? " D" : "");
    if (s.has_file_name) got += " file=" + s.file_name;
    if (!s.dump_name.empty()) got += " dump=" + s.dump_name;
    if (s.has_device_name) got += " dev=" + s.device_name;
    if (s.has_addr_begin) got += " ab=" + std::to_string(s.addr_begin);
    if (s.has_addr_last) got += " al=" + std::to_string(s.addr_last);
    if (s.use_lpt) got += " lpt=" + std::to_string(s.lpt_addr);
    if (s.use_usb)
        got += " usb=" + s.usb_serial + "/" + s.usb_path + "/" +
               (s.has_usb_index ? std::to_string(s.usb_index) : "");
    return got + printed;
}

TEST(Cmdline, SwitchesAndNumbers) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-N=AT45DB161", "-info", "-s"}, "op=9 dev=AT45DB161"},
        {{"-e", "-w", "-ab=0x100", "-v", "x.bin"}, "op=5 E W V file=x.bin ab=256"},
        // -u and -x end the parsing.
        {{"-D", "dump.bin", "-AL=0xFFFF", "-u", "-p=zz", "stray"}, "op=7 D dump=dump.bin al=65535"},
        {{"-w", "a.bin", "-d", "-e", "b.bin", "-erase", "-x", "-i"}, "op=1 E W D file=b.bin"},
        // The fourth character is skipped; leading blanks and a sign are still a number.
        {{"-ab:0200", "-al= +7"}, "op=0 ab=128 al=7"},
        {{"-ab=0x0200", "-al=200", "-P=0x378"}, "op=0 ab=512 al=200 lpt=888"},
        {{"-ab=0", "-al=0xFFFFFFFF", "-p=0xFFFF"}, "op=0 ab=0 al=4294967295 lpt=65535"},
        {{"-fwimage.bin", "-FDout"}, "op=0 file=-fwimage.bin dump=-FDout"},
        // Words and upper-case letters; only -h, -? and --help ask for the usage text.
        {{"-write", "-Verify", "x.bin", "-V"}, "op=5 W V file=x.bin"},
        {{"-hfoo", "-?x", "-dump"},
         "op=3 D\nWarning: unknown argument \"-hfoo\" ignored\nWarning: unknown argument \"-?x\" "
         "ignored"},
        // Each argument nothing knows gets one warning, and the run goes on.
        {{"-", "-q", "-w", "-ab=0x100", "data.bin", "", "--verbose"},
         "op=4 W ab=256\nWarning: unknown argument \"-\" ignored"
         "\nWarning: unknown argument \"-q\" ignored\nWarning: unknown argument \"data.bin\" "
         "ignored\nWarning: unknown argument \"\" ignored\nWarning: unknown argument "
         "\"--verbose\" ignored"},
        // A USB-Blaster chosen makes the run a USB one; the last of each kind counts.
        {{"-p=0x278", "--usb-serial=A1", "--usb-index=3", "--usb-serial=B2", "--usb-path=1-1.4"},
         "op=0 usb=B2/1-1.4/3"},
        {{"--usb-bogus=1", "-i"}, "op=8\nWarning: unknown argument \"--usb-bogus=1\" ignored"},
    };
    for (const auto& [args, expect] : cases) EXPECT_EQ(expect, Parsed(args)) << args[0];
}

// A number that is not whole from end to end, or does not fit its field, stops the parse
// with a line that names the argument.
TEST(Cmdline, MalformedOrOutOfRangeNumbersAreRefused) {
    const std::string bad = ": expected -ab=N with N a whole number (decimal, 0x hex or 0 octal)\n";
    const char* const malformed[] = {"-ab0x10000", "-ab",     "-ab=",   "-ab=0x1O000",
                                     "-ab=10k",    "-ab=zzz", "-ab=08", "-ab=0x"};
    for (const char* arg : malformed)
        EXPECT_EQ("refused\nError: argument " + std::string(arg) + bad, Parsed({arg}));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-al", "0x10000", "-i"},
         "\nError: argument -al: expected -al=N with N a whole number (decimal, 0x hex or 0 "
         "octal)\n"},
        {{"-p0x278"},
         "\nError: argument -p0x278: expected -p=N with N a whole number (decimal, 0x hex or 0 "
         "octal)\n"},
        {{"-i", "-p="},
         "\nError: argument -p=: expected -p=N with N a whole number (decimal, 0x hex or 0 "
         "octal)\n"},
        {{"-al=-1"}, "\nError: argument -al=-1: the number is out of range (0 to 0xFFFFFFFF)\n"},
        {{"-AB=0x100000000"},
         "\nError: argument -AB=0x100000000: the number is out of range (0 to 0xFFFFFFFF)\n"},
        {{"-al=99999999999999999999999"},
         "\nError: argument -al=99999999999999999999999: the number is out of range (0 to "
         "0xFFFFFFFF)\n"},
        {{"-p=0x10000"},
         "\nError: argument -p=0x10000: the number is out of range (0 to 0xFFFF)\n"},
        {{"--usb-index=1st"},
         "\nError: argument --usb-index=1st: expected --usb-index=N with N a whole number "
         "(decimal, 0x hex or 0 octal)\n"},
        {{"--usb-serial="}, "\nError: argument --usb-serial=: expected --usb-serial=SERIAL\n"},
        {{"--usb-path="},
         "\nError: argument --usb-path=: expected --usb-path=PATH (as --list shows it)\n"},
    };
    for (const auto& [args, message] : cases) EXPECT_EQ("refused" + message, Parsed(args));
}

// Two or more switch letters behind one dash, also behind -u, which ends the scan; words and
// single letters pass.
TEST(Cmdline, GluedSwitchesAreRefused) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"-ewv", "fw.bin", "-ab=0x20000"},
         "\nError: argument -ewv: one switch per argument, write -e -w -v\n"},
        {{"-u", "-ED"}, "\nError: argument -ED: one switch per argument, write -E -D\n"},
        {{"-erase", "-write", "-verify", "-dump", "-info", "-unlock", "-V", "-", "-ab=1"}, ""},
    };
    for (auto [args, error] : cases) {
        args.insert(args.begin(), "tamrel");
        testing::internal::CaptureStdout();
        const bool refused =
            Refuse_Glued_Switches(static_cast<int>(args.size()), const_cast<char**>(args.data()));
        EXPECT_EQ(error, testing::internal::GetCapturedStdout());
        EXPECT_EQ(refused, error[0] != '\0');
    }
}

TEST(Cmdline, HelpAndVersionAreFoundAnywhere) {
    const std::pair<std::vector<const char*>, EarlySwitch> cases[] = {
        {{"-i", "--help"}, EARLY_HELP},
        {{"-H"}, EARLY_HELP},
        {{"-?"}, EARLY_HELP},
        {{"-e", "--version", "-h"}, EARLY_VERSION},
        {{"-i", "help", "--h", "-hfoo", "-?x", "-help"}, EARLY_NONE},
        {{"--versions", "-V"}, EARLY_NONE},
        {{"-i", "--list", "--help"}, EARLY_LIST},
        {{"--lists"}, EARLY_NONE},
        {{"-i", "--list-chips=W25", "--help"}, EARLY_LIST_CHIPS},
        {{"--list-chip", "--list-chipsW25", "--list-"}, EARLY_NONE},
    };
    for (auto [args, expect] : cases) {
        args.insert(args.begin(), "tamrel");
        EXPECT_EQ(expect,
                  Find_Early_Switch(static_cast<int>(args.size()), const_cast<char**>(args.data())))
            << args[1];
    }
}

}  // namespace
