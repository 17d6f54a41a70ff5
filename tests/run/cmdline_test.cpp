#include "run/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/tamrel.h"

namespace {

// What the parser set, in one comparable line: fields appear only when their flag is set.
std::string Parse(std::vector<std::string> args) {
    Setup_struct s;
    PGM_setup_ini(&s);
    CTAMREL pgm(&s);
    std::vector<char*> argv{const_cast<char*>("tamrel")};
    for (std::string& a : args) argv.push_back(&a[0]);
    EXPECT_EQ(1, CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data()));
    std::string out = "op=" + std::to_string(s.operation);
    auto add = [&out](bool on, const std::string& text) {
        if (on) out += " " + text;
    };
    add(s.do_erase, "E");
    add(s.do_write, "W");
    add(s.do_verify, "V");
    add(s.do_dump, "D");
    add(s.has_file_name || !s.file_name.empty(),
        "file(" + std::to_string(s.has_file_name) + ")=" + s.file_name);
    add(!s.dump_name.empty(), "dump=" + s.dump_name);
    add(s.has_device_name, "dev=" + s.device_name);
    add(s.has_addr_begin, "ab=" + std::to_string(s.addr_begin));
    add(s.has_addr_last, "al=" + std::to_string(s.addr_last));
    add(s.use_lpt, "lpt=" + std::to_string(s.lpt_addr));
    return out;
}

TEST(Cmdline, SwitchesAndNumbers) {
    const struct {
        std::vector<std::string> args;
        const char* expect;
    } cases[] = {
        {{"-", "-q", "-1", "stray", ""}, "op=0"},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1000"}, "op=5 E W V file(1)=data.bin ab=4096"},
        {{"-w", "-ab=0x100", "data.bin"}, "op=4 W ab=256"},
        {{"-D", "dump.bin", "-AB=0", "-AL=0xFFFF"}, "op=3 D dump=dump.bin ab=0 al=65535"},
        {{"-w", "a.bin", "-d", "-e", "b.bin", "-erase"}, "op=6 E W D file(1)=b.bin"},
        {{"-ab=0200", "-al=200"}, "op=0 ab=128 al=200"},
        {{"-ab:0x10", "-al= -7"}, "op=0 ab=16 al=4294967289"},
        {{"-ab=0x10", "-ab=zz", "-al"}, "op=0 ab=16 al=0"},
        {{"-ab=", "-al=99999999999"}, "op=0 ab=0 al=2147483647"},
        {{"-ab=-99999999999999999999999"}, "op=0 ab=2147483648"},
        {{"-p=0x378"}, "op=0 lpt=888"},
        {{"-P=0x12345", "-p=zz"}, "op=0 lpt=9029"},
        {{"-u", "-p=888"}, "op=7"},
        {{"-x", "-i"}, "op=1"},
        {{"-s", "-info"}, "op=8"},
        {{"-n=x", "-N=AT45DB161"}, "op=0 dev=AT45DB161"},
        {{"-N=AT45DB161", "-n="}, "op=0 dev="},
        {{"-fwimage.bin", "-FDout"}, "op=0 file(1)=-fwimage.bin dump=-FDout"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        EXPECT_EQ(c.expect, Parse(c.args)) << "args: " << joined;
    }
}

TEST(Cmdline, UsageText) {
    testing::internal::CaptureStdout();
    PrintUsage();
    EXPECT_EQ(
        "\n\n Usage: tamrel -i|e|w|v|d|u|p|n|x filename -ab=.. -al=..\n"
        " --------------------------------------------------------------------\n\n"
        " -i   Identification device. Show the device status register: -i\n"
        " -s   Show memory data block: -s -ab=address_begin -al=address_last\n"
        " -e   Erase all Flash memory space: -e\n"
        "      From address by file size: -e filename -ab=address_begin\n"
        "      From address to address: -e -ab=address_begin -al=address_last\n"
        " -w   Write file without erase: -w filename -ab=address_begin\n"
        " -v   Verify with file: -v filename -ab=address_begin\n"
        " -d   Dump to file: -d dump.bin -ab=address_begin -al=address_last\n"
        " -ab= Address begin in memory space: -ab=0x0200\n"
        " -al= Address last in memory space: -al=0x20000\n"
        " -u   Unlock write protection bits (may depend on WP# pin level): -u\n"
        " -p=  LPT port I/O base address, default 0x378: -p=0x378\n"
        " -n=  Device name, in case no jedec id: -n=AT45DB161\n"
        " -x   Reset adapter: -x\n"
        "      Program sequence: -e -w -v filename -ab=address_begin\n\n",
        testing::internal::GetCapturedStdout());
}

}  // namespace
