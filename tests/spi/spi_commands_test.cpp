#include "adapters/delay.h"
#include "chipdb/fake_chip.h"

namespace {

class SpiCommands : public ChipTest {
  protected:
    void SetUp() override {
        ChipTest::SetUp();
        delay_set_sink(&CountSleep, &sleeps);
    }
    void TearDown() override {
        delay_set_sink(nullptr, nullptr);
        ChipTest::TearDown();
    }
    static void CountSleep(unsigned long long ns, void* ctx) {
        static_cast<std::vector<unsigned long long>*>(ctx)->push_back(ns);
    }
    std::vector<unsigned long long> sleeps;
};

TEST_F(SpiCommands, WaitWriteBusyPollAndSleepCounts) {
    struct Case {
        int polls, pause_ms;
        std::deque<unsigned char> status;
        size_t frames, sleeps;
        int result;
    };
    const Case cases[] = {
        {200, 20, {}, 1, 0, 1},                  // idle: one reading, no sleep
        {200, 20, {0x03, 0x01, 0x02}, 3, 2, 1},  // ready at the third reading
        {3, 10, {1, 1, 1, 1, 1}, 3, 3, 0},       // stays busy: time-out
        {0, 10, {1}, 0, 0, 0},                   // no polls allowed
        {-1, 10, {1}, 0, 0, 0},
    };
    for (const Case& k : cases) {
        chip.frames.clear();
        sleeps.clear();
        chip.status = k.status;
        int r = 0;
        const std::string out = Output([&] { r = pgm.Wait_WriteBusy(k.polls, k.pause_ms); });
        EXPECT_EQ(k.result, r) << k.polls;
        EXPECT_EQ(k.frames, chip.frames.size()) << k.polls;
        ASSERT_EQ(k.sleeps, sleeps.size()) << k.polls;
        for (unsigned long long ns : sleeps) EXPECT_EQ(k.pause_ms * 1000000ULL, ns);
        EXPECT_EQ(k.result ? "" : "\nError: Wait_WriteBusy exit by timeout", out);
        for (const auto& f : chip.frames) EXPECT_EQ(0x05, f[0]);
    }
}

TEST_F(SpiCommands, ReadBlockFrameAndOverlapSafeMove) {
    pgm.Read_Block(0x1234567, 300);  // 16 MiB + 0x234567: low 24 bits only
    ASSERT_EQ(1u, chip.frames.size());
    EXPECT_EQ(304u, chip.frames[0].size());
    EXPECT_EQ(300, chip.read_lens[0]);
    EXPECT_EQ((std::vector<unsigned char>{0x03, 0x23, 0x45, 0x67}),
              std::vector<unsigned char>(chip.frames[0].begin(), chip.frames[0].begin() + 4));
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(static_cast<unsigned char>(0x67 + i), pgm.io_buf[i]) << i;

    pgm.Read_Block(0x10, 0);
    EXPECT_EQ(4u, chip.frames[1].size());
    EXPECT_EQ(0, chip.read_lens[1]);
}

TEST_F(SpiCommands, ShortFrames) {
    chip.status = {0xA5};
    EXPECT_EQ(0xA5, pgm.Get_StatusReg());  // byte 0 of the reply is noise (0xEE)
    pgm.Write_Enable();
    pgm.Write_Disable();
    unsigned char id[6] = {0, 0, 0, 0, 0, 0};
    pgm.FLASH_Read_JEDEC(id);
    EXPECT_EQ((std::vector<unsigned char>{0x05, 0x00}), chip.frames[0]);
    EXPECT_EQ((std::vector<unsigned char>{0x06}), chip.frames[1]);
    EXPECT_EQ((std::vector<unsigned char>{0x04}), chip.frames[2]);
    EXPECT_EQ((std::vector<long>{2, 0, 0, 5}), chip.read_lens);
    EXPECT_EQ((std::vector<unsigned char>{0xEE, 0xEF, 0x40, 0x16, 0, 0}),
              std::vector<unsigned char>(id, id + 6));
}

TEST_F(SpiCommands, CheckWriteProtect) {
    chip.status = {0x02, 0xFD};
    EXPECT_EQ("", Output([&] { EXPECT_EQ(0, pgm.Check_WriteProtect()); }));
    EXPECT_EQ("\nError: Disable hardware \"Write protect\" pin!\n",
              Output([&] { EXPECT_EQ(1, pgm.Check_WriteProtect()); }));
}

}  // namespace
