#include <unistd.h>

#include <csignal>

#include "chip_bench.h"

namespace {

using ReadOps = ChipBench;

TEST_F(ReadOps, InterruptedDumpLeavesNoPartialFile) {
    // One name per process, so that parallel test runs don't collide.
    setup.dump_name = testing::TempDir() + "dump_" + std::to_string(getpid()) + ".bin";
    chip.SetFrameHook(
        [](void* c) {
            if (static_cast<CFlashChip*>(c)->Stats().frames == 2) raise(SIGINT);
        },
        &chip);
    Out([&] { return pgm.FLASH_Dump(); });
    EXPECT_EQ(-1, r);
    EXPECT_EQ(2u, chip.Stats().frames);  // stopped before the next chunk
    EXPECT_NE(0, access(setup.dump_name.c_str(), F_OK));
    remove(setup.dump_name.c_str());
}

}  // namespace
