#include "run/console.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "fileutil/file_utils.h"
#include "run/progress.h"

const char* const TAMREL_CONTACT = "tamrel-maintainers@example.org";

namespace {

// What the terminal's current line holds, so that no line is written over another one:
// a progress line of `series`, or other text; `last` is the last byte sent ('\n': the
// cursor is on a fresh line, '\r': back at the start of the line).
struct TerminalLine {
    char last = '\n';
    std::string series;
    bool progress = false;
};

TerminalLine g_line;
const char* g_writing = nullptr;  // series of the progress text being written, if any

// A progress line is overwritten by the next one of its own series only. Other text that
// would land on it, and a progress line that would land on other text, start a new line.
bool Needs_Newline(const char* text, size_t n) {
    if (n == 0 || text[0] == '\n' || g_line.last == '\n') return false;
    if (g_writing != nullptr) return !g_line.progress || g_line.series != g_writing;
    return g_line.progress && g_line.last == '\r';
}

void Note_Written(const char* text, size_t n) {
    const void* nl = memrchr(text, '\n', n);
    const size_t after = nl ? n - 1 - static_cast<size_t>(static_cast<const char*>(nl) - text) : n;
    if (nl || after > 0) {
        g_line.progress = after > 0 && g_writing != nullptr;
        g_line.series = g_line.progress ? g_writing : "";
    }
    g_line.last = text[n - 1];
}

// Writes straight to the terminal, `series` naming a progress line (null: other text).
bool Terminal_Put(const char* buf, size_t n, const char* series) {
    if (n == 0) return true;
    g_writing = series;
    bool ok = true;
    if (Needs_Newline(buf, n)) {
        ok = Write_All(STDOUT_FILENO, "\n", 1);
        g_line = TerminalLine();
    }
    ok = ok && Write_All(STDOUT_FILENO, buf, n);
    if (ok) Note_Written(buf, n);
    g_writing = nullptr;
    return ok;
}

bool g_terminal = false;

ssize_t Terminal_Write(void*, const char* buf, size_t n) {
    if (n == 0) return 0;
    Progress_Before_Text();
    return Terminal_Put(buf, n, nullptr) ? static_cast<ssize_t>(n) : -1;
}

}  // namespace

void Console_Start() {
    if (!isatty(STDOUT_FILENO)) return;
    cookie_io_functions_t io = {nullptr, &Terminal_Write, nullptr, nullptr};
    FILE* terminal = fopencookie(nullptr, "w", io);
    if (terminal == nullptr) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        return;
    }
    fflush(stdout);
    setvbuf(terminal, nullptr, _IONBF, 0);  // progress lines show as they come
    stdout = terminal;
    g_terminal = true;
}

bool Console_Is_Terminal() {
    return g_terminal;
}

void SetColor(int, int) {}

void Print_Progress(const char* series, const ProgressCount& count, const char* format, ...) {
    if (g_terminal) return Progress_Update(series, count);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

void Console_Progress(const char* series, const std::string& text) {
    Terminal_Put(text.data(), text.size(), series);
}

int _trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    return fflush(stdout);
}
