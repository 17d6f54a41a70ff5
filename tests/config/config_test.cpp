#include <gtest/gtest.h>

#include <string>

#include "config/cfg_parser.h"
#include "run/tamrel.h"
#include "temp_cwd.h"

namespace {

class Config : public TempCwd {
protected:
    Setup_struct s{};
    CTAMREL pgm{&s};
};

// Each search starts at `pos` and reports "result key_pos [captured line]".
TEST_F(Config, KeySearchAcrossLinesAndFileEnds) {
    const struct {
        std::string text;
        const char* key;
        uint32_t pos;
        const char* expect;
    } cases[] = {
        {"port=lpt\n", "port", 0, "1 9 [port=lpt\n]"},
        {"x\nkey=tail", "key", 0, "1 11 [key=tail]"},  // the EOF attempt counts too
        {"abc", "key", 100, "0 101 [untouched]"},
        {std::string("a\0key=1\n", 8), "key", 0, "1 8 [key=1\n]"},
        {"abc", "", 0, "0 0 [untouched]"},
        // A captured line takes the newline that begins the next record.
        {"\nname=A\nname=B\nname=C", "\nname=", 0, "1 8 [\nname=A\n]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 8, "1 22 [\nname=C]"},
        {"\nname=A\nname=B\nname=C", "\nname=", 22, "0 23 [untouched]"},
    };
    for (const auto& c : cases) {
        Write("k.txt", c.text);
        std::string line = "untouched";
        int result = 7;
        pgm.key_pos = c.pos;
        pgm.Get_keyString("k.txt", &line, c.key, result);
        char got[64];
        snprintf(got, sizeof got, "%d %u [%s]", result, pgm.key_pos, line.c_str());
        EXPECT_EQ(c.expect, std::string(got)) << c.text << " / " << c.key;
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
        {"port=lpt\nlptaddr=0x10278\r\n", "1 0 278"},
        {"port=lpt\n", "1 0 378"},
        {"port=lpt\nlptaddr = 0x278\n", "1 0 378"},
        {"port=usb\nport=lpt\nlptaddr=0x3BC", "1 1 3bc"},
        {"PORT=USB\nlptaddr=0x278\n", "0 0 0"},
        {"port=usb\nemulate_image=img.bin\nemulate=W25Q32 # chip\nemulate_status=0x19C\n"
         "emulate_stats=s.json\nemulate_fault=busy\nemulate_interrupt_after=12\n",
         "0 1 0 W25Q32 img.bin s.json busy 156 12"},
        {"port=lpt\nemulate=\n", "\nError: config.cfg: no usable value for emulate=\n"},
        {"emulate=X\nemulate_status=high\n",
         "\nError: config.cfg: no usable value for emulate_status=\n"},
    };
    for (const auto& c : cases) {
        PGM_setup_ini(&s);
        if (c[0]) Write("config.cfg", c[0]);
        testing::internal::CaptureStdout();
        int rc = CCFGP(&pgm).Parse();
        std::string out = testing::internal::GetCapturedStdout();
        char got[32];
        snprintf(got, sizeof got, "%u %u %x", s.use_lpt, s.use_usb, s.lpt_addr);
        std::string set = got;
        if (!s.emulate_name.empty())
            set += " " + s.emulate_name + " " + s.emulate_image + " " + s.emulate_stats + " " +
                   s.emulate_fault + " " + std::to_string(s.emulate_status) + " " +
                   std::to_string(s.emulate_interrupt_after);
        EXPECT_EQ(c[1], rc == 1 ? set : out) << (c[0] ? c[0] : "no file");
    }
}

}  // namespace
