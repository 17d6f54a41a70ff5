// Host cost of one WR_BLOCK frame on each emulated cable; how long delay_us really waits;
// and the real time a ByteBlaster takes per bit, with real delays, on a port whose accesses
// cost what a ppdev ioctl costs, against the time the emulator models for it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
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
        if (f == PAGE_PROGRAM) {
            wren = 0x06;
            t.cable->WR_BLOCK(&wren, 1, 0);
        }
        memcpy(frame, header, sizeof header);
        memset(frame + 4, f == READ ? 0xFF : 0x5A, 256);
        t.cable->WR_BLOCK(frame, 260, f == READ ? 260 : 0);
        // Frames that do not read may still be in flight: the wait lets them reach the chip
        // (and the program end) on its clock, and counts the host's work for them.
        if (f == PAGE_PROGRAM) delay_ms(2);
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

// Real delays (no emulated target alive, so no clock sink), with the timer slack the tool
// asks for. Below kDelaySpinBelowUs the delay spins; from it on it sleeps.
void BM_DelayUs(benchmark::State& state) {
    const unsigned us = static_cast<unsigned>(state.range(0));
    delay_request_min_slack();
    double waited = 0;
    for (auto _ : state) {
        double t0 = NowUs();
        delay_us(us);
        waited += NowUs() - t0;
    }
    state.counters["real_us"] = waited / static_cast<double>(state.iterations());
    prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);  // 0 restores the thread's default
}

BENCHMARK(BM_DelayUs)
    ->Arg(1)
    ->Arg(2)
    ->Arg(10)
    ->Arg(99)
    ->Arg(100)
    ->Arg(200)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// A parallel port whose every access costs what a ppdev ioctl does: a system call, lasting
// at least the 1 us of port I/O on the bus. Data and status are plain registers.
class SlowPort : public CPortAccess {
public:
    long accesses = 0;
    double inside_us = 0;  // time spent in the accesses
    int open(const char*, int) override { return 3; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long, void* arg) override {
        const double t0 = NowUs();
        ++accesses;
        syscall(SYS_getppid);
        if (arg) *static_cast<volatile unsigned char*>(arg) = 0;
        double t = NowUs();
        while (t - t0 < 1.0) t = NowUs();
        inside_us += t - t0;
        return 0;
    }
};

// One 260-byte read frame: real wall time per bit and port accesses per bit, against the
// modeled time per bit of the same frame on the emulated ByteBlaster.
void BM_ByteBlasterBit(benchmark::State& state) {
    double modeled_ns = 0;
    {
        Bench_Target t(LPT);
        if (!t.cable) {
            state.SkipWithError("emulated cable did not open");
            return;
        }
        unsigned char frame[260] = {0x03};
        const uint64_t t0 = t.target->Chip()->Now();
        t.cable->WR_BLOCK(frame, 260, 256);
        modeled_ns = static_cast<double>(t.target->Chip()->Now() - t0);
    }
    SlowPort port;
    CALTERALPT lpt(&port);
    Quietly([&] { lpt.Open(); });
    delay_request_min_slack();
    unsigned char frame[260];
    long accesses = 0;
    double wall = 0, inside = 0;
    for (auto _ : state) {
        memset(frame, 0x5A, sizeof frame);
        const long a0 = port.accesses;
        const double i0 = port.inside_us;
        const double t0 = NowUs();
        lpt.WR_BLOCK(frame, 260, 256);
        wall += NowUs() - t0;
        accesses += port.accesses - a0;
        inside += port.inside_us - i0;
    }
    prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    const double bits = 260.0 * 8 * static_cast<double>(state.iterations());
    state.counters["real_ns_per_bit"] = wall * 1000 / bits;
    state.counters["accesses_per_bit"] = static_cast<double>(accesses) / bits;
    state.counters["modeled_ns_per_bit"] = modeled_ns / (260.0 * 8);
    state.counters["real_per_modeled"] = wall * 1000 / bits / (modeled_ns / (260.0 * 8));
    // What an access really cost here, and the tool's own time per bit beyond its accesses.
    state.counters["access_ns"] = inside * 1000 / static_cast<double>(accesses);
    state.counters["own_ns_per_bit"] = (wall - inside) * 1000 / bits;
}

BENCHMARK(BM_ByteBlasterBit)->UseRealTime()->Unit(benchmark::kMicrosecond);

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
