#include "run/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/tamrel.h"

namespace {

// What the parser set: "op=N", the operation flags, then each field whose flag is set.
TEST(Cmdline, SwitchesAndNumbers) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-", "-q", "stray", "", "-N=AT45DB161", "-info", "-s"}, "op=9 dev=AT45DB161"},
        {{"-e", "-w", "-ab=0x100", "data.bin", "-v", "x.bin"}, "op=5 E W V file=x.bin ab=256"},
        // -u and -x end the parsing.
        {{"-D", "dump.bin", "-AL=0xFFFF", "-u", "-p=888"}, "op=7 D dump=dump.bin al=65535"},
        {{"-w", "a.bin", "-d", "-e", "b.bin", "-erase", "-x", "-i"}, "op=1 E W D file=b.bin"},
        // The fourth character is skipped; a bad number or none keeps the value.
        {{"-ab:0200", "-ab=zz", "-al= -7", "-al"}, "op=0 ab=128 al=4294967289"},
        {{"-ab=-99999999999999999999999", "-al=99999999999"}, "op=0 ab=2147483648 al=2147483647"},
        {{"-P=0x12345", "-p=zz", "-fwimage.bin", "-FDout"},
         "op=0 file=-fwimage.bin dump=-FDout lpt=9029"},
    };
    for (auto c : cases) {
        Setup_struct s;
        PGM_setup_ini(&s);
        CTAMREL pgm(&s);
        std::vector<char*> argv{const_cast<char*>("tamrel")};
        for (std::string& a : c.first) argv.push_back(&a[0]);
        EXPECT_EQ(1, CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data()));
        std::string got = "op=" + std::to_string(s.operation) + (s.do_erase ? " E" : "") +
                          (s.do_write ? " W" : "") + (s.do_verify ? " V" : "") +
                          (s.do_dump ? " D" : "");
        if (s.has_file_name) got += " file=" + s.file_name;
        if (!s.dump_name.empty()) got += " dump=" + s.dump_name;
        if (s.has_device_name) got += " dev=" + s.device_name;
        if (s.has_addr_begin) got += " ab=" + std::to_string(s.addr_begin);
        if (s.has_addr_last) got += " al=" + std::to_string(s.addr_last);
        if (s.use_lpt) got += " lpt=" + std::to_string(s.lpt_addr);
        EXPECT_EQ(c.second, got) << c.first.size() << " args, first " << c.first[0];
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
