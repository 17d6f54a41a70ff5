// Host cost of one WR_BLOCK frame on each emulated cable, and how long delay_us(1)
// really sleeps with the default and with the smallest timer slack.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "adapters/altera_lpt.h"
#include "adapters/altera_usb.h"
#include "adapters/d2xx.h"
#include "adapters/delay.h"
#include "emulator/emulated_target.h"
#include "emulator/flash_chip.h"
#include "run/tamrel.h"

namespace {

enum Cable { LPT, USB };
enum Frame { PAGE_PROGRAM, READ };

// Runs f with stdout sent to /dev/null, so the cable's detection lines stay out of the table.
template <typename F>
void Quietly(F f) {
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
    f();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}

CInterface* Open_Cable(Cable c, CEmulatedTarget* target) {
    if (c == USB) {
        D2XX_SetBackend(target->D2xxBackend());
        CALTERAUSB* usb = new CALTERAUSB();
        if (usb->Open() == 1) return usb;
        delete usb;
    } else {
        CALTERALPT* lpt = new CALTERALPT(target->PortAccess());
        if (lpt->Open() == 1) return lpt;
        delete lpt;
    }
    return nullptr;
}

// An emulated W25Q32 behind the chosen cable, powered up; torn down in reverse order.
struct Bench_Target {
    Setup_struct setup;
    CTAMREL* pgm = nullptr;
    CEmulatedTarget* target = nullptr;
    CInterface* cable = nullptr;

    explicit Bench_Target(Cable c) {
        PGM_setup_ini(&setup);
        setup.emulate_name = "W25Q32";
        pgm = new CTAMREL(&setup);
        Quietly([&] {
            target = CEmulatedTarget::Create(pgm);
            if (target) cable = Open_Cable(c, target);
            pgm->adapter = cable;
            pgm->Adapter_ini();
        });
    }
    ~Bench_Target() {
        Quietly([&] {
            delete pgm;  // powers the cable down
            delete cable;
            D2XX_SetBackend(nullptr);
            delete target;
        });
    }
};

void BM_WrBlock(benchmark::State& state, Cable c, Frame f) {
    Bench_Target t(c);
    if (!t.cable) {
        state.SkipWithError("emulated cable did not open");
        return;
    }
    unsigned char frame[260];
    unsigned char wren = 0x06;
    const unsigned char header[4] = {static_cast<unsigned char>(f == READ ? 0x03 : 0x02), 0x01,
                                     0x00, 0x00};
    for (auto _ : state) {
        if (f == PAGE_PROGRAM) {  // let the last program finish, then enable writing
            state.PauseTiming();
            t.target->Chip()->AdvanceTime(1000000);
            wren = 0x06;
            t.cable->WR_BLOCK(&wren, 1, 0);
            state.ResumeTiming();
        }
        memcpy(frame, header, sizeof header);
        memset(frame + 4, f == READ ? 0xFF : 0x5A, 256);
        t.cable->WR_BLOCK(frame, 260, f == READ ? 260 : 0);
        benchmark::DoNotOptimize(frame);
    }
    const uint64_t frames = static_cast<uint64_t>(state.iterations());
    const ChipStats& st = t.target->Chip()->Stats();
    if (f == PAGE_PROGRAM ? st.bytes_programmed != frames * 256 : st.bytes_read != frames * 256)
        state.SkipWithError("the chip did not take every frame");
    state.SetBytesProcessed(static_cast<int64_t>(frames) * 260);
}

BENCHMARK_CAPTURE(BM_WrBlock, lpt_page_program, LPT, PAGE_PROGRAM)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WrBlock, lpt_read, LPT, READ)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WrBlock, usb_page_program, USB, PAGE_PROGRAM)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WrBlock, usb_read, USB, READ)->Unit(benchmark::kMicrosecond);

double NowUs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// Real nanosleep (no emulated target alive, so no clock sink). Timer slack is per thread
// and sticky: set it explicitly for each case and restore the default afterwards.
void BM_DelayUs1(benchmark::State& state, bool min_slack) {
    prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);  // 0 restores the thread's default
    if (min_slack) delay_request_min_slack();
    double slept = 0;
    for (auto _ : state) {
        double t0 = NowUs();
        delay_us(1);
        slept += NowUs() - t0;
    }
    state.counters["sleep_us"] = slept / static_cast<double>(state.iterations());
    state.counters["slack_ns"] = static_cast<double>(prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL));
    prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
}

BENCHMARK_CAPTURE(BM_DelayUs1, default_slack, false)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DelayUs1, min_slack, true)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

// The emulated target finds its chip in flash_db.cfg of the current directory: run in a
// scratch directory holding a one-record database.
int main(int argc, char** argv) {
    char dir[] = "/tmp/tamrel-bench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        perror("wr_block_bench: scratch directory");
        return 1;
    }
    FILE* db = fopen("flash_db.cfg", "w");
    if (!db) {
        perror("wr_block_bench: flash_db.cfg");
        return 1;
    }
    fputs(
        "# one chip for the benchmarks\n"
        "name=W25Q32 mnfid=0xEF jedec=0x4016 page=256 block=4096 sector=0x10000 "
        "volime=0x400000\n",
        db);
    fclose(db);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    unlink("flash_db.cfg");
    if (chdir("/") == 0) rmdir(dir);
    return 0;
}
