#include "adapters/delay.h"
#include "chipdb/fake_chip.h"

namespace {

class SpiCommands : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        delay_set_sink(
            [](unsigned long long ns, void* v) {
                static_cast<std::vector<unsigned long long>*>(v)->push_back(ns);
            },
            &sleeps);
    }
    void TearDown() override {
        delay_set_sink(nullptr, nullptr);
        ChipTest::TearDown();
    }
    std::vector<unsigned long long> sleeps;
};

TEST_F(SpiCommands, WaitWriteBusyPollAndSleepCounts) {
    const struct {
        int polls;
        std::deque<unsigned char> status;
        size_t frames, sleeps;
        int result;
    } cases[] = {
        {200, {}, 1, 0, 1},  // idle: one reading, no sleep
        {200, {0x03, 0x01, 0x02}, 3, 2, 1},
        {3, {1, 1, 1, 1, 1}, 3, 3, 0},  // stays busy
        {0, {1}, 0, 0, 0},
        {-1, {1}, 0, 0, 0},
    };
    for (const auto& k : cases) {
        chip.frames.clear(), sleeps.clear();
        chip.status = k.status;
        int r = 0;
        const std::string out = Output([&] { r = pgm.Wait_WriteBusy(k.polls, 10); });
        EXPECT_EQ(k.result, r) << k.polls;
        EXPECT_EQ(k.frames, chip.frames.size()) << k.polls;
        EXPECT_EQ(std::vector<unsigned long long>(k.sleeps, 10000000ULL), sleeps) << k.polls;
        EXPECT_EQ(r ? "" : "\nError: Wait_WriteBusy exit by timeout", out);
    }
}

TEST_F(SpiCommands, Frames) {
    pgm.Read_Block(0x1234567, 300);  // 16 MiB + 0x234567: low 24 bits only
    EXPECT_EQ((std::vector<unsigned char>{0x03, 0x23, 0x45, 0x67}),
              std::vector<unsigned char>(chip.frames[0].begin(), chip.frames[0].begin() + 4));
    EXPECT_EQ(304u, chip.frames[0].size());
    for (int i = 0; i < 300; i++) ASSERT_EQ((0x67 + i) & 0xFF, pgm.io_buf[i]) << i;
    pgm.Read_Block(0x10, 0);
    chip.status = {0xA5};
    EXPECT_EQ(0xA5, pgm.Get_StatusReg());  // not the 0xEE of the opcode's byte time
    pgm.Write_Enable();
    pgm.Write_Disable();
    unsigned char id[6] = {};
    pgm.FLASH_Read_JEDEC(id);
    EXPECT_EQ((std::vector<unsigned char>{0xEE, 0xEF, 0x40, 0x16, 0, 0}),
              std::vector<unsigned char>(id, id + 6));
    EXPECT_EQ((std::vector<long>{300, 0, 2, 0, 0, 5}), chip.read_lens);
    EXPECT_EQ(4u, chip.frames[1].size());
    EXPECT_EQ((std::vector<unsigned char>{0x05, 0x00}), chip.frames[2]);
    EXPECT_EQ((std::vector<unsigned char>{0x06}), chip.frames[3]);
    EXPECT_EQ((std::vector<unsigned char>{0x04}), chip.frames[4]);

    chip.status = {0x02, 0xFD};
    EXPECT_EQ("", Output([&] { EXPECT_EQ(0, pgm.Check_WriteProtect()); }));
    EXPECT_EQ("\nError: Disable hardware \"Write protect\" pin!\n",
              Output([&] { EXPECT_EQ(1, pgm.Check_WriteProtect()); }));
}

}  // namespace
