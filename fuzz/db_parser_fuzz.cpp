// Chip database: the input becomes flash_db.cfg, the id the chip answers, a -n= name and a
// request, which then goes through identification and the parameter check.
// Layout: bytes 0..4 the reply to 0x9F after the opcode; byte 5 the name length L (L % 16),
// bytes 6..5+L the name; then 14 bytes of request: the operation (% 8: chip erase, range
// erase, write, verify, erase+write+verify, dump, memory display, identification), flags
// (bit 0 -ab=, bit 1 -al=, bit 2 data.bin as the data file, bit 3 -n= with the name, bit 4
// the dump goes to data.bin), -ab=, -al= and the size of data.bin (little-endian); the rest
// is the database file.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chipdb/record_keys.h"
#include "memory_files.h"
#include "stage_checks.h"

namespace {

const size_t kRequest = 14;

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Set_Request(Setup_struct* s, const uint8_t* r, const std::string& name) {
    static const uint8_t kOps[] = {OP_ERASE, OP_ERASE, OP_WRITE,   OP_VERIFY,
                                   OP_ERASE, OP_DUMP,  OP_SHOWMEM, OP_INFO};
    const int op = r[0] % 8;
    s->operation = kOps[op];
    s->do_erase = op <= 1 || op == 4;
    s->do_write = op == 2 || op == 4;
    s->do_verify = op == 3 || op == 4;
    s->do_dump = op == 5;
    if (op == 4) s->operation = OP_VERIFY;  // the last switch of -e -w -v
    const uint8_t flags = r[1];
    s->has_addr_begin = flags & 1;
    s->addr_begin = s->has_addr_begin ? Le32(r + 2) : 0;
    s->has_addr_last = (flags >> 1) & 1;
    s->addr_last = s->has_addr_last ? Le32(r + 6) : 0;
    if ((flags & 4) && op != 0) s->file_name = "data.bin", s->has_file_name = 1;
    if (flags & 8) s->device_name = name, s->has_device_name = 1;
    if (s->do_dump) s->dump_name = flags & 16 ? "data.bin" : "dump.bin";
    Set_Data_File_Size(Le32(r + 10));
}

// The text behind the last "key=" of a record line, read as the C string it is.
const char* After(const std::string& line, const char* key) {
    const size_t at = line.rfind(std::string(key) + "=");
    return at == std::string::npos ? nullptr : line.c_str() + at + strlen(key) + 1;
}

// The number behind the last "key=" as the id scan compares it: its low bits, however wide
// it is written; false when there is none.
bool Field(const std::string& line, const char* key, uint64_t* value) {
    const char* from = After(line, key);
    while (from && isspace(static_cast<unsigned char>(*from))) from++;
    const RecordNumber n = Record_Number(from ? from : "");
    if (!from || n.len == 0) return false;
    *value = n.value;
    return true;
}

// The word behind the last "key=".
std::string Word(const std::string& line, const char* key) {
    const char* from = After(line, key);
    while (from && isspace(static_cast<unsigned char>(*from))) from++;
    return from ? std::string(from, strcspn(from, " \t\r\n\v\f")) : std::string();
}

enum Match { NO, YES, NO_EXTID };

Match Matches(const std::string& text, const uint8_t* reply) {
    const unsigned mnf = reply[0], jedec = reply[1] << 8 | reply[2], ext = reply[3] << 8 | reply[4];
    uint64_t m = 0, j = 0, e = 0;
    if (!Field(text, "mnfid", &m) || (m & 0xFF) != mnf || !Field(text, "jedec", &j) ||
        (j & 0xFFFF) != jedec)
        return NO;
    if (!Field(text, "extid", &e)) return Word(text, "extid") == "any" ? YES : NO_EXTID;
    // extid=0 stands for parts that send nothing after the id: 0x00 or 0xFF bytes.
    return ((e & 0xFFFF) != 0 ? (e & 0xFFFF) == ext : ext == 0 || ext == 0xFF) ? YES : NO;
}

// The first record of `db` whose ids are those the chip answers, found as the scan walks
// the file, and the records behind it that the chip answers without a warning too (parts
// sharing the id): a record is the line behind a "\nname=", up to its own newline, which
// may begin the next record. Empty when none matches, or no chip answers.
std::vector<std::string> Expected_Records(const std::string& db, const uint8_t* reply) {
    std::vector<std::string> taken;
    const bool all_same = std::all_of(reply, reply + 5, [&](uint8_t b) { return b == reply[0]; });
    if ((reply[1] == 0 && (reply[2] == 0 || reply[2] == 0xFF)) ||
        (all_same && (reply[0] == 0 || reply[0] == 0xFF)))
        return taken;
    for (size_t at = db.find("\nname="); at != std::string::npos;) {
        const size_t eol = db.find('\n', at + 1);
        const std::string line = db.substr(at, eol == std::string::npos ? eol : eol + 1 - at);
        const std::string text = line.c_str();
        const Match m = Matches(text, reply);
        if (!taken.empty() && m != YES) return taken;
        if (m != NO) taken.push_back(text);
        if (m == NO_EXTID) return taken;
        if (eol == std::string::npos) break;
        at = db.find("\nname=", eol);
    }
    return taken;
}

bool Refused(const std::string& record) {
    Setup_struct alone;
    CTAMREL parser(&alone);
    Setup_For_Fuzzing(&alone, &parser);
    return DB_Parser(record.c_str(), &parser) != 1;
}

// Identification by id took one of those records, with the keys the record leaves out at
// their defaults; or one of them is refused.
void Check_Record_Taken(const std::vector<std::string>& records, const Setup_struct& s,
                        bool identified) {
    if (records.empty()) {
        Check(!identified);  // the chip answers no SFDP tables either
        return;
    }
    if (!identified) {
        Check(std::any_of(records.begin(), records.end(), Refused));
        return;
    }
    // One of them, by name and size, with the keys it leaves out at their defaults (diers=
    // stands for a part without chip erase).
    const auto taken = [&s](const std::string& r) {
        return Word(r, "name") == s.record_name &&
               s.total_size == strtoull(After(r, "volime"), nullptr, 0) &&
               (After(r, "addr4") || s.addr4_mode == (s.total_size > 0x1000000 ? 1 : 0)) &&
               (After(r, "chipers") || s.cmd_chip_erase == (Word(r, "diers").empty() ? 0xC7 : 0));
    };
    Check(std::any_of(records.begin(), records.end(), taken));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    Enter_Scratch_Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const size_t name_len = data[5] % 16;
    if (size < 6 + name_len + kRequest || size > 0x10000) return 0;
    const std::string name(reinterpret_cast<const char*>(data + 6), name_len);
    const uint8_t* request = data + 6 + name_len;
    const size_t db_at = 6 + name_len + kRequest;
    const std::string db(reinterpret_cast<const char*>(data + db_at), size - db_at);
    Memory_File_Set("flash_db.cfg", db);

    Setup_struct s;
    RecordingChip chip;  // outlives pgm
    CTAMREL pgm(&s);
    Setup_For_Fuzzing(&s, &pgm);
    pgm.adapter = &chip;
    std::copy(data, data + 5, chip.id);
    Set_Request(&s, request, name);
    const bool identified = Check_Stages(pgm, chip) != 0;
    if (s.has_device_name)
        Check(s.device_name == name);
    else
        Check_Record_Taken(Expected_Records(db, data), s, identified);

    // The record parser alone, on the whole file as one line.
    Setup_struct alone;
    CTAMREL parser(&alone);
    Setup_For_Fuzzing(&alone, &parser);
    const int r = DB_Parser(("\nname=" + db).c_str(), &parser);
    Check(r == 1 || r == -1);
    Check(r == -1 || alone.has_total_size == 1);
    return 0;
}
