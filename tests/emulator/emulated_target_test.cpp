#include "emulator/emulated_target.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "adapters/delay.h"
#include "emulator/flash_chip.h"
#include "run/tamrel.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Each test runs in a fresh temporary folder holding a small chip database.
class EmulatedTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tamrel_emu_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        std::ofstream("flash_db.cfg")
            << "chips\nname=TINY8 mnfid=0xC2 jedec=0x2013 page=256 sector=0x1000 volime=0x2000\n"
               "name=NOSIZE mnfid=0xEF jedec=0x4016 page=256\n";
        PGM_setup_ini(&setup_);
        setup_.emulate_name = "TINY";
    }
    void TearDown() override {
        ASSERT_EQ(chdir("/tmp"), 0);
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    // Creates the target and returns what it printed.
    std::string Create(std::unique_ptr<CEmulatedTarget>* t) {
        testing::internal::CaptureStdout();
        t->reset(CEmulatedTarget::Create(&pgm_));
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    std::string dir_;
    Setup_struct setup_;
    CTAMREL pgm_{&setup_};
};

TEST_F(EmulatedTarget, RefusesBadConfiguration) {
    const char* cases[][3] = {
        {"W25", "", "\nError: emulate=W25: no record in flash_db.cfg has a name beginning with it"},
        {"NOSIZE", "", "\nError: emulate=NOSIZE: its flash_db.cfg record has no readable volime="},
        {"TINY", "flaky",
         "\nError: emulate_fault=flaky is not one of none, miso_high, miso_low, no_wel, busy"},
    };
    for (const auto& c : cases) {
        setup_.emulate_name = c[0];
        setup_.emulate_fault = c[1];
        std::unique_ptr<CEmulatedTarget> t;
        EXPECT_EQ(Create(&t), c[2]);
        EXPECT_FALSE(t);
    }
    setup_.emulate_fault = "busy";
    std::unique_ptr<CEmulatedTarget> t;
    EXPECT_EQ(Create(&t), "");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Description(), "TINY, image memory");
}

TEST_F(EmulatedTarget, ChipImageClockAndStats) {
    setup_.emulate_image = "chip.bin";
    setup_.emulate_stats = "stats.json";
    pgm_.key_pos = 77;
    std::unique_ptr<CEmulatedTarget> t;
    EXPECT_EQ(Create(&t), "");
    ASSERT_TRUE(t);
    EXPECT_EQ(pgm_.key_pos, 77u);
    const FlashChipParams& p = t->Chip()->Params();  // first record named TINY...
    EXPECT_EQ(p.mnf_id + (p.jedec_id << 8) + p.total_size + p.sector_size,
              0xC2 + 0x201300 + 0x3000);
    delay_ms(3);  // delays advance the virtual clock
    delay_us(5);
    EXPECT_EQ(t->Chip()->Now(), 3005000u);
    EXPECT_EQ(ReadFile("chip.bin"), std::string(0x2000, '\xFF'));
    EXPECT_EQ(t->Description(), "TINY, image chip.bin");
    CFlashChip* chip = t->Chip();
    for (const std::vector<uint8_t>& frame : {std::vector<uint8_t>{0x06}, {0x02, 0, 1, 0, 0x5A}}) {
        chip->Select();
        for (uint8_t b : frame) chip->Exchange(b);
        chip->Deselect();
    }
    t.reset();
    EXPECT_EQ(ReadFile("chip.bin"),
              std::string(0x100, '\xFF') + '\x5A' + std::string(0x1EFF, '\xFF'));
    std::string stats = ReadFile("stats.json");
    EXPECT_NE(stats.find("\"frames\":2,\"commands\":{\"0x02\":1,\"0x06\":1},\"bytes_read\":0,"
                         "\"bytes_programmed\":1,"),
              std::string::npos)
        << stats;

    // The next run starts from that content; a file of another size is refused untouched.
    EXPECT_EQ(Create(&t), "");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Chip()->Memory()[0x100], 0x5A);
    t.reset();
    std::ofstream("chip.bin") << "short";
    EXPECT_EQ(Create(&t),
              "\nError: emulate_image chip.bin has 5 bytes, the emulated chip 8192; file left as "
              "it is");
    EXPECT_FALSE(t);
    EXPECT_EQ(ReadFile("chip.bin"), "short");
    stats = ReadFile("stats.json");
    EXPECT_EQ(std::count(stats.begin(), stats.end(), '\n'), 2);  // one line per run
}

}  // namespace
