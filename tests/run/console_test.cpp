#include "run/console.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Writes `pieces` with a terminal as standard output: "P:series:text" through Print_Progress,
// anything else with printf. Gives the bytes the terminal received.
std::string OnTerminal(const std::vector<std::string>& pieces) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        struct termios t;
        tcgetattr(STDOUT_FILENO, &t);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(STDOUT_FILENO, TCSANOW, &t);
        Console_Start();
        for (const std::string& p : pieces) {
            const size_t colon = p.find(':', 2);
            if (p.rfind("P:", 0) == 0)
                Print_Progress(p.substr(2, colon - 2).c_str(), "%s", p.c_str() + colon + 1);
            else
                printf("%s", p.c_str());
        }
        _exit(0);
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) out.append(buf, n);
    close(master);
    waitpid(pid, nullptr, 0);
    return out;
}

// A progress line gives way only to the next line of its own series.
TEST(Console, TerminalLinesAreNeverWrittenOver) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"P:a:a 1\r", "P:a:a 2\r", "\ndone"}, "a 1\ra 2\r\ndone"},
        {{"P:a:a 1\r", "P:b:b 1\r", "P:b:b 2\r"}, "a 1\r\nb 1\rb 2\r"},
        {{"\nErase done", "P:r:r 1\r"}, "\nErase done\nr 1\r"},
        {{"P:a:a 1\r", "Error: full\n"}, "a 1\r\nError: full\n"},
        {{"\n", "P:e:\re 1", "P:e:\re 2", " late", "P:e:\re 3"}, "\n\re 1\re 2 late\n\re 3"},
    };
    for (const auto& [pieces, expect] : cases) EXPECT_EQ(expect, OnTerminal(pieces)) << pieces[1];
}

}  // namespace
