#include <gtest/gtest.h>

#include <string>

#include "run/tamrel.h"
#include "temp_cwd.h"

namespace {

class KeyReader : public TempCwd {
protected:
    void SetUp() override {
        TempCwd::SetUp();
        PGM_setup_ini(&s);
    }
    // One search from `pos`; returns "result key_pos [line]".
    std::string Find(const char* key, uint32_t pos, bool capture) {
        std::string line = "untouched";
        int result = 7;
        pgm.key_pos = pos;
        int ret = pgm.Get_keyString("k.txt", capture ? &line : nullptr, key, result);
        EXPECT_EQ(ret, result == 1 ? 1 : 0);
        return std::to_string(result) + " " + std::to_string(pgm.key_pos) + " [" + line + "]";
    }
    Setup_struct s;
    CTAMREL pgm{&s};
};

TEST_F(KeyReader, Search) {
    struct {
        std::string text;
        const char* key;
        uint32_t pos;
        bool capture;
        const char* expect;
    } const cases[] = {
        {"port=lpt\n", "port=lpt", 0, false, "1 8 [untouched]"},
        {"port=lpt\n", "port=lpt", 1, false, "0 10 [untouched]"},
        {"port=lpt\n", "port", 0, true, "1 9 [port=lpt\n]"},
        {"name=A\nname=B\n", "\nname=", 0, true, "1 14 [\nname=B\n]"},
        {"x\nkey=tail", "key", 0, true, "1 11 [key=tail]"},  // EOF attempt counted too
        {"", "key", 0, false, "0 1 [untouched]"},
        {"abc", "key", 100, true, "0 101 [untouched]"},
        {std::string("a\0key=1\n", 8), "key", 0, true, "1 8 [key=1\n]"},
        {"abc", "", 0, true, "0 0 [untouched]"},
    };
    for (const auto& c : cases) {
        Write("k.txt", c.text);
        EXPECT_EQ(c.expect, Find(c.key, c.pos, c.capture)) << c.text << " / " << c.key;
    }
}

TEST_F(KeyReader, CapturedLineConsumesNewlineOfNextKey) {
    Write("k.txt", "\nname=A\nname=B\nname=C\nname=D");
    EXPECT_EQ("1 8 [\nname=A\n]", Find("\nname=", 0, true));
    EXPECT_EQ("1 22 [\nname=C\n]", Find("\nname=", 8, true));
    EXPECT_EQ("0 29 [untouched]", Find("\nname=", 22, true));
}

// Both readers on one text: "number/status word/status".
TEST_F(KeyReader, Values) {
    const char* const cases[][3] = {
        {"lptaddr=0x378\n", "lptaddr", "888/1 0x378/1"},
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
        {"name=\"a b\"", "name", "0/-1 \"a/1"},
        {"nothing", "page", "0/-1 /-1"},
    };
    for (const auto& c : cases) {
        int vs = 0, ws = 0;
        long v = pgm.Get_env_val(c[0], c[1], &vs);
        std::string w = pgm.Get_env_txt(c[0], c[1], &ws);
        EXPECT_EQ(c[2],
                  std::to_string(v) + "/" + std::to_string(vs) + " " + w + "/" + std::to_string(ws))
            << c[0];
    }
}

}  // namespace
