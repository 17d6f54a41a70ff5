#include "run/console.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "adapters/delay.h"

namespace {

// Runs `write` with a terminal as standard output; gives the bytes the terminal received.
std::string OnTerminal(const std::function<void()>& write) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        struct termios t;
        tcgetattr(STDOUT_FILENO, &t);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(STDOUT_FILENO, TCSANOW, &t);
        Console_Start();
        write();
        _exit(0);
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) out.append(buf, n);
    close(master);
    waitpid(pid, nullptr, 0);
    return out;
}

// A progress line gives way only to the next line of its own series. Pieces "P:series:text"
// are progress lines, anything else other text.
TEST(Console, TerminalLinesAreNeverWrittenOver) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"P:a:a 1\r", "P:a:a 2\r", "\ndone"}, "a 1\ra 2\r\ndone"},
        {{"P:a:a 1\r", "P:b:b 1\r", "P:b:b 2\r"}, "a 1\r\nb 1\rb 2\r"},
        {{"\nErase done", "P:r:r 1\r"}, "\nErase done\nr 1\r"},
        {{"P:a:a 1\r", "Error: full\n"}, "a 1\r\nError: full\n"},
        {{"\n", "P:e:\re 1", "P:e:\re 2", " late", "P:e:\re 3"}, "\n\re 1\re 2 late\n\re 3"},
    };
    for (const auto& [pieces, expect] : cases) {
        const std::string out = OnTerminal([&pieces = pieces] {
            for (const std::string& p : pieces) {
                const size_t colon = p.find(':', 2);
                if (p.rfind("P:", 0) == 0)
                    Console_Progress(p.substr(2, colon - 2).c_str(), p.substr(colon + 1));
                else
                    printf("%s", p.c_str());
            }
        });
        EXPECT_EQ(expect, out) << pieces[1];
    }
}

// Sizes in bytes below 10 KiB, KiB below 10 MiB, then MiB, cut to a tenth; the rate likewise;
// m:ss and h:mm:ss, time left rounded up; what does not fit the width is left out.
TEST(Console, ProgressLineFigures) {
    const unsigned long long kMiB = 1048576;
    const std::pair<ProgressFigures, unsigned> figures[] = {
        {{"Write", 12582912, 33554432, 432, 12582912 / 432.0, 735, 0, 0, 1290}, 80},
        {{"Write", 12582912, 33554432, 432, 12582912 / 432.0, 735, 0, 0, 1290}, 60},
        {{"Write", 12582912, 33554432, 432, 12582912 / 432.0, 735, 0, 0, 1290}, 50},
        {{"Write", 12582912, 33554432, 432, 12582912 / 432.0, 735, 0, 0, 1290}, 30},
        {{"Chip erase", 0, 0, 12.7, -1, 19.3, 32, 0, 95.2}, 80},
        {{"Verify", 256, 8064, 0.5, -1, -1, 0, 3, -1}, 80},
        {{"Dump", 1572864, 4194304, 3725, 1572864 / 3725.0, 6208.1, 0, 0, -1}, 80},
        {{"Dump", 20 * kMiB, 64 * kMiB, 1.6, 20.0 * kMiB / 1.6, 3.52, 0, 0, -1}, 80},
    };
    const char* const expect[] = {
        "Write 12.0/32.0 MiB, 28.4 KiB/s, 7:12 elapsed, 12:15 left, all 21:30 left",
        "Write 12.0/32.0 MiB, 28.4 KiB/s, 7:12 elapsed, 12:15 left",
        "Write 12.0/32.0 MiB, 7:12 elapsed, 12:15 left",
        "Write 12.0/32.0 MiB, 7:12 ela",
        "Chip erase, 0:12 elapsed, typically 0:32, all 1:36 left",
        "Verify 256/8064 B, 0:00 elapsed, --:-- left, 3 differ",
        "Dump 1536.0/4096.0 KiB, 422 B/s, 1:02:05 elapsed, 1:43:29 left",
        "Dump 20.0/64.0 MiB, 12.5 MiB/s, 0:01 elapsed, 0:04 left",
    };
    for (size_t i = 0; i < std::size(figures); i++)
        EXPECT_EQ(expect[i], Progress_Text(figures[i].first, figures[i].second));
}

unsigned long long g_now_ns = 0;

// Steps drawn on the clock of the delays: at most one line per 100 ms but each step's last,
// a step timed from the text before it, its rate and time left measured after its first
// second (the plan's typical time until then), what the sequence has left, a shorter line
// covering a longer one, and a wait for the chip against its typical time.
TEST(Console, ProgressOnTheClockOfTheDelays) {
    const auto at = [](unsigned ms) { g_now_ns = ms * 1000000ULL; };
    const std::string out = OnTerminal([&] {
        delay_set_sink([](unsigned long long, void*) {}, nullptr, [](void*) { return g_now_ns; });
        const ProgressPlanStep plan[] = {{"Erase", 2.0}, {"Verify data:", 1.0}};
        Progress_Plan(plan, 2);
        at(0), Print_Progress("Erase", {4096, 8192, 0}, "piped");
        at(50), Print_Progress("Erase", {6144, 8192, 0}, "piped");
        at(120), Print_Progress("Erase", {8192, 8192, 0}, "piped");
        at(130), printf("\nErase done");
        at(250), Print_Progress("Verify data:", {100, 1000, 0}, "piped");
        for (unsigned k = 0; k < 100; k++)
            at(260 + 10 * k), Print_Progress("Verify data:", {109 + 9 * k, 1000, 0}, "piped");
        at(1300), printf("\nVerify OK");
        Progress_Plan(nullptr, 0);
        at(2300), Print_Progress("Reading dump:", {1, 4096, 0}, "piped");
        at(2400), Print_Progress("Reading dump:", {2, 4096, 0}, "piped");
        at(3000), Progress_Wait_Begin("Chip erase", 4.0);
        at(3050), Progress_Tick();
        at(4000), Progress_Tick();
        at(7500), Progress_Wait_End();
        printf("\nErase done");
    });
    std::string verify;
    for (int done : {190, 280, 370, 460, 550, 640, 730, 820})
        verify +=
            "Verify " + std::to_string(done) + "/1000 B, 0:00 elapsed, 0:01 left, all 0:01 left\r";
    EXPECT_EQ(
        "Erase 4096/8192 B, 0:00 elapsed, 0:01 left, all 0:02 left\r"
        "Erase 8192/8192 B, 66.6 KiB/s, 0:00 elapsed, 0:00 left, all 0:01 left\r"
        "\nErase done"
        "\nVerify 100/1000 B, 0:00 elapsed, 0:01 left, all 0:01 left\r" +
            verify +
            "Verify 910/1000 B, 892 B/s, 0:01 elapsed, 0:01 left, all 0:01 left\r"
            "Verify 1000/1000 B, 892 B/s, 0:01 elapsed, 0:00 left, all 0:00 left\r"
            "\nVerify OK"
            "\nDump 1/4096 B, 1 B/s, 0:01 elapsed, 1:08:15 left\r"
            "Dump 2/4096 B, 1 B/s, 0:01 elapsed, 37:32 left  \r"
            "\nChip erase, 0:00 elapsed, typically 0:04\r"
            "Chip erase, 0:01 elapsed, typically 0:04\r"
            "Chip erase, 0:04 elapsed, typically 0:04\r"
            "\nErase done",
        out);
}

}  // namespace
