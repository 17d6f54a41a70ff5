#include "config/cfg_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "run/tamrel.h"
#include "temp_cwd.h"

namespace {

class CfgParser : public TempCwd {
protected:
    void SetUp() override {
        TempCwd::SetUp();
        PGM_setup_ini(&s);
    }
    int Parse() { return CCFGP(&pgm).Parse(); }
    Setup_struct s;
    CTAMREL pgm{&s};
};

TEST_F(CfgParser, PortKeys) {
    const char* const cases[][2] = {
        {"", "lpt=0 usb=0 addr=0"},
        {"port=lpt\nlptaddr=0x278\n", "lpt=1 usb=0 addr=278"},
        {"port=lpt\nlptaddr=632\r\n", "lpt=1 usb=0 addr=278"},
        {"lptaddr=0x10278\n# port=lpt here\n", "lpt=1 usb=0 addr=278"},
        {"port=lpt\n", "lpt=1 usb=0 addr=378"},
        {"port=lpt\nlptaddr = 0x278\n", "lpt=1 usb=0 addr=378"},
        {"port=lpt\nlptaddr=none\n", "lpt=1 usb=0 addr=378"},
        {"port=usb\n", "lpt=0 usb=1 addr=0"},
        {"port=usb\nport=lpt\nlptaddr=0x3BC", "lpt=1 usb=1 addr=3bc"},
        {"PORT=USB\nlptaddr=0x278\n", "lpt=0 usb=0 addr=0"},
    };
    for (const auto& c : cases) {
        PGM_setup_ini(&s);
        Write("config.cfg", c[0]);
        EXPECT_EQ(1, Parse()) << c[0];
        char got[40];
        snprintf(got, sizeof got, "lpt=%u usb=%u addr=%x", s.use_lpt, s.use_usb, s.lpt_addr);
        EXPECT_STREQ(c[1], got) << c[0];
    }
}

TEST_F(CfgParser, MissingFile) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Parse());
    EXPECT_EQ("\nError: Can`t open file: config.cfg\n", testing::internal::GetCapturedStdout());
}

TEST_F(CfgParser, EmulationKeys) {
    Write("config.cfg",
          "port=usb\nemulate_image=img.bin\nemulate=W25Q32 # chip\nemulate_status=0x19C\n"
          "emulate_stats=s.json\nemulate_fault=busy\nemulate_interrupt_after=12\n");
    EXPECT_EQ(1, Parse());
    EXPECT_EQ("W25Q32 img.bin s.json busy 156 12",
              s.emulate_name + " " + s.emulate_image + " " + s.emulate_stats + " " +
                  s.emulate_fault + " " + std::to_string(s.emulate_status) + " " +
                  std::to_string(s.emulate_interrupt_after));
}

TEST_F(CfgParser, EmulationKeyWithoutValueIsRefused) {
    for (const char* text : {"port=lpt\nemulate=\n", "emulate=X\nemulate_status=high\n"}) {
        Write("config.cfg", text);
        testing::internal::CaptureStdout();
        EXPECT_EQ(-1, Parse()) << text;
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find(
                                         "Error: config.cfg: no usable value"));
    }
}

}  // namespace
