#include "emulator/emulated_target.h"

#include <gmock/gmock.h>

#include <memory>

#include "config/temp_cwd.h"
#include "emulator/flash_chip.h"
#include "run/tamrel.h"

namespace {

class EmulatedTarget : public TempCwd {
protected:
    // Builds the target on a small chip database; returns what it printed.
    std::string Create(const char* name, const char* fault = "") {
        Write("flash_db.cfg", "chips\nname=TINY8 volime=0x2000\nname=NOSIZE page=256\n");
        setup_.emulate_name = name, setup_.emulate_fault = fault;
        testing::internal::CaptureStdout();
        t_.reset(CEmulatedTarget::Create(&pgm_));
        return fflush(stdout), testing::internal::GetCapturedStdout();
    }

    Setup_struct setup_{};
    CTAMREL pgm_{&setup_};
    std::unique_ptr<CEmulatedTarget> t_;
};

TEST_F(EmulatedTarget, RefusesBadConfiguration) {
    EXPECT_EQ(Create("W25"),
              "\nError: emulate=W25: no record in flash_db.cfg has a name beginning with it");
    EXPECT_EQ(Create("NOSIZE"),
              "\nError: emulate=NOSIZE: its flash_db.cfg record has no readable volime=");
    EXPECT_EQ(Create("TINY", "flaky"),
              "\nError: emulate_fault=flaky is not one of none, miso_high, miso_low, no_wel, busy");
    EXPECT_FALSE(t_);
}

// The programmed image goes back to its file with a stats line; an image of another size is
// refused and left as it is. The config reader's place survives the database lookup.
TEST_F(EmulatedTarget, WritesImageAndStatsBackButNeverResizesTheImage) {
    setup_.emulate_image = "chip.bin", setup_.emulate_stats = "stats.json";
    pgm_.key_pos = 77;
    EXPECT_EQ(Create("TINY"), "");
    ASSERT_TRUE(t_);
    EXPECT_EQ(pgm_.key_pos, 77u);
    for (const std::vector<uint8_t>& frame : {std::vector<uint8_t>{0x06}, {0x02, 0, 1, 0, 0x5A}}) {
        t_->Chip()->Select();
        for (uint8_t b : frame) t_->Chip()->Exchange(b);
        t_->Chip()->Deselect();
    }
    t_.reset();
    EXPECT_EQ(Read("chip.bin"), std::string(0x100, '\xFF') + '\x5A' + std::string(0x1EFF, '\xFF'));
    EXPECT_THAT(Read("stats.json"),
                testing::HasSubstr("\"frames\":2,\"commands\":{\"0x02\":1,\"0x06\":1},"
                                   "\"bytes_read\":0,\"bytes_programmed\":1,"));

    Write("chip.bin", "short");
    EXPECT_EQ(Create("TINY"),
              "\nError: emulate_image chip.bin has 5 bytes, the emulated chip 8192; file left as "
              "it is");
    EXPECT_EQ(Read("chip.bin"), "short");
}

}  // namespace
