#include "chipdb/record_keys.h"

#include <cstring>

#include "chipdb/chip_record.h"

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
    {"poll", "fsr", POLL_FSR},
};

const uint32_t kThreeByteLimit = 0x1000000;  // 16 MiB

int Digit(char c, unsigned base) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

// One size of an erase= item, from `p` to the next ',' or '|': a number and at most one K or
// M. Advances `p` past it; 0 with the reason otherwise.
int read_size(const char*& p, const std::string& list, uint32_t* size, std::string* why) {
    const char* end = p + strcspn(p, ",|");
    const std::string text(p, end);
    const RecordNumber n = Record_Number(p);
    const char* q = p + n.len;
    uint64_t scale = 1;
    if (*q == 'K' || *q == 'k')
        scale = 1024, ++q;
    else if (*q == 'M' || *q == 'm')
        scale = 1024 * 1024, ++q;
    if (n.len == 0 || *p == '+' || *p == '-' || q != end) {
        *why = "erase=" + list + ": size " + text +
               " is not a whole number of bytes with at most one K or M after it";
        return 0;
    }
    if (n.wide || n.value == 0 || n.value > 0xFFFFFFFFull / scale) {
        *why = "erase=" + list + ": size " + text + " does not fit 1 to 0xFFFFFFFF bytes";
        return 0;
    }
    *size = static_cast<uint32_t>(n.value * scale);
    p = end;
    return 1;
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

RecordNumber Record_Number(const char* text) {
    RecordNumber n = {0, 0, false, false};
    const char* p = text;
    if (*p == '+' || *p == '-') n.negative = *p++ == '-';
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && Digit(p[2], 16) >= 0)
        base = 16, p += 2;
    else if (p[0] == '0')
        base = 8;
    const char* digits = p;
    for (int d; (d = Digit(*p, base)) >= 0; ++p) {
        if (n.value > (UINT64_MAX - static_cast<unsigned>(d)) / base) n.wide = true;
        n.value = n.value * base + static_cast<unsigned>(d);  // wraps: the low bits stay right
    }
    if (p == digits) return {0, 0, false, false};
    if (n.negative) n.value = 0 - n.value;
    n.negative = n.negative && (n.value != 0 || n.wide);
    n.len = static_cast<size_t>(p - text);
    return n;
}

uint32_t EraseItem::Largest() const {
    uint32_t largest = 0;
    for (uint32_t s : sizes)
        if (s > largest) largest = s;
    return largest;
}

int Erase_List_Parse(const std::string& list, std::vector<EraseItem>* items, std::string* why) {
    items->clear();
    const std::string malformed = "erase=" + list + " is not a list of opcode:size items";
    const char* p = list.c_str();
    for (;;) {
        const RecordNumber op = Record_Number(p);
        if (op.len == 0 || *p == '+' || *p == '-' || op.wide || op.value > 0xFF ||
            p[op.len] != ':') {
            *why = malformed;
            return 0;
        }
        p += op.len + 1;
        EraseItem item{static_cast<uint8_t>(op.value), {}};
        for (;;) {
            uint32_t s = 0;
            if (*p == ',' || *p == '|' || *p == '\0') {
                *why = malformed;
                return 0;
            }
            if (!read_size(p, list, &s, why)) return 0;
            item.sizes.push_back(s);
            if (*p != '|') break;
            ++p;
        }
        items->push_back(item);
        if (*p == '\0') return 1;
        ++p;  // the ','
    }
}

uint32_t Erase_List_Largest(const std::vector<EraseItem>& items, unsigned char opcode) {
    uint32_t largest = 0;  // over every item that lists the opcode
    for (const EraseItem& item : items)
        if (item.opcode == opcode && item.Largest() > largest) largest = item.Largest();
    return largest;
}

int Erase_List_Has(const std::vector<EraseItem>& items, unsigned char opcode, uint32_t size) {
    const uint32_t largest = Erase_List_Largest(items, opcode);
    return largest != 0 && largest == size ? 1 : 0;
}
