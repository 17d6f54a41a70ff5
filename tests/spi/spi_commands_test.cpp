#include "adapters/delay.h"
#include "chipdb/fake_chip.h"

namespace {

class SpiCommands : public ChipTest {
protected:
    void TearDown() override {
        delay_set_sink(nullptr, nullptr);
        ChipTest::TearDown();
    }
};

// A chip busy until a time on the delay clock (the sum of the pauses), behind a cable that may
// be lost.
struct TimedChip : FakeChip {
    unsigned long long busy_until_us = 0, *now_ns = nullptr;
    bool lost = false;
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        status = {static_cast<unsigned char>(*now_ns / 1000 < busy_until_us)};
        FakeChip::WR_BLOCK(buf, total, read);
    }
    int CABLE_LOST() override { return lost; }
};

// The wait follows the chip: a 0.7 ms page program costs under 1 ms of pauses and a 45 ms
// erase at most an eighth more, while a chip that stays busy is given up after the same total
// pause as before (polls x pause) with one message. A lost cable ends the wait at once.
TEST_F(SpiCommands, WaitWriteBusyFollowsTheChipAndGivesUpAtTheSameTotal) {
    TimedChip timed;
    unsigned long long now_ns = 0;
    timed.now_ns = &now_ns;
    pgm.adapter = &timed;
    delay_set_sink(
        [](unsigned long long ns, void* n) { *static_cast<unsigned long long*>(n) += ns; },
        &now_ns);
    // polls, pause_ms, busy for (us), lost, result, least and most pause (us)
    const std::tuple<int, int, unsigned long long, bool, int, unsigned long long,
                     unsigned long long>
        cases[] = {
            {200, 20, 0, false, 1, 0, 0},               // idle: one reading, no pause
            {200, 20, 700, false, 1, 700, 1000},        // page program
            {200, 100, 45000, false, 1, 45000, 50625},  // 4 KiB erase
            {3, 10, ~0ULL, false, 0, 30000, 30000},     // never ready: 3 x 10 ms as before
            {200, 100, ~0ULL, false, 0, 20000000, 20000000},
            {0, 10, ~0ULL, false, 0, 0, 0},
            {-1, 10, ~0ULL, false, 0, 0, 0},
            {200, 20, ~0ULL, true, 0, 0, 0},  // the cable has said it is lost
        };
    for (const auto& [polls, pause, busy_us, lost, result, least, most] : cases) {
        SCOPED_TRACE(std::to_string(polls) + " x " + std::to_string(pause) + " ms, busy " +
                     std::to_string(busy_us));
        now_ns = 0, timed.busy_until_us = busy_us, timed.lost = lost, timed.frames.clear();
        int r = 0;
        const std::string out =
            Output([&, p = polls, ms = pause] { r = pgm.Wait_WriteBusy(p, ms); });
        EXPECT_EQ(result, r);
        EXPECT_GE(now_ns / 1000, least);
        EXPECT_LE(now_ns / 1000, most);
        EXPECT_EQ(r || lost ? "" : "\nError: Wait_WriteBusy exit by timeout", out);
        const size_t readings = timed.frames.size();
        EXPECT_TRUE(!(lost || !busy_us) || readings == (polls > 0 ? 1u : 0u)) << readings;
    }
    pgm.adapter = &chip;
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
