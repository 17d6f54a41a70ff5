#include "chipdb/chip_record.h"

#include <cstdarg>
#include <cstdio>

#include "flash/write_protect.h"
#include "run/tamrel.h"

namespace {

const uint8_t kNotProtectBits = 0x83;  // busy, write enable latch, status register protect

class RecordReader {
public:
    RecordReader(CTAMREL* pgm, const char* line, ChipRecord* rec, std::string* why)
        : pgm_(pgm), line_(line), rec_(rec), why_(why) {}

    // The word of `key`; false when the key is absent.
    bool Word(const char* key, std::string* word) {
        int found = 0;
        *word = pgm_->Get_env_txt(line_, key, &found);
        return found == 1;
    }

    // The number of `key`: 1 when it is there and fits 0..max; 0 when the key is absent or
    // its value does not start with a number; -1 after Refuse() when it has text after it or
    // does not fit, since cutting it to its field would describe another chip.
    int Number(const char* key, uint64_t max, uint64_t* value) {
        std::string word;
        if (!Word(key, &word)) return 0;
        const RecordNumber n = Record_Number(word.c_str());
        if (n.len == 0) return 0;
        if (n.len != word.size())
            return Refuse("%s=%s is not a whole number (decimal, 0x hex or 0 octal)", key,
                          word.c_str());
        if (n.negative || n.wide || n.value > max)
            return Refuse("%s=%s does not fit its field (0 to 0x%llX)", key, word.c_str(),
                          static_cast<unsigned long long>(max));
        *value = n.value;
        return 1;
    }

    // A word key (addr4=, unlock=, unit=, poll=); absent leaves *value.
    int Choice(const char* key, uint8_t* value) {
        std::string word;
        if (!Word(key, &word)) return 0;
        if (Record_Word(key, word, value)) return 1;
        return Refuse("%s=%s is not one of %s", key, word.c_str(), Record_Words(key).c_str());
    }

    // OP:VALUE keys (diers=, ads=): the opcode, then the rest read by `second`.
    int Pair(const char* key, const char* example, uint8_t* opcode, uint64_t* second, bool sized) {
        std::string word;
        if (!Word(key, &word)) return 0;
        const char* p = word.c_str();
        const RecordNumber op = Record_Number(p);
        bool ok = op.len > 0 && *p != '+' && *p != '-' && !op.wide && op.value >= 1 &&
                  op.value <= 0xFF && p[op.len] == ':';
        if (ok) {
            p += op.len + 1;
            const RecordNumber v = Record_Number(p);
            const char* end = p + v.len;
            uint64_t scale = 1;
            if (sized && (*end == 'K' || *end == 'k'))
                scale = 1024, ++end;
            else if (sized && (*end == 'M' || *end == 'm'))
                scale = 1024 * 1024, ++end;
            const uint64_t max = sized ? 0xFFFFFFFFull : 0xFFull;
            ok = v.len > 0 && *p != '+' && *p != '-' && *end == '\0' && !v.wide && v.value >= 1 &&
                 v.value <= max / scale;
            *second = v.value * scale;
        }
        if (!ok) return Refuse("%s=%s is not %s", key, word.c_str(), example);
        *opcode = static_cast<uint8_t>(op.value);
        return 1;
    }

    int Refuse(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[300];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        *why_ = "flash_db.cfg record " + rec_->name + ": " + text;
        return -1;
    }

private:
    CTAMREL* pgm_;
    const char* line_;
    ChipRecord* rec_;
    std::string* why_;
};

// The keys a record may add to its sizes.
int read_extra_keys(RecordReader& in, ChipRecord* rec) {
    uint64_t v = 0;
    int r = in.Number("jedec", 0xFFFF, &v);
    if (r < 0) return -1;
    rec->has_jedec = r == 1;
    if (r == 1) rec->jedec_id = static_cast<uint16_t>(v);
    r = in.Number("extid", 0xFFFF, &v);
    if (r < 0) return -1;
    std::string word;
    rec->extid = r == 1                                     ? EXTID_VALUE
                 : in.Word("extid", &word) && word == "any" ? EXTID_ANY
                                                            : EXTID_NONE;
    rec->ext_id = r == 1 ? static_cast<uint16_t>(v) : 0;

    const int chipers = in.Number("chipers", 0xFF, &v);
    if (chipers < 0) return -1;
    if (chipers == 1) rec->chip_erase = static_cast<uint8_t>(v);

    rec->addr4 = Default_Addr4(rec->total_size);
    if (in.Choice("addr4", &rec->addr4) < 0 || in.Choice("unlock", &rec->unlock) < 0 ||
        in.Choice("unit", &rec->unit) < 0 || in.Choice("poll", &rec->poll) < 0)
        return -1;

    if (in.Word("erase", &rec->erase_list)) {
        std::string why;
        if (!Erase_List_Parse(rec->erase_list, &rec->erase, &why))
            return in.Refuse("%s", why.c_str());
    }

    r = in.Number("bp", 0xFF, &v);
    if (r < 0) return -1;
    rec->protect_mask = r == 1 ? static_cast<uint8_t>(v) : Maker_Protect_Mask(rec->mnf_id);
    if (rec->protect_mask & kNotProtectBits)
        return in.Refuse(
            "bp=0x%02X names bit 0, 1 or 7 (busy, write enable, status register protect), which "
            "protect no part of the array",
            rec->protect_mask);

    uint64_t size = 0;
    r = in.Pair("diers", "OP:SIZE (e.g. diers=0xC4:32M)", &rec->die_erase, &size, true);
    if (r < 0) return -1;
    rec->die_size = static_cast<uint32_t>(size);
    if (r == 1 && chipers == 1 && rec->chip_erase != 0)
        return in.Refuse("diers= is for a part without chip erase, yet chipers=0x%02X",
                         rec->chip_erase);
    if (r == 1) rec->chip_erase = 0;

    uint64_t mask = 0;
    r = in.Pair("ads", "OP:MASK (e.g. ads=0x15:0x01)", &rec->ads_opcode, &mask, false);
    if (r < 0) return -1;
    rec->ads_mask = static_cast<uint8_t>(mask);
    r = in.Number("ear", 0xFF, &v);
    if (r < 0) return -1;
    if (r == 1) rec->ear_opcode = static_cast<uint8_t>(v);
    return 1;
}

}  // namespace

int Parse_Chip_Record(CTAMREL* pgm, const char* line, ChipRecord* rec, std::string* why) {
    *rec = ChipRecord{};
    RecordReader in(pgm, line, rec, why);
    in.Word("name", &rec->name);

    uint64_t v = 0;
    int r = in.Number("mnfid", 0xFF, &v);
    if (r < 0) return -1;
    if (r == 0) {
        *why = "flash_db.cfg file: 'mnfid' syntax error";
        return 0;
    }
    rec->mnf_id = static_cast<uint8_t>(v);

    const struct {
        const char* key;
        uint64_t max;
        bool* has;
        uint32_t* value;
    } sizes[] = {
        {"page", 0xFFFF, &rec->has_page, nullptr},
        {"block", 0xFFFFFFFF, &rec->has_block, &rec->block_size},
        {"sector", 0xFFFFFFFF, &rec->has_sector, &rec->sector_size},
    };
    for (const auto& s : sizes) {
        r = in.Number(s.key, s.max, &v);
        if (r < 0) return -1;
        *s.has = r == 1;
        if (r != 1) continue;
        if (s.value)
            *s.value = static_cast<uint32_t>(v);
        else
            rec->page_size = static_cast<uint16_t>(v);
    }

    r = in.Number("volime", 0xFFFFFFFF, &v);
    if (r < 0) return -1;
    if (r == 0) {
        *why = "flash_db.cfg file: 'volime' syntax error";
        return 0;
    }
    rec->total_size = static_cast<uint32_t>(v);

    r = in.Number("freq", 0xFFFF, &v);
    if (r < 0) return -1;
    if (r == 1) rec->freq = static_cast<uint16_t>(v);
    return read_extra_keys(in, rec);
}
