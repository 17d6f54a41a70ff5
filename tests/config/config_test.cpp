// config.cfg and the key readers, with a setup record and programmer object in a temp folder.
#include <cstring>

#include "chipdb/fake_chip.h"
#include "config/cfg_parser.h"

namespace {

// The chip fixture brings the setup record, programmer object and temp folder; its chip is idle.
using Config = ChipTest;

// Each search starts at `pos` and reports "result key_pos [captured line]".
TEST_F(Config, KeySearchAcrossLinesAndFileEnds) {
    const std::tuple<std::string, const char*, uint32_t, const char*> cases[] = {
        {"port=lpt\n", "port", 0, "1 9 [port=lpt\n]"},
        {"x\nkey=tail", "key", 0, "1 11 [key=tail]"},  // the EOF attempt counts too
        {"abc", "key", 100, "0 101 [untouched]"},
        {std::string("a\0key=1\n", 8), "key", 0, "1 8 [key=1\n]"},
        {"abc", "", 0, "0 0 [untouched]"},
        // A partial match that fails may hold the start of the real one.
        {"aaab\n", "aab", 0, "1 5 [aab\n]"},
        {"xabababab", "abab", 0, "1 10 [abababab]"},
        // A captured line takes the newline that begins the next record.
        {"\nname=A\nname=B\nname=C", "\nname=", 0, "1 8 [\nname=A\n]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 8, "1 22 [\nname=C]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 22, "0 23 [untouched]"},
    };
    for (const auto& [text, key, pos, expect] : cases) {
        Write("k.txt", text);
        std::string line = "untouched";
        int result = 7;
        pgm.key_pos = pos;
        pgm.Get_keyString("k.txt", &line, key, result);
        char got[64];
        snprintf(got, sizeof got, "%d %u [%s]", result, pgm.key_pos, line.c_str());
        EXPECT_EQ(expect, std::string(got)) << text << " / " << key;
    }
}

// Both readers on one text: "number/status word/status". The last key= counts.
TEST_F(Config, ValuesReadFromTheLastOccurrence) {
    const char* const cases[][3] = {
        {"page= 256", "page", "256/1 256/1"},
        {"page=0400", "page", "256/1 0400/1"},
        {"page=4k", "page", "4/1 4k/1"},
        {"page=k4", "page", "0/-1 k4/1"},
        {"page=256 x page=512\n", "page", "512/1 512/1"},
        {"page=256 x page= \t\r\n", "page", "0/-1 /-1"},
        {"mnfid=0xEF", "id", "239/1 0xEF/1"},
        {"page=99999999999", "page", "2147483647/1 99999999999/1"},
        {"page=-99999999999999999999", "page", "-2147483648/1 -99999999999999999999/1"},
        {"name=\"a b\" name=W25Q32 mnfid=0xEF", "name", "0/-1 W25Q32/1"},
        {"nothing", "page", "0/-1 /-1"},
    };
    for (const auto& c : cases) {
        int vs = 0, ws = 0;
        char got[80];
        long v = pgm.Get_env_val(c[0], c[1], &vs);
        std::string w = pgm.Get_env_txt(c[0], c[1], &ws);
        snprintf(got, sizeof got, "%ld/%d %s/%d", v, vs, w.c_str(), ws);
        EXPECT_EQ(c[2], std::string(got)) << c[0];
    }
}

// What config.cfg set ("lpt usb addr [emulate keys]"), or what Parse printed when it refused.
TEST_F(Config, ConfigFileVariants) {
    const char* const cases[][2] = {
        {nullptr, "\nError: Can`t open file: config.cfg\n"},  // before any file is written
        {"", "0 0 0"},
        {"port=lpt\nlptaddr=0x0278\r\n", "1 0 278"},
        {"port=lpt\n", "1 0 378"},
        {"port=lpt\nlptaddr = 0x278\n", "1 0 378"},
        {"port=lpt\nlptaddr=zz\n", "1 0 378"},
        {"port=usb\nport=lpt\nlptaddr=0x3BC", "1 1 3bc"},
        {"PORT=USB\nlptaddr=0x278\n", "0 0 0"},
        {"port=lpt\nlptaddr=0x10278\n",
         "\nError: config.cfg: lptaddr=0x10278 is out of range (0 to 65535)\n"},
        {"port=lpt\nlptaddr=-1\n",
         "\nError: config.cfg: lptaddr=-1 is out of range (0 to 65535)\n"},
        {"port=usb\nemulate_image=img.bin\nemulate=W25Q32 # chip\nemulate_status=0x9C\n"
         "emulate_stats=s.json\nemulate_fault=slow:300\nemulate_interrupt_after=12\n"
         "emulate_drop_after=7\nemulate_interrupt_signal=SIGTERM\n",
         "0 1 0 W25Q32 img.bin s.json slow:300 156 12 7 SIGTERM"},
        // emulate keys count only at the start of a line, the first line included.
        {"port=usb\n# emulate=W25Q32\n #emulate_image=x\n", "0 1 0"},
        {"emulate=A\n# emulate=B\nport=usb # emulate_status=7\nemulate_interrupt_after=-5",
         "0 1 0 A    0 0 0 "},
        {"port=lpt\nemulate=\n", "\nError: config.cfg: no usable value for emulate=\n"},
        {"emulate=X\nemulate_status=high\n",
         "\nError: config.cfg: no usable value for emulate_status=\n"},
        {"emulate=X\nemulate_status=0x19C\n",
         "\nError: config.cfg: emulate_status=0x19C is out of range (0 to 255)\n"},
        // usb_async=0 (" sync"): one USB transfer at a time; a commented-out one is no key.
        {"port=usb\nusb_async=0\n", "0 1 0 sync"},
        {"port=usb\n#usb_async=0\nusb_async=1\n", "0 1 0"},
        {"port=usb\nusb_async=2\n", "\nError: config.cfg: usb_async=2 is out of range (0 to 1)\n"},
        {"port=usb\nusb_async=off\n", "\nError: config.cfg: no usable value for usb_async=\n"},
        {"emulate=X\nemulate_interrupt_after=2147483648\n",
         "\nError: config.cfg: emulate_interrupt_after=2147483648 is out of range (-2147483648 to "
         "2147483647)\n"},
    };
    for (const auto& [text, expect] : cases) {
        PGM_setup_ini(&setup);
        if (text) Write("config.cfg", text);
        int rc = 0;
        const std::string out = Output([&] { rc = CCFGP(&pgm).Parse(); });
        char set[160];
        int n = snprintf(set, sizeof set, "%u %u %x", setup.use_lpt, setup.use_usb, setup.lpt_addr);
        if (!setup.emulate_name.empty())
            snprintf(set + n, sizeof set - n, " %s %s %s %s %u %d %d %s",
                     setup.emulate_name.c_str(), setup.emulate_image.c_str(),
                     setup.emulate_stats.c_str(), setup.emulate_fault.c_str(), setup.emulate_status,
                     setup.emulate_interrupt_after, setup.emulate_drop_after,
                     setup.emulate_interrupt_signal.c_str());
        if (!setup.usb_async) strncat(set, " sync", sizeof set - strlen(set) - 1);
        EXPECT_EQ(expect, rc == 1 ? std::string(set) : out) << (text ? text : "no file");
    }
}

}  // namespace
