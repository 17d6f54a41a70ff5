#include "run/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "adapters/delay.h"
#include "run/console.h"

namespace {

const unsigned long long kDrawEveryNs = 100000000ULL;  // at most ten lines a second
const unsigned kColumnsUnknown = 80;
// The rate of a step's first second says little of the rest (the first unit erase is sent
// but not yet waited for): it is shown from then on, or once the step is done, and until
// then a step of the plan shows its typical time left.
const double kRateAfterS = 1.0;

// The terminal's name of each series (the label its piped line starts with).
struct SeriesName {
    const char* series;
    const char* name;
};
const SeriesName kNames[] = {
    {"Write data:", "Write"},
    {"Verify data:", "Verify"},
    {"Reading dump:", "Dump"},
    {"Restore data Head:", "Restore head"},
    {"Restore Sector Tail:", "Restore tail"},
    {"Erase", "Erase"},
    {"Chip erase", "Chip erase"},
};

std::string Name_Of(const char* series) {
    for (const SeriesName& n : kNames)
        if (strncmp(series, n.series, strlen(n.series)) == 0) return n.name;
    std::string name = series;
    while (!name.empty() && strchr(":\t ", name.back()) != nullptr) name.pop_back();
    return name;
}

// The line being drawn: one step, or the wait for the chip.
struct Line {
    std::string name;
    unsigned long long start_ns = 0;
    ProgressCount count = {0, 0, 0};
    double typical_s = 0;  // > 0: a wait
    bool pending = false;  // figures not drawn yet
    size_t drawn = 0;      // length of the text last drawn, so that a shorter one covers it
};

struct Progress {
    bool open = false;  // updates of the line's series go on its line
    bool waiting = false;
    Line line;
    unsigned long long last_event_ns = 0;  // last text or update: where the next step starts
    bool drawn_any = false;
    unsigned long long last_draw_ns = 0;
    std::vector<ProgressPlanStep> plan;
    int phase = -1;         // the step of the plan under way
    double phase_left = 0;  // its time left when last seen
};

Progress g;

unsigned Columns() {
    struct winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return kColumnsUnknown;
}

double Line_Left(const Line& l, double elapsed) {
    if (l.typical_s > 0) return l.typical_s > elapsed ? l.typical_s - elapsed : 0;
    if (l.count.done >= l.count.total) return 0;
    if (l.count.done == 0 || elapsed < kRateAfterS) return -1;
    return elapsed * static_cast<double>(l.count.total - l.count.done) / l.count.done;
}

// What the planned steps have left: the line's own step (or the one under way when the line
// is no step of the plan, such as a restore) and the steps after it. -1 without a sequence.
double All_Left(double* line_left) {
    if (g.plan.size() < 2) return -1;
    int step = -1;
    for (int i = g.phase < 0 ? 0 : g.phase; i < static_cast<int>(g.plan.size()); i++)
        if (Name_Of(g.plan[i].series) == g.line.name) {
            step = i;
            break;
        }
    double all = *line_left > 0 ? *line_left : 0;
    if (step >= 0) {
        if (*line_left < 0) {  // no rate yet: the step's typical time
            const double part = g.line.count.total == 0
                                    ? 0
                                    : static_cast<double>(g.line.count.done) / g.line.count.total;
            *line_left = g.plan[step].seconds * (1 - part);
            all = *line_left;
        }
        g.phase = step;
        g.phase_left = all;
    } else if (g.phase >= 0) {
        all += g.phase_left;
    }
    for (size_t i = g.phase + 1; i < g.plan.size(); i++) all += g.plan[i].seconds;
    return all;
}

void Draw(unsigned long long now) {
    Line& l = g.line;
    const double elapsed = static_cast<double>(now - l.start_ns) / 1e9;
    const bool measured = elapsed >= kRateAfterS || l.count.done >= l.count.total;
    const double rate = measured && elapsed > 0 ? l.count.done / elapsed : -1;
    double left = Line_Left(l, elapsed);
    const double all = All_Left(&left);
    const ProgressFigures f = {l.name, l.count.done, l.count.total,  elapsed, rate,
                               left,   l.typical_s,  l.count.errors, all};
    std::string text = Progress_Text(f, Columns());
    const size_t length = text.size();
    if (length < l.drawn) text.append(l.drawn - length, ' ');
    l.drawn = length;
    text += '\r';
    Console_Progress(l.name.c_str(), text);
    l.pending = false;
    g.drawn_any = true;
    g.last_draw_ns = now;
}

bool Due(unsigned long long now) {
    return !g.drawn_any || now < g.last_draw_ns || now - g.last_draw_ns >= kDrawEveryNs;
}

// A line for `name` from here on; the last figures of the one before are drawn first.
void Open(const std::string& name, unsigned long long now, double typical_s) {
    if (g.open && g.line.pending) Draw(now);
    g.line = Line();
    g.line.name = name;
    g.line.start_ns = typical_s > 0 || g.last_event_ns > now ? now : g.last_event_ns;
    g.line.typical_s = typical_s;
    g.open = true;
    g.waiting = typical_s > 0;
}

// Whole seconds as m:ss, or h:mm:ss from an hour on.
std::string Time_Text(double seconds, bool round_up) {
    if (seconds < 0) return "--:--";
    const unsigned long s =
        static_cast<unsigned long>(round_up ? std::ceil(seconds - 1e-9) : std::floor(seconds));
    char text[32];
    if (s < 3600)
        snprintf(text, sizeof text, "%lu:%02lu", s / 60, s % 60);
    else
        snprintf(text, sizeof text, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// A value cut (never rounded up) to one decimal.
double Tenths(double v) {
    return std::floor(v * 10 + 1e-9) / 10;
}

std::string Size_Text(unsigned long long done, unsigned long long total) {
    char text[64];
    if (total < 10240)
        snprintf(text, sizeof text, "%llu/%llu B", done, total);
    else if (total < 10ULL << 20)
        snprintf(text, sizeof text, "%.1f/%.1f KiB", Tenths(done / 1024.0), Tenths(total / 1024.0));
    else
        snprintf(text, sizeof text, "%.1f/%.1f MiB", Tenths(done / 1048576.0),
                 Tenths(total / 1048576.0));
    return text;
}

std::string Rate_Text(double bytes_per_s) {
    char text[32];
    if (bytes_per_s < 10240)
        snprintf(text, sizeof text, "%.0f B/s", std::floor(bytes_per_s));
    else if (bytes_per_s < 10.0 * 1048576)
        snprintf(text, sizeof text, "%.1f KiB/s", Tenths(bytes_per_s / 1024));
    else
        snprintf(text, sizeof text, "%.1f MiB/s", Tenths(bytes_per_s / 1048576));
    return text;
}

}  // namespace

std::string Progress_Text(const ProgressFigures& f, unsigned width) {
    const std::string all =
        f.all_left_s < 0 ? "" : ", all " + Time_Text(f.all_left_s, true) + " left";
    std::string head = f.name, rate, tail;
    if (f.typical_s > 0) {
        tail = ", " + Time_Text(f.elapsed_s, false) + " elapsed, typically " +
               Time_Text(f.typical_s, true);
    } else {
        head += " " + Size_Text(f.done, f.total);
        if (f.rate >= 0) rate = ", " + Rate_Text(f.rate);
        tail = ", " + Time_Text(f.elapsed_s, false) + " elapsed, " + Time_Text(f.left_s, true) +
               " left";
        if (f.errors > 0) tail += ", " + std::to_string(f.errors) + " differ";
    }
    const size_t room = width > 1 ? width - 1 : 0;  // the last column would wrap the line
    std::string text = head + rate + tail + all;
    if (text.size() > room) text = head + rate + tail;
    if (text.size() > room) text = head + tail;
    if (text.size() > room) text.resize(room);
    return text;
}

void Progress_Plan(const ProgressPlanStep* steps, int n) {
    g.plan.assign(steps, steps + (n > 0 ? n : 0));
    g.phase = -1;
    g.phase_left = 0;
}

void Progress_Update(const char* series, const ProgressCount& count) {
    const unsigned long long now = delay_now_ns();
    const std::string name = Name_Of(series);
    if (!g.open || g.waiting || name != g.line.name) Open(name, now, 0);
    g.line.count = count;
    g.line.pending = true;
    g.last_event_ns = now;
    if (Due(now) || count.done >= count.total) Draw(now);
}

void Progress_Wait_Begin(const char* series, double typical_s) {
    if (!Console_Is_Terminal()) return;
    const unsigned long long now = delay_now_ns();
    Open(Name_Of(series), now, typical_s > 0 ? typical_s : 1e-9);
    g.line.pending = true;
    if (Due(now)) Draw(now);
}

void Progress_Tick() {
    if (!g.waiting) return;
    const unsigned long long now = delay_now_ns();
    if (Due(now)) Draw(now);
}

void Progress_Wait_End() {
    if (!g.waiting) return;
    g.waiting = false;
    const unsigned long long now = delay_now_ns();
    g.last_event_ns = now;
    Draw(now);
}

void Progress_Before_Text() {
    const unsigned long long now = delay_now_ns();
    if (g.open && g.line.pending) Draw(now);
    g.open = false;
    g.waiting = false;
    g.last_event_ns = now;
}
