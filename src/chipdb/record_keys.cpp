#include "chipdb/record_keys.h"

#include <cstdlib>
#include <cstring>

#include "run/setup.h"

namespace {

struct KeyWord {
    const char* key;
    const char* word;
    uint8_t value;
};

const KeyWord kKeyWords[] = {
    {"addr4", "no", ADDR4_NO},       {"addr4", "opcodes", ADDR4_OPCODES},
    {"addr4", "en4b", ADDR4_EN4B},   {"addr4", "wren_en4b", ADDR4_WREN_EN4B},
    {"unlock", "wrsr", UNLOCK_WRSR}, {"unlock", "ulbpr", UNLOCK_ULBPR},
    {"unit", "block", UNIT_BLOCK},   {"unit", "sector", UNIT_SECTOR},
};

const uint32_t kThreeByteLimit = 0x1000000;  // 16 MiB

// One size of an erase= item: a number with an optional K or M; advances `p` past it.
bool read_size(const char*& p, uint32_t* size) {
    char* end = nullptr;
    const unsigned long long n = strtoull(p, &end, 0);
    if (end == p || *p == '-' || *p == '+') return false;
    unsigned long long scale = 1;
    if (*end == 'K' || *end == 'k') scale = 1024, ++end;
    if (*end == 'M' || *end == 'm') scale = 1024 * 1024, ++end;
    if (n == 0 || n * scale > 0xFFFFFFFFull) return false;
    *size = static_cast<uint32_t>(n * scale);
    p = end;
    return true;
}

}  // namespace

int Record_Word(const char* key, const std::string& word, uint8_t* value) {
    for (const KeyWord& k : kKeyWords) {
        if (strcmp(k.key, key) == 0 && word == k.word) {
            *value = k.value;
            return 1;
        }
    }
    return 0;
}

std::string Record_Words(const char* key) {
    std::string words;
    for (const KeyWord& k : kKeyWords) {
        if (strcmp(k.key, key) != 0) continue;
        if (!words.empty()) words += '|';
        words += k.word;
    }
    return words;
}

uint8_t Default_Addr4(uint32_t total_size) {
    return total_size > kThreeByteLimit ? ADDR4_OPCODES : ADDR4_NO;
}

int Erase_List_Has(const std::string& list, unsigned char opcode, uint32_t size) {
    const char* p = list.c_str();
    uint32_t largest_for_opcode = 0;  // over every item that lists the opcode
    for (;;) {
        char* end = nullptr;
        const unsigned long op = strtoul(p, &end, 0);
        if (end == p || *p == '-' || *p == '+' || op > 0xFF || *end != ':') return -1;
        p = end + 1;
        uint32_t largest = 0;
        for (;;) {
            uint32_t s = 0;
            if (!read_size(p, &s)) return -1;
            if (s > largest) largest = s;
            if (*p != '|') break;
            ++p;
        }
        if (op == opcode && largest > largest_for_opcode) largest_for_opcode = largest;
        if (*p == '\0') return largest_for_opcode != 0 && largest_for_opcode == size ? 1 : 0;
        if (*p != ',') return -1;
        ++p;
    }
}
