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

// Status readings and 10 ms sleeps: a sleep after each busy reading, none after the last poll.
TEST_F(SpiCommands, WaitWriteBusyPollAndSleepCounts) {
    // polls, status readings the chip gives, readings taken, sleeps, result
    const std::tuple<int, std::deque<unsigned char>, size_t, size_t, int> cases[] = {
        {200, {}, 1, 0, 1},  // idle at once
        {200, {0x03, 0x01, 0x02}, 3, 2, 1},
        {3, {1, 1, 1, 1, 1}, 3, 3, 0},  // stays busy
        {0, {1}, 0, 0, 0},
        {-1, {1}, 0, 0, 0},
    };
    for (const auto& [polls, status, readings, naps, result] : cases) {
        chip.frames.clear(), sleeps.clear();
        chip.status = status;
        int r = 0;
        const std::string out = Output([&, n = polls] { r = pgm.Wait_WriteBusy(n, 10); });
        EXPECT_EQ(result, r) << polls;
        EXPECT_EQ(readings, chip.frames.size()) << polls;
        EXPECT_EQ(std::vector<unsigned long long>(naps, 10000000ULL), sleeps) << polls;
        EXPECT_EQ(r ? "" : "\nError: Wait_WriteBusy exit by timeout", out);
    }
}

TEST_F(SpiCommands, ReadBlockSendsLow24AddressBitsAndMovesTheReplyDown) {
    pgm.Read_Block(0x1234567, 300);  // 16 MiB + 0x234567
    EXPECT_EQ((std::vector<unsigned char>{0x03, 0x23, 0x45, 0x67}),
              std::vector<unsigned char>(chip.frames[0].begin(), chip.frames[0].begin() + 4));
    EXPECT_EQ(304u, chip.frames[0].size());
    for (int i = 0; i < 300; i++) ASSERT_EQ((0x67 + i) & 0xFF, pgm.io_buf[i]) << i;

    // SFDP reads put a dummy byte between address and data.
    pgm.Read_SFDP(0x000130, 20);
    EXPECT_EQ((std::vector<unsigned char>{0x5A, 0x00, 0x01, 0x30, 0x00}),
              std::vector<unsigned char>(chip.frames[1].begin(), chip.frames[1].begin() + 5));
    EXPECT_EQ(25u, chip.frames[1].size());
    for (int i = 0; i < 20; i++) ASSERT_EQ(~(0x30 + i) & 0xFF, pgm.io_buf[i]) << i;
}

TEST_F(SpiCommands, CheckWriteProtectReadsTheWelBit) {
    chip.status = {0x02, 0xFD};
    EXPECT_EQ("", Output([&] { EXPECT_EQ(0, pgm.Check_WriteProtect()); }));
    EXPECT_EQ("\nError: Disable hardware \"Write protect\" pin!\n",
              Output([&] { EXPECT_EQ(1, pgm.Check_WriteProtect()); }));
}

}  // namespace
