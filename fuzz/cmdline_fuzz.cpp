// Command line, record and data file through the stages up to the decision to run.
// Layout: bytes 0..3 the size of data.bin (little-endian), byte 4 bit 0 an emulated target
// with its image in image.bin; then text: its first line is the chip's flash_db.cfg record,
// and the rest, split at newline and NUL bytes, the arguments. The chip answers the ids its
// record gives, so that identification by id finds it. Files: see memory_files.h.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "memory_files.h"
#include "run/cmdline.h"
#include "stage_checks.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The whole text is one number in [0, max].
bool Whole_Number(const char* text, unsigned long long max, uint32_t* value) {
    if (text == nullptr) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || v < 0 ||
        static_cast<unsigned long long>(v) > max)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// What the switches ask for, read independently of the parser: the last -ab=, -al= and
// -p= and the operation switches (-r only as a word of its own) up to -x or -u, which end
// the line; a USB-Blaster chosen by --usb-serial=, --usb-index= or --usb-path= is the run's
// cable until a later -p=. False when a number is not one or a chosen USB-Blaster has no name.
struct Request {
    uint8_t operation = OP_NONE;
    bool erase = false, write = false, verify = false, dump = false;
    bool has_begin = false, has_last = false, has_port = false, lpt = false, usb = false;
    uint32_t begin = 0, last = 0, port = 0;
};

bool Read_Request(const std::vector<std::string>& args, Request* r) {
    for (size_t i = 1; i < args.size(); i++) {
        const char* a = args[i].c_str();
        if (a[0] != '-') continue;  // a file name or a stray word
        if (strncmp(a, "--usb-", 6) == 0) {
            const std::string name(a + 6, strcspn(a + 6, "="));
            const char* value = a[6 + name.size()] == '=' ? a + 7 + name.size() : nullptr;
            uint32_t index = 0;
            if (!value || (name != "serial" && name != "index" && name != "path")) continue;
            if (name == "index" ? !Whole_Number(value, 0xFFFF, &index) : *value == '\0')
                return false;
            r->usb = true, r->lpt = false;
            continue;
        }
        const char c2 = Lower(a[1]), c3 = a[1] ? Lower(a[2]) : '\0';
        if (c2 == 'a' && (c3 == 'b' || c3 == 'l')) {
            uint32_t& v = c3 == 'b' ? r->begin : r->last;
            if (!Whole_Number(a[3] ? a + 4 : nullptr, 0xFFFFFFFF, &v)) return false;
            (c3 == 'b' ? r->has_begin : r->has_last) = true;
        } else if (c2 == 'p') {
            if (!Whole_Number(c3 == '=' ? a + 3 : nullptr, 0xFFFF, &r->port)) return false;
            r->has_port = r->lpt = true;
        }
        const struct {
            char letter;
            uint8_t op;
            bool Request::*flag;
        } ops[] = {{'s', OP_SHOWMEM, nullptr},         {'e', OP_ERASE, &Request::erase},
                   {'w', OP_WRITE, &Request::write},   {'d', OP_DUMP, &Request::dump},
                   {'v', OP_VERIFY, &Request::verify}, {'i', OP_INFO, nullptr},
                   {'x', OP_RESET, nullptr},           {'u', OP_UNLOCK, nullptr}};
        for (const auto& o : ops) {
            if (c2 != o.letter) continue;
            r->operation = o.op;
            if (o.flag) r->*o.flag = true;
        }
        if (c2 == 'r' && a[2] == '\0') r->operation = OP_PUT_BACK;  // only "-r" itself
        if (c2 == 'x' || c2 == 'u') break;
    }
    return true;
}

// The number behind the last "key=" of the record, 0 when there is none.
unsigned long Record_Number(const std::string& record, const char* key) {
    const size_t at = record.rfind(std::string(key) + "=");
    return at == std::string::npos ? 0 : strtoul(record.c_str() + at + strlen(key) + 1, nullptr, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    Enter_Scratch_Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || size > 4096) return 0;
    Set_Data_File_Size(static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                             static_cast<uint32_t>(data[3]) << 24));
    const std::string text(reinterpret_cast<const char*>(data + 5), size - 5);
    const size_t eol = text.find('\n');
    const std::string record = text.substr(0, eol);
    Memory_File_Set("flash_db.cfg", "\n" + record + "\n");

    std::vector<std::string> args{"tamrel"};
    if (eol != std::string::npos) {
        args.emplace_back();
        for (size_t i = eol + 1; i < text.size() && args.size() < 64; i++) {
            if (text[i] == '\0' || text[i] == '\n')
                args.emplace_back();
            else
                args.back() += text[i];
        }
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    const EarlySwitch early = Find_Early_Switch(argc, argv.data());
    Check(early == EARLY_NONE || early == EARLY_HELP || early == EARLY_VERSION ||
          early == EARLY_LIST || early == EARLY_LIST_CHIPS);

    Setup_struct s;
    RecordingChip chip;  // outlives pgm
    CTAMREL pgm(&s);
    Setup_For_Fuzzing(&s, &pgm);
    pgm.adapter = &chip;
    if (data[4] & 1) s.emulate_name = "W25Q", s.emulate_image = "image.bin";
    const unsigned long ids[] = {Record_Number(record, "mnfid"), Record_Number(record, "jedec"),
                                 Record_Number(record, "extid")};
    const unsigned char id[5] = {
        static_cast<unsigned char>(ids[0]), static_cast<unsigned char>(ids[1] >> 8),
        static_cast<unsigned char>(ids[1]), static_cast<unsigned char>(ids[2] >> 8),
        static_cast<unsigned char>(ids[2])};
    std::copy(id, id + 5, chip.id);

    // A malformed or out-of-range number refuses the line before anything is read or sent.
    Request want;
    const bool numbers_ok = Read_Request(args, &want);
    const int parsed = CCMDP(&pgm).Parse(argc, argv.data());
    Check(parsed == (numbers_ok ? 1 : -1));
    if (parsed != 1) {
        Check(chip.Untouched());
        return 0;
    }
    Check(s.operation == want.operation && s.do_erase == want.erase && s.do_write == want.write &&
          s.do_verify == want.verify && s.do_dump == want.dump);
    Check(s.has_addr_begin == want.has_begin && s.addr_begin == want.begin);
    Check(s.has_addr_last == want.has_last && s.addr_last == want.last);
    Check(s.use_lpt == want.lpt && s.use_usb == want.usb);
    Check(!want.has_port || s.lpt_addr == want.port);
    Check(s.has_file_name || s.file_name.empty());

    Check_Stages(pgm, chip);
    return 0;
}
