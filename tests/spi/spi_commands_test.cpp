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
// be lost; it keeps the length of the pause after each status reading.
struct TimedChip : FakeChip {
    unsigned long long busy_until_us = 0, now_ns = 0;
    std::vector<unsigned long long> pauses;  // ns slept after each reading
    bool lost = false;
    void WR_BLOCK(unsigned char* buf, long total, long read) override {
        status = {static_cast<unsigned char>(now_ns / 1000 < busy_until_us)};
        pauses.push_back(0);
        FakeChip::WR_BLOCK(buf, total, read);
    }
    int CABLE_LOST() override { return lost; }
    static void Sleep(unsigned long long ns, void* chip) {
        TimedChip* c = static_cast<TimedChip*>(chip);
        c->now_ns += ns;
        if (!c->pauses.empty()) c->pauses.back() += ns;
    }
};

// The wait follows the chip: each pause lasts at least 0.1 ms and at most the caller's pause,
// and at most a 32nd of the time waited before it (or 0.1 ms), so a 0.7 ms page program costs
// under 1 ms of pauses and a 45 ms erase at most a 32nd more; a chip that stays busy is given
// up after the same total pause as before (polls x pause) with one message. A lost cable ends
// the wait at once.
TEST_F(SpiCommands, WaitWriteBusyFollowsTheChipAndGivesUpAtTheSameTotal) {
    TimedChip timed;
    pgm.adapter = &timed;
    delay_set_sink(&TimedChip::Sleep, &timed);
    // polls, pause_ms, busy for (us), lost, result, least and most pause (us)
    const std::tuple<int, int, unsigned long long, bool, int, unsigned long long,
                     unsigned long long>
        cases[] = {
            {200, 20, 0, false, 1, 0, 0},                     // idle: one reading, no pause
            {200, 20, 700, false, 1, 700, 1000},              // page program
            {200, 100, 45000, false, 1, 45000, 46500},        // 4 KiB erase
            {200, 100, 4000000, false, 1, 4000000, 4125000},  // pauses grow to 100 ms
            {3, 10, ~0ULL, false, 0, 30000, 30000},           // never ready: 3 x 10 ms as before
            {200, 100, ~0ULL, false, 0, 20000000, 20000000},
            {0, 10, ~0ULL, false, 0, 0, 0},
            {-1, 10, ~0ULL, false, 0, 0, 0},
            {200, 20, ~0ULL, true, 0, 0, 0},  // the cable has said it is lost
        };
    for (const auto& [polls, pause, busy_us, lost, result, least, most] : cases) {
        SCOPED_TRACE(std::to_string(polls) + " x " + std::to_string(pause) + " ms, busy " +
                     std::to_string(busy_us));
        timed.now_ns = 0, timed.busy_until_us = busy_us, timed.lost = lost;
        timed.frames.clear(), timed.pauses.clear();
        int r = 0;
        const std::string out =
            Output([&, p = polls, ms = pause] { r = pgm.Wait_WriteBusy(p, ms); });
        EXPECT_EQ(result, r);
        EXPECT_GE(timed.now_ns / 1000, least);
        EXPECT_LE(timed.now_ns / 1000, most);
        EXPECT_EQ(r || lost ? "" : "\nError: Wait_WriteBusy exit by timeout", out);
        const size_t readings = timed.frames.size();
        EXPECT_TRUE(!(lost || !busy_us) || readings == (polls > 0 ? 1u : 0u)) << readings;
        unsigned long long waited = 0, longest = 0;
        for (size_t i = 0; i < timed.pauses.size(); ++i) {
            const unsigned long long p = timed.pauses[i];
            if (p == 0) continue;
            EXPECT_LE(p, pause * 1000000ULL) << "pause " << i;
            EXPECT_TRUE(p >= 100000 || i + 1 == timed.pauses.size()) << "pause " << i << ": " << p;
            EXPECT_LE(p, std::max(100000ULL, waited / 32)) << "pause " << i;
            waited += p, longest = std::max(longest, p);
        }
        EXPECT_TRUE(busy_us != 4000000 || longest == 100000000u) << longest;
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
