#include "config/cfg_parser.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/tamrel.h"

namespace {

const char* const CFG_FILE = "config.cfg";
const uint16_t LPT_ADDR_DEFAULT = 0x378;

void Bad_Value(const char* key) {
    printf("\nError: %s: no usable value for %s=\n", CFG_FILE, key);
}

}  // namespace

int CCFGP::Find_Line(const char* key, std::string* line) {
    int result = 0;
    pgm->key_pos = 0;
    pgm->Get_keyString(CFG_FILE, line, key, result);
    return result;
}

int CCFGP::Parse() {
    Setup_struct* s = pgm->setup;

    int result = Find_Line("port=lpt", nullptr);
    if (result == -1) return -1;
    if (result == 1) {
        std::string line;
        int found = Find_Line("lptaddr", &line);
        s->use_lpt = 1;
        s->lpt_addr = LPT_ADDR_DEFAULT;
        if (found == 1) {
            int status = 0;
            long v = pgm->Get_env_val(line.c_str(), "lptaddr", &status);
            if (status == 1) s->lpt_addr = static_cast<uint16_t>(v & 0xFFFF);
        }
    }
    if (Find_Line("port=usb", nullptr) == 1) s->use_usb = 1;

    return Parse_Emulation();
}

// Emulated target keys. A key that is present must carry a value: a target that was
// asked for but cannot be set up must not fall back silently to the real cable.
int CCFGP::Parse_Emulation() {
    Setup_struct* s = pgm->setup;
    struct WordKey {
        const char* key;
        std::string* field;
    };
    const WordKey words[] = {
        {"emulate", &s->emulate_name},
        {"emulate_image", &s->emulate_image},
        {"emulate_stats", &s->emulate_stats},
        {"emulate_fault", &s->emulate_fault},
    };
    for (const WordKey& w : words) {
        std::string line;
        if (Find_Line((std::string(w.key) + "=").c_str(), &line) != 1) continue;
        int status = 0;
        std::string value = pgm->Get_env_txt(line.c_str(), w.key, &status);
        if (status != 1) {
            Bad_Value(w.key);
            return -1;
        }
        *w.field = value;
    }

    struct NumberKey {
        const char* key;
        long* value;
    };
    long status_reg = s->emulate_status;
    long interrupt_after = s->emulate_interrupt_after;
    const NumberKey numbers[] = {
        {"emulate_status", &status_reg},
        {"emulate_interrupt_after", &interrupt_after},
    };
    for (const NumberKey& n : numbers) {
        std::string line;
        if (Find_Line((std::string(n.key) + "=").c_str(), &line) != 1) continue;
        int status = 0;
        long v = pgm->Get_env_val(line.c_str(), n.key, &status);
        if (status != 1) {
            Bad_Value(n.key);
            return -1;
        }
        *n.value = v;
    }
    s->emulate_status = static_cast<uint8_t>(status_reg & 0xFF);
    // A negative count means the same as none.
    s->emulate_interrupt_after = interrupt_after > 0 ? static_cast<int32_t>(interrupt_after) : 0;
    return 1;
}
