#include "config/cfg_parser.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/file_search.h"
#include "config/number.h"
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

// The number behind the last `key`= of `line`, read by the "%li" rules: 1 when it lies in
// [min, max], 0 when there is none, -1 after an error line when it does not fit.
int CCFGP::Read_Value(const std::string& line, const char* key, long long min, long long max,
                      long long* value) {
    int status = 0;
    const std::string word = pgm->Get_env_txt(line.c_str(), key, &status);
    const char* end = nullptr;
    const NumberRead r = Read_Number_In(word.c_str(), min, max, value, &end);
    if (r == NUMBER_OK) return 1;
    if (r == NUMBER_NONE) return 0;
    printf("\nError: %s: %s=%s is out of range (%lld to %lld)\n",
           Config_File_Path(pgm->setup, CONFIG_CFG), key, word.c_str(), min, max);
    return -1;
}

int CCFGP::Parse() {
    Setup_struct* s = pgm->setup;

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

// Emulated target keys. A key that is present must carry a value: a target that was
// asked for but cannot be set up must not fall back silently to the real cable.
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
    const NumberKey numbers[] = {
        {"emulate_status", 0, 0xFF, &status_reg},
        {"emulate_interrupt_after", INT32_MIN, INT32_MAX, &interrupt_after},
        {"emulate_drop_after", INT32_MIN, INT32_MAX, &drop_after},
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
    return 1;
}
