// config.cfg over a text served from memory: the cable, the port address and the emulated
// target keys, checked against what the text says.
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/cfg_parser.h"
#include "key_text.h"
#include "memory_files.h"
#include "stage_checks.h"

namespace {

// The line the first `key` begins, from the key on; empty when the text has none.
std::string Line_From(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return "";
    const size_t eol = text.find('\n', at + key.size());
    return text.substr(at, eol == std::string::npos ? std::string::npos : eol + 1 - at);
}

// The word behind the last "key=" of `line` (text up to white space).
std::string Word_After(const std::string& line, const std::string& key) {
    const std::string c_line = line.c_str();
    size_t at = std::string::npos;
    for (size_t from = 0;;) {
        const size_t hit = c_line.find(key + "=", from);
        if (hit == std::string::npos) break;
        at = hit + key.size() + 1;
        from = at;
    }
    if (at == std::string::npos) return "";
    const size_t start = c_line.find_first_not_of(" \t\r\n\v\f", at);
    if (start == std::string::npos) return "";
    return c_line.substr(start, c_line.find_first_of(" \t\r\n\v\f", start) - start);
}

// 1 and the value when `word` is a whole number in [min, max], 0 when it is empty, -1
// otherwise.
int Number(const std::string& word, long long min, long long max, long long* value) {
    if (word.empty()) return 0;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(word.c_str(), &end, 0);
    if (end == word.c_str() || *end != '\0' || errno != 0 || v < min || v > max) return -1;
    *value = v;
    return 1;
}

// Lower case, blanks left out.
std::string Squeezed(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r') out.push_back(static_cast<char>(tolower(c)));
    return out;
}

// The line of an emulate key that begins a line (the first line too); empty when none does.
std::string Line_Start(const std::string& text, const std::string& key) {
    if (text.compare(0, key.size(), key) == 0) return Line_From(text, key);
    const std::string line = Line_From(text, "\n" + key);
    return line.empty() ? "" : line.substr(1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    Memory_File_Set("config.cfg", raw);
    const std::string text = Searched_Text(raw, 0, nullptr);  // comment lines never count
    Setup_struct s;
    CTAMREL pgm(&s);
    Setup_For_Fuzzing(&s, &pgm);
    const int r = CCFGP(&pgm).Parse();

    // What the text asks for, and whether it can be honoured.
    bool refused = false;
    const bool lpt = text.find("port=lpt") != std::string::npos;
    long long port = 0x378;
    if (lpt && Number(Word_After(Line_From(text, "lptaddr"), "lptaddr"), 0, 0xFFFF, &port) < 0)
        refused = true;
    const char* const words[] = {"emulate",       "emulate_image", "emulate_stats",
                                 "emulate_fault", "emulate_sfdp",  "emulate_interrupt_signal",
                                 "emulate_usb",   "emulate_lpt",   "usb_serial",
                                 "usb_path",      "emulate_poke"};
    std::string values[11];
    for (int i = 0; i < 11; i++) {
        const std::string line = Line_Start(text, std::string(words[i]) + "=");
        values[i] = Word_After(line, words[i]);
        if (!line.empty() && values[i].empty()) refused = true;
    }
    const struct {
        const char* key;
        long long min, max;
    } numbers[] = {{"emulate_status", 0, 0xFF},
                   {"emulate_interrupt_after", INT32_MIN, INT32_MAX},
                   {"emulate_drop_after", INT32_MIN, INT32_MAX},
                   {"usb_index", 0, 0xFFFF},
                   {"usb_vid", 1, 0xFFFF},
                   {"usb_pid", 1, 0xFFFF},
                   {"emulate_kill_after", INT32_MIN, INT32_MAX}};
    const std::string codes_line = Line_Start(text, "exit_codes=");
    const std::string codes = Word_After(codes_line, "exit_codes");
    if (!codes_line.empty() && codes != "posix" && codes != "classic") refused = true;
    long long got[7] = {0, 0, 0, -1, 0, 0, 0};
    for (int i = 0; i < 7; i++) {
        const std::string line = Line_Start(text, std::string(numbers[i].key) + "=");
        if (!line.empty() &&
            Number(Word_After(line, numbers[i].key), numbers[i].min, numbers[i].max, &got[i]) != 1)
            refused = true;
    }

    Check(r == (refused ? -1 : 1));
    if (r != 1) return 0;
    Check(s.exit_codes == (codes_line.empty() ? 0 : codes == "posix" ? 2 : 1));
    // A line that looks like a cable setting is named only when no cable is set, and is one.
    const std::string like = Squeezed(s.port_lookalike);
    Check(s.port_lookalike.empty() ||
          (!s.use_lpt && !s.use_usb && raw.find(s.port_lookalike) != std::string::npos &&
           (like.rfind("port=", 0) == 0 || like.rfind("port:", 0) == 0) &&
           like.compare(5, 3, s.port_expected.substr(5)) == 0));
    Check(s.use_lpt == lpt && s.use_usb == (text.find("port=usb") != std::string::npos));
    Check(s.lpt_addr == (lpt ? port : 0));
    const std::string* fields[] = {&s.emulate_name,  &s.emulate_image, &s.emulate_stats,
                                   &s.emulate_fault, &s.emulate_sfdp,  &s.emulate_interrupt_signal,
                                   &s.emulate_usb,   &s.emulate_lpt,   &s.usb_serial,
                                   &s.usb_path,      &s.emulate_poke};
    for (int i = 0; i < 11; i++) Check(*fields[i] == values[i]);
    Check(s.emulate_status == got[0] && s.emulate_interrupt_after == (got[1] > 0 ? got[1] : 0) &&
          s.emulate_drop_after == (got[2] > 0 ? got[2] : 0));
    Check(s.has_usb_index == (got[3] >= 0) && (got[3] < 0 || s.usb_index == got[3]) &&
          s.usb_vid == got[4] && s.usb_pid == got[5] &&
          s.emulate_kill_after == (got[6] > 0 ? got[6] : 0));
    return 0;
}
