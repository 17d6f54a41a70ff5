#include "config/cfg_parser.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/file_search.h"
#include "config/number.h"
#include "run/exit_codes.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

const uint16_t LPT_ADDR_DEFAULT = 0x378;

}  // namespace

int CCFGP::Find_Line(const char* key, std::string* line) {
    int result = 0;
    pgm->key_pos = 0;
    pgm->Get_keyString(Config_File_Path(pgm->setup, CONFIG_CFG), line, key, result);
    return result;
}

// The emulate keys count only where they begin a line, the file's first line included, so
// that a commented-out one never replaces a real cable.
int CCFGP::Find_Line_Start(const std::string& key, std::string* line) {
    int result = Find_Line(key.c_str(), nullptr);
    if (result != 1) return result;
    if (pgm->key_pos == key.size()) return Find_Line(key.c_str(), line);
    return Find_Line(("\n" + key).c_str(), line);
}

// The number behind the last `key`= of `line`: 1 when the word there is a whole number (the
// "%li" rules) in [min, max], 0 when there is no word, -1 after an error line otherwise.
int CCFGP::Read_Value(const std::string& line, const char* key, long long min, long long max,
                      long long* value) {
    int status = 0;
    const std::string word = pgm->Get_env_txt(line.c_str(), key, &status);
    if (word.empty()) return 0;
    const char* end = nullptr;
    const NumberRead r = Read_Number_In(word.c_str(), min, max, value, &end);
    if (r == NUMBER_OK && *end == '\0') return 1;
    const char* path = Config_File_Path(pgm->setup, CONFIG_CFG);
    if (r == NUMBER_OUT_OF_RANGE)
        printf("\nError: %s: %s=%s is out of range (%lld to %lld)\n", path, key, word.c_str(), min,
               max);
    else
        printf(
            "\nError: %s: %s=%s: expected %s=N with N a whole number (decimal, 0x hex or 0 "
            "octal)\n",
            path, key, word.c_str(), key);
    return -1;
}

// exit_codes= at the start of a line: 1 when absent or known, -1 after an error line.
int CCFGP::Parse_Exit_Codes() {
    std::string line;
    const int found = Find_Line_Start("exit_codes=", &line);
    if (found != 1) return found == -1 ? -1 : 1;
    int status = 0;
    const std::string word = pgm->Get_env_txt(line.c_str(), "exit_codes", &status);
    const ExitCodes codes = Exit_Codes_Named(word);
    if (codes == EXIT_CODES_UNSET) {
        printf("\nError: %s: exit_codes=%s: expected exit_codes=posix or exit_codes=classic\n",
               Config_File_Path(pgm->setup, CONFIG_CFG), word.c_str());
        return -1;
    }
    pgm->setup->exit_codes = static_cast<uint8_t>(codes);
    return 1;
}

// A line that names a cable the way a person might write it ("port = usb", "Port=USB",
// "port: lpt") but that the exact search does not take: kept for the message that no cable
// is set. Comment lines are left out.
void CCFGP::Find_Port_Lookalike() {
    FILE* f = pgm->Key_File_Open(Config_File_Path(pgm->setup, CONFIG_CFG));
    if (f == nullptr) return;
    std::string line;
    for (int c = 0; c != EOF && pgm->setup->port_lookalike.empty() && !Interrupt_Pending();) {
        line.clear();
        while ((c = getc_unlocked(f)) != EOF && c != '\n')
            if (line.size() < 80) line.push_back(static_cast<char>(c));
        Port_Lookalike(line);
    }
    fclose(f);
}

void CCFGP::Port_Lookalike(const std::string& line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    const auto word_at = [&](size_t at, const char* word) {
        for (size_t i = 0; word[i] != '\0'; i++)
            if (at + i >= line.size() ||
                tolower(static_cast<unsigned char>(line[at + i])) != word[i])
                return false;
        return true;
    };
    size_t at = 0;
    while (at < line.size() && blank(line[at])) at++;
    if (!word_at(at, "port")) return;
    at += 4;
    while (at < line.size() && blank(line[at])) at++;
    if (at >= line.size() || (line[at] != '=' && line[at] != ':')) return;
    at++;
    while (at < line.size() && blank(line[at])) at++;
    for (const char* cable : {"lpt", "usb"}) {
        if (!word_at(at, cable)) continue;
        size_t end = line.size();
        while (end > 0 && blank(line[end - 1])) end--;
        size_t first = 0;
        while (first < end && blank(line[first])) first++;
        pgm->setup->port_lookalike = line.substr(first, end - first);
        pgm->setup->port_expected = std::string("port=") + cable;
        return;
    }
}

int CCFGP::Parse() {
    Setup_struct* s = pgm->setup;

    if (Parse_Exit_Codes() != 1) return -1;
    int result = Find_Line("port=lpt", nullptr);
    if (result == -1) return -1;
    if (result == 1) {
        std::string line;
        int found = Find_Line("lptaddr", &line);
        if (found == -1) return -1;
        s->use_lpt = 1;
        s->lpt_addr = LPT_ADDR_DEFAULT;
        long long v = 0;
        const int read = found == 1 ? Read_Value(line, "lptaddr", 0, 0xFFFF, &v) : 0;
        if (read == -1) return -1;
        if (read == 1) s->lpt_addr = static_cast<uint16_t>(v);
    }
    result = Find_Line("port=usb", nullptr);
    if (result == -1) return -1;
    if (result == 1) s->use_usb = 1;
    if (!s->use_lpt && !s->use_usb) Find_Port_Lookalike();
    // usb_async=0 keeps the USB-Blaster to one transfer at a time.
    std::string line;
    result = Find_Line_Start("usb_async=", &line);
    if (result == -1) return -1;
    if (result == 1) {
        long long v = 0;
        const int read = Read_Value(line, "usb_async", 0, 1, &v);
        if (read == -1) return -1;
        if (read == 0) {
            printf("\nError: %s: no usable value for usb_async=\n",
                   Config_File_Path(s, CONFIG_CFG));
            return -1;
        }
        s->usb_async = static_cast<uint8_t>(v);
    }

    return Parse_Emulation();
}

// Emulated target and USB-Blaster choice keys. A key that is present must carry a value: a
// target or cable that was asked for but cannot be had must not be replaced silently.
int CCFGP::Parse_Emulation() {
    Setup_struct* s = pgm->setup;
    const char* path = Config_File_Path(s, CONFIG_CFG);
    struct WordKey {
        const char* key;
        std::string* field;
    };
    // One key a row.
    // clang-format off
    const WordKey words[] = {
        {"emulate", &s->emulate_name},
        {"emulate_image", &s->emulate_image},
        {"emulate_stats", &s->emulate_stats},
        {"emulate_fault", &s->emulate_fault},
        {"emulate_sfdp", &s->emulate_sfdp},  // chip id, optionally ",FILE" of SFDP bytes
        {"emulate_interrupt_signal", &s->emulate_interrupt_signal},
        {"emulate_poke", &s->emulate_poke},
        {"emulate_usb", &s->emulate_usb},
        {"emulate_lpt", &s->emulate_lpt},
        {"usb_serial", &s->usb_serial},
        {"usb_path", &s->usb_path},
    };
    // clang-format on
    for (const WordKey& w : words) {
        std::string line;
        const int found = Find_Line_Start(std::string(w.key) + "=", &line);
        if (found == -1) return -1;
        if (found != 1) continue;
        int status = 0;
        std::string value = pgm->Get_env_txt(line.c_str(), w.key, &status);
        if (status != 1) {
            printf("\nError: %s: no usable value for %s=\n", path, w.key);
            return -1;
        }
        *w.field = value;
    }

    struct NumberKey {
        const char* key;
        long long min, max;
        long long* value;
    };
    long long status_reg = s->emulate_status;
    long long interrupt_after = s->emulate_interrupt_after;
    long long drop_after = s->emulate_drop_after;
    long long kill_after = s->emulate_kill_after;
    long long usb_index = -1, usb_vid = s->usb_vid, usb_pid = s->usb_pid;
    const NumberKey numbers[] = {
        {"emulate_status", 0, 0xFF, &status_reg},
        {"emulate_interrupt_after", INT32_MIN, INT32_MAX, &interrupt_after},
        {"emulate_drop_after", INT32_MIN, INT32_MAX, &drop_after},
        {"emulate_kill_after", INT32_MIN, INT32_MAX, &kill_after},
        {"usb_index", 0, 0xFFFF, &usb_index},
        {"usb_vid", 1, 0xFFFF, &usb_vid},
        {"usb_pid", 1, 0xFFFF, &usb_pid},
    };
    for (const NumberKey& n : numbers) {
        std::string line;
        const int found = Find_Line_Start(std::string(n.key) + "=", &line);
        if (found == -1) return -1;
        if (found != 1) continue;
        const int read = Read_Value(line, n.key, n.min, n.max, n.value);
        if (read == -1) return -1;
        if (read == 0) {
            printf("\nError: %s: no usable value for %s=\n", path, n.key);
            return -1;
        }
    }
    s->emulate_status = static_cast<uint8_t>(status_reg);
    // A negative count means the same as none.
    s->emulate_interrupt_after = interrupt_after > 0 ? static_cast<int32_t>(interrupt_after) : 0;
    s->emulate_drop_after = drop_after > 0 ? static_cast<int32_t>(drop_after) : 0;
    s->emulate_kill_after = kill_after > 0 ? static_cast<int32_t>(kill_after) : 0;
    if (usb_index >= 0) {
        s->usb_index = static_cast<uint16_t>(usb_index);
        s->has_usb_index = 1;
    }
    s->usb_vid = static_cast<uint16_t>(usb_vid);
    s->usb_pid = static_cast<uint16_t>(usb_pid);
    return 1;
}
