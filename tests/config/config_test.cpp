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
        {"port=lpt\n", "port", 0, "1 8 [port=lpt\n]"},
        {"x\nkey=tail", "key", 0, "1 11 [key=tail]"},  // the EOF attempt counts too
        {"abc", "key", 100, "0 101 [untouched]"},
        {std::string("a\0key=1\n", 8), "key", 0, "1 7 [key=1\n]"},
        {"abc", "", 0, "0 0 [untouched]"},
        // A partial match that fails may hold the start of the real one.
        {"aaab\n", "aab", 0, "1 4 [aab\n]"},
        {"xabababab", "abab", 0, "1 10 [abababab]"},
        // The next search starts on the newline that ends a captured line: a record right
        // below another is found.
        {"\nname=A\nname=B\nname=C", "\nname=", 0, "1 7 [\nname=A\n]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 7, "1 14 [\nname=B\n]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 14, "1 22 [\nname=C]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 22, "0 23 [untouched]"},
        // Comment lines are never searched; the newline that ends one begins the next line.
        {"# port=usb\n  #port=usb\nport=usb", "port=usb", 0, "1 32 [port=usb]"},
        {"#\nname=A", "\nname=", 0, "1 9 [\nname=A]"},
        {"\t# port=usb\nx # port=usb\n", "port=usb", 0, "1 24 [port=usb\n]"},
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

// What config.cfg set ("lpt usb addr [emulate keys] [usb=serial/path/index/vid:pid]"), or
// what Parse printed when it refused.
TEST_F(Config, ConfigFileVariants) {
    const char* const cases[][2] = {
        {nullptr, "\nError: Can`t open file: config.cfg\n"},  // before any file is written
        {"", "0 0 0"},
        {"port=lpt\nlptaddr=0x0278\r\n", "1 0 278"},
        {"port=lpt\n", "1 0 378"},
        {"port=lpt\nlptaddr = 0x278\n", "1 0 378"},
        {"port=lpt\nlptaddr=\n", "1 0 378"},
        {"port=lpt\nlptaddr=zz\n",
         "\nError: config.cfg: lptaddr=zz: expected lptaddr=N with N a whole number (decimal, 0x "
         "hex or 0 octal)\n"},
        {"port=lpt\nlptaddr=0x378k\n",
         "\nError: config.cfg: lptaddr=0x378k: expected lptaddr=N with N a whole number (decimal, "
         "0x hex or 0 octal)\n"},
        // Comment lines are never searched; a line that looks like a cable setting is kept.
        {"# to use the USB cable, write port=usb\nport=lpt\n", "1 0 378"},
        {"  # port=usb\n", "0 0 0"},
        {"port = usb\n", "0 0 0 [port = usb|port=usb]"},
        {"# port=lpt\n Port:LPT \r\n", "0 0 0 [Port:LPT|port=lpt]"},
        {"exit_codes=posix\nport=usb\n", "0 1 0 codes=2"},
        {"exit_codes=classic\nport=usb\n# exit_codes=posix\n", "0 1 0 codes=1"},
        {"exit_codes=0\nport=usb\n",
         "\nError: config.cfg: exit_codes=0: expected exit_codes=posix or exit_codes=classic\n"},
        {"port=usb\nport=lpt\nlptaddr=0x3BC", "1 1 3bc"},
        {"PORT=USB\nlptaddr=0x278\n", "0 0 0 [PORT=USB|port=usb]"},
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
        {"emulate=X\nemulate_status=\n",
         "\nError: config.cfg: no usable value for emulate_status=\n"},
        {"emulate=X\nemulate_status=0x9Czz\n",
         "\nError: config.cfg: emulate_status=0x9Czz: expected emulate_status=N with N a whole "
         "number (decimal, 0x hex or 0 octal)\n"},
        {"emulate=X\nemulate_status=0x19C\n",
         "\nError: config.cfg: emulate_status=0x19C is out of range (0 to 255)\n"},
        // usb_async=0 (" sync"): one USB transfer at a time; a commented-out one is no key.
        {"port=usb\nusb_async=0\n", "0 1 0 sync"},
        {"port=usb\n#usb_async=0\nusb_async=1\n", "0 1 0"},
        {"port=usb\nusb_async=2\n", "\nError: config.cfg: usb_async=2 is out of range (0 to 1)\n"},
        {"port=usb\nusb_async=off\n",
         "\nError: config.cfg: usb_async=off: expected usb_async=N with N a whole number (decimal, "
         "0x hex or 0 octal)\n"},
        {"emulate=X\nemulate_interrupt_after=2147483648\n",
         "\nError: config.cfg: emulate_interrupt_after=2147483648 is out of range (-2147483648 to "
         "2147483647)\n"},
        // The USB-Blaster's choice and ids, only at the start of a line like the emulate keys.
        {"port=usb\nusb_serial=A1\nusb_path=1-2.3\nusb_index=2\nusb_vid=0x16C0\nusb_pid=1709\n"
         "# usb_serial=B2\n",
         "0 1 0 usb=A1/1-2.3/2/16c0:6ad"},
        {"port=usb\n# usb_serial=B2\n usb_index=1\n", "0 1 0"},
        {"usb_vid=0\n", "\nError: config.cfg: usb_vid=0 is out of range (1 to 65535)\n"},
        {"usb_pid=0x10000\n",
         "\nError: config.cfg: usb_pid=0x10000 is out of range (1 to 65535)\n"},
        {"usb_index=first\n",
         "\nError: config.cfg: usb_index=first: expected usb_index=N with N a whole number "
         "(decimal, 0x hex or 0 octal)\n"},
        {"usb_serial=\n", "\nError: config.cfg: no usable value for usb_serial=\n"},
    };
    for (const auto& [text, expect] : cases) {
        PGM_setup_ini(&setup);
        if (text) Write("config.cfg", text);
        int rc = 0;
        const std::string out = Output([&] { rc = CCFGP(&pgm).Parse(); });
        char set[160];
        int n = snprintf(set, sizeof set, "%u %u %x", setup.use_lpt, setup.use_usb, setup.lpt_addr);
        if (!setup.port_lookalike.empty())
            n += snprintf(set + n, sizeof set - n, " [%s|%s]", setup.port_lookalike.c_str(),
                          setup.port_expected.c_str());
        if (setup.exit_codes != 0)
            n += snprintf(set + n, sizeof set - n, " codes=%u", setup.exit_codes);
        if (!setup.emulate_name.empty())
            snprintf(set + n, sizeof set - n, " %s %s %s %s %u %d %d %s",
                     setup.emulate_name.c_str(), setup.emulate_image.c_str(),
                     setup.emulate_stats.c_str(), setup.emulate_fault.c_str(), setup.emulate_status,
                     setup.emulate_interrupt_after, setup.emulate_drop_after,
                     setup.emulate_interrupt_signal.c_str());
        if (!setup.usb_serial.empty() || setup.has_usb_index || setup.usb_vid)
            snprintf(set + strlen(set), sizeof set - strlen(set), " usb=%s/%s/%d/%x:%x",
                     setup.usb_serial.c_str(), setup.usb_path.c_str(),
                     setup.has_usb_index ? setup.usb_index : -1, setup.usb_vid, setup.usb_pid);
        if (!setup.usb_async) strncat(set, " sync", sizeof set - strlen(set) - 1);
        EXPECT_EQ(expect, rc == 1 ? std::string(set) : out) << (text ? text : "no file");
    }
}

}  // namespace
