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

// The number behind the last "key=", by the "%li" rules; false when there is none.
bool Field(const std::string& line, const char* key, long* value) {
    const char* from = After(line, key);
    char* end = nullptr;
    const long n = from ? strtol(from, &end, 0) : 0;
    if (!from || end == from) return false;
    *value = n;
    return true;
}

// The first record of `db` whose ids are those the chip answers, found as the scan walks
// the file: a record is the line behind a "\nname=", up to its own newline, which may begin
// the next record. Empty when none matches.
std::string Expected_Record(const std::string& db, const uint8_t* reply) {
    const unsigned mnf = reply[0], jedec = reply[1] << 8 | reply[2], ext = reply[3] << 8 | reply[4];
    if (jedec == 0x0000 || jedec == 0x00FF) return "";  // no chip answers
    for (size_t at = db.find("\nname="); at != std::string::npos;) {
        const size_t eol = db.find('\n', at + 1);
        const std::string line = db.substr(at, eol == std::string::npos ? eol : eol + 1 - at);
        const std::string text = line.c_str();
        long m = 0, j = 0, e = 0;
        if (Field(text, "mnfid", &m) && (m & 0xFF) == mnf && Field(text, "jedec", &j) &&
            (j & 0xFFFF) == jedec) {
            if (!Field(text, "extid", &e)) return text;
            // extid=0 stands for parts that send nothing after the id: 0x00 or 0xFF bytes.
            if ((e & 0xFFFF) != 0 ? (e & 0xFFFF) == ext : ext == 0 || ext == 0xFF) return text;
        }
        if (eol == std::string::npos) break;
        at = db.find("\nname=", eol);
    }
    return "";
}

// Identification by id took that record, with the keys the record leaves out at their
// defaults; or the record itself is refused.
void Check_Record_Taken(const std::string& want, const Setup_struct& s, bool identified) {
    if (want.empty()) {
        Check(!identified);  // the chip answers no SFDP tables either
        return;
    }
    if (!identified) {
        Setup_struct alone;
        CTAMREL parser(&alone);
        Setup_For_Fuzzing(&alone, &parser);
        Check(DB_Parser(want.c_str(), &parser) != 1);
        return;
    }
    const char* name = After(want, "name");
    while (*name && isspace(static_cast<unsigned char>(*name))) name++;
    Check(s.record_name == std::string(name, strcspn(name, " \t\r\n\v\f")));
    Check(s.total_size == strtoull(After(want, "volime"), nullptr, 0));
    if (!After(want, "addr4")) Check(s.addr4_mode == (s.total_size > 0x1000000 ? 1 : 0));
    if (!After(want, "chipers")) Check(s.cmd_chip_erase == 0xC7);
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
        Check_Record_Taken(Expected_Record(db, data), s, identified);

    // The record parser alone, on the whole file as one line.
    Setup_struct alone;
    CTAMREL parser(&alone);
    Setup_For_Fuzzing(&alone, &parser);
    const int r = DB_Parser(("\nname=" + db).c_str(), &parser);
    Check(r == 1 || r == -1);
    Check(r == -1 || alone.has_total_size == 1);
    return 0;
}
