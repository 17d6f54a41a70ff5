#include <iterator>
#include <sstream>

#include "chipdb/fake_chip.h"
#include "run/cmdline.h"

namespace {

using CheckParams = ChipTest;

// Every refusal and the passes next to them, for a chip named by a W25Q32 record (4 MiB, 4 KiB
// erase unit) with `extra` keys appended (the last key wins) and the rest of the command line.
// A message starting with "\n" must end the output; "" means the request passes.
TEST_F(CheckParams, RefusalsAndPasses) {
    std::ofstream("data.bin") << std::string(0x1000, 'x');
    std::ofstream("empty.bin");
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {" page=z", "-i", "\nDB Error: 'page=' not given.\n\n"},
        {" block=0", "-i", "\nDB Error: 'block=' not given.\n\n"},
        {" sector=z", "-i", "\nDB Error: 'sector=' not given.\n\n"},
        {" volime=0", "-i", "\nDB Error: 'volime=' not given.\n\n"},
        {"", "-s -ab=0x400000 -al=0x500000", "\nError: argument -ab > -al\n"},
        {"", "-d", "\nError: Not defined dump file\n"},
        {"", "-v nope.bin", "\n\nError: can`t open file: \"nope.bin\"\n"},
        {"", "-w empty.bin", "\n\nError: \"empty.bin\" file is empty.\n"},
        {" page=8192", "-i", "\n\nflash_DB param error: Page or Block or Sector or Total size.\n"},
        {"", "-w -ab=0", "Error: -w needs a data file"},
        {"", "-v -ab=0", "Error: -v needs a data file"},
        {"", "-s -ab=0x400000", "Error: -ab=0x400000 lies beyond"},
        {"", "-w data.bin -ab=0x3FF000", ""},  // ends on the last byte
        {"", "-w data.bin -ab=0x3FF001", "runs past the chip's last address"},
        {"", "-e data.bin -ab=0x3FFF00", "runs past the chip's last address"},
        {"", "-w data.bin -ab=0x3FFF00 -al=0x3FFFFF", ""},  // -al= ends the range
        {" volime=0x2000000", "-w data.bin -ab=0xFFF800", "0x10007FF lies above 16 MiB"},
        {" volime=0x2000000", "-d d.bin -ab=0xFFF000", "0x1FFFFFF lies above 16 MiB"},
        {" mnfid=0xC8", "-w data.bin", "Error: no erase unit"},  // a maker without unit rule
        {" mnfid=0xC8", "-v data.bin", "Error: no erase unit"},
        {" mnfid=0xC8", "-e -ab=0x1000", "Error: no erase unit"},
        {" mnfid=0xC8", "-e", ""},                              // chip erase
        {" block=2048", "-e -al=0x10", "range erase refused"},  // no erase opcode
        {"", "-i -al=0x7FFFFFFF", ""},  // -al= past the end: clamped, see below
    };
    for (const auto& [extra, line, msg] : cases) {
        setup = Setup_struct{};
        std::ofstream("flash_db.cfg") << "#\nname=W25Q32 mnfid=0xEF page=256 block=4096 "
                                      << "sector=0x10000 volime=0x400000" << extra << "\n";
        std::istringstream words(std::string("tamrel -n=W25Q32 ") + line);
        std::vector<std::string> args(std::istream_iterator<std::string>(words), {});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data());
        int r = 0;
        const std::string out =
            Output([&] { pgm.FLASH_Identify(), r = pgm.FLASH_Check_Parameters(); });
        EXPECT_EQ(msg.empty() ? 1 : -1, r) << line << out;
        const size_t at =
            msg[0] == '\n' ? out.size() - std::min(out.size(), msg.size()) : out.find(msg);
        EXPECT_EQ(msg, out.substr(std::min(at, out.size()), msg.size())) << line;
        if (setup.data_file) fclose(setup.data_file), setup.data_file = nullptr;
    }
    EXPECT_EQ(0x3FFFFFu, setup.addr_last);
}

}  // namespace
