#include "emulator/emulated_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapters/delay.h"
#include "chipdb/record_keys.h"
#include "config/file_search.h"
#include "emulator/emulated_lpt.h"
#include "emulator/emulated_usb_blaster.h"
#include "emulator/flash_chip.h"
#include "emulator/sfdp_table.h"
#include "flash/spi_opcodes.h"
#include "run/tamrel.h"

namespace {

// Largest chip the emulator holds in memory.
const long kMaxChipSize = 0x10000000L;  // 256 MiB
const size_t kMaxSfdpFile = 0x10000;    // the SFDP space the tool reads is far smaller

// emulate_fault= values; "slow" takes its busy time as "slow:N" (N ms).
struct FaultName {
    const char* name;
    ChipFault fault;
    bool no_cable;  // the fault is the cable's absence, not the chip's
};

const FaultName kFaults[] = {
    {"none", ChipFault::None, false},
    {"miso_high", ChipFault::MisoStuckHigh, false},
    {"miso_low", ChipFault::MisoStuckLow, false},
    {"no_wel", ChipFault::WelNeverSets, false},
    {"busy", ChipFault::StaysBusy, false},
    {"slow", ChipFault::Slow, false},
    {"wp_low", ChipFault::WpHeldLow, false},
    {"no_wrsr", ChipFault::IgnoresWriteStatus, false},
    {"one_block_locked", ChipFault::OneBlockLocked, false},
    {"no_cable", ChipFault::None, true},
};
const long kMaxSlowMs = 600000;  // ten minutes, beyond every wait of the tool

struct Fault {
    ChipFault chip = ChipFault::None;
    uint64_t slow_ns = 0;
    bool no_cable = false;
};

int ParseFault(const std::string& value, Fault* fault) {
    if (value.empty()) return 1;
    const size_t colon = value.find(':');
    const std::string word = value.substr(0, colon);
    for (const FaultName& f : kFaults) {
        if (word != f.name || (colon != std::string::npos) != (f.fault == ChipFault::Slow))
            continue;
        fault->chip = f.fault;
        fault->no_cable = f.no_cable;
        if (f.fault != ChipFault::Slow) return 1;
        const char* ms = value.c_str() + colon + 1;
        char* end = nullptr;
        errno = 0;
        const long n = strtol(ms, &end, 10);
        if (end == ms || *end != '\0' || errno != 0 || n < 1 || n > kMaxSlowMs) break;
        fault->slow_ns = static_cast<uint64_t>(n) * 1000000ULL;
        return 1;
    }
    printf(
        "\nError: emulate_fault=%s is not one of none, miso_high, miso_low, no_wel, busy, "
        "slow:N (N ms, 1 to %ld), wp_low, no_wrsr, one_block_locked, no_cable",
        value.c_str(), kMaxSlowMs);
    return 0;
}

// emulate_interrupt_signal=: the signal the emulated interrupt raises (SIGINT by default).
int ParseSignal(const std::string& name, int* sig) {
    if (name.empty() || name == "SIGINT") {
        *sig = SIGINT;
        return 1;
    }
    if (name == "SIGTERM") {
        *sig = SIGTERM;
        return 1;
    }
    printf("\nError: emulate_interrupt_signal=%s is not one of SIGINT, SIGTERM", name.c_str());
    return 0;
}

// Page size, 4-byte addressing, chip erase and locking of the part the record describes.
int ChipBehaviour(CTAMREL* pgm, const std::string& name, const std::string& line,
                  FlashChipParams* params) {
    int r = 0;
    long v = pgm->Get_env_val(line.c_str(), "page", &r);
    if (r == 1) {
        if (v <= 0 || v > 0x8000 || (v & (v - 1)) != 0) {
            printf("\nError: emulate=%s: page=%ld is not a page size the emulator supports\n",
                   name.c_str(), v);
            return 0;
        }
        params->page_size = static_cast<uint32_t>(v);
    }

    uint8_t addr4 = Default_Addr4(params->total_size);
    std::string word = pgm->Get_env_txt(line.c_str(), "addr4", &r);
    if (r == 1 && !Record_Word("addr4", word, &addr4)) {
        printf("\nError: emulate=%s: addr4=%s is not one of %s\n", name.c_str(), word.c_str(),
               Record_Words("addr4").c_str());
        return 0;
    }
    const FourByte modes[] = {FourByte::None, FourByte::Opcodes, FourByte::Mode,
                              FourByte::ModeNeedsWel};  // ADDR4_* order
    params->four_byte = modes[addr4];

    v = pgm->Get_env_val(line.c_str(), "chipers", &r);
    if (r == 1) {
        params->erases_c7 = v == SPI_CHIP_ERASE;
        params->erases_60 = v == SPI_CHIP_ERASE_ALT;
    }
    uint8_t unlock = UNLOCK_WRSR;
    word = pgm->Get_env_txt(line.c_str(), "unlock", &r);
    params->global_lock = r == 1 && Record_Word("unlock", word, &unlock) && unlock == UNLOCK_ULBPR;
    return 1;
}

// Erase types of a record's erase= list ("0x20:4K,0xD8:64K"), sized as the part erases
// them; a 4 KiB and a sector erase when the record has no list. 4-byte opcodes are left out:
// the basic table names the 3-byte ones.
std::vector<SfdpEraseSpec> EraseTypes(const std::string& list, const CFlashChip& chip) {
    std::vector<SfdpEraseSpec> types;
    const char* p = list.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        const unsigned long opcode = strtoul(p, &end, 0);
        const uint32_t size =
            (end != p && opcode <= 0xFF) ? chip.ErasedBy(static_cast<uint8_t>(opcode)) : 0;
        if (size != 0 && types.size() < 4) types.push_back({static_cast<uint8_t>(opcode), size});
        p = strchr(p, ',');
        if (p == nullptr) break;
        ++p;
    }
    if (types.empty())
        types = {{SPI_ERASE_4K, 0x1000}, {SPI_ERASE_SECTOR, chip.ErasedBy(SPI_ERASE_SECTOR)}};
    std::stable_sort(
        types.begin(), types.end(),
        [](const SfdpEraseSpec& a, const SfdpEraseSpec& b) { return a.size < b.size; });
    return types;
}

// Ids and geometry from the first flash_db.cfg record whose name begins with `name`.
int FindChip(CTAMREL* pgm, const std::string& name, FlashChipParams* params,
             std::string* erase_list) {
    std::string line;
    int result = 0;
    uint32_t saved_pos = pgm->key_pos;
    pgm->key_pos = 0;
    pgm->Get_keyString(Config_File_Path(pgm->setup, FLASH_DB_CFG), &line,
                       ("\nname=" + name).c_str(), result);
    pgm->key_pos = saved_pos;
    if (result == -1) return 0;  // the reader has said it cannot open the file
    if (result != 1) {
        printf("\nError: emulate=%s: no record in flash_db.cfg has a name beginning with it",
               name.c_str());
        return 0;
    }

    int r = 0;
    long size = pgm->Get_env_val(line.c_str(), "volime", &r);
    if (r != 1) {
        printf("\nError: emulate=%s: its flash_db.cfg record has no readable volime=",
               name.c_str());
        return 0;
    }
    if (size <= 0 || size > kMaxChipSize) {
        printf("\nError: emulate=%s: volime=%ld is not a chip size the emulator supports",
               name.c_str(), size);
        return 0;
    }
    params->total_size = static_cast<uint32_t>(size);

    long v = pgm->Get_env_val(line.c_str(), "mnfid", &r);
    params->mnf_id = r == 1 ? static_cast<uint8_t>(v) : 0;
    v = pgm->Get_env_val(line.c_str(), "jedec", &r);
    params->jedec_id = r == 1 ? static_cast<uint16_t>(v) : 0;
    v = pgm->Get_env_val(line.c_str(), "extid", &r);
    params->ext_id = r == 1 ? static_cast<uint16_t>(v) : 0;
    v = pgm->Get_env_val(line.c_str(), "sector", &r);
    params->sector_size = (r == 1 && v > 0) ? static_cast<uint32_t>(v) : 0x10000;
    *erase_list = pgm->Get_env_txt(line.c_str(), "erase", &r);
    return ChipBehaviour(pgm, name, line, params);
}

// emulate_sfdp=ID or ID,FILE: the chip answers ID (manufacturer and two device id bytes)
// and, with FILE, that file's bytes as its SFDP tables.
int ApplySfdpKey(const std::string& value, FlashChipParams* params, std::vector<uint8_t>* sfdp,
                 bool* from_file) {
    const char* text = value.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long id = strtoul(text, &end, 0);
    if (end == text || errno != 0 || id > 0xFFFFFF || (*end != '\0' && *end != ',') ||
        (*end == ',' && end[1] == '\0')) {
        printf("\nError: emulate_sfdp=%s: give the chip id as 0xMMDDDD, or 0xMMDDDD,FILE\n", text);
        return 0;
    }
    params->mnf_id = static_cast<uint8_t>(id >> 16);
    params->jedec_id = static_cast<uint16_t>(id);
    params->ext_id = 0;
    *from_file = *end == ',';
    if (!*from_file) return 1;

    const char* path = end + 1;
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        printf("\nError: can`t read emulate_sfdp file %s: %s\n", path, strerror(errno));
        return 0;
    }
    std::vector<uint8_t> bytes(kMaxSfdpFile + 1);
    const size_t n = fread(bytes.data(), 1, bytes.size(), f);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed || n > kMaxSfdpFile) {
        printf("\nError: emulate_sfdp file %s: unreadable or above %zu bytes\n", path,
               kMaxSfdpFile);
        return 0;
    }
    bytes.resize(n);
    *sfdp = bytes;
    return 1;
}

void PutJsonString(FILE* f, const std::string& s) {
    fputc('"', f);
    for (unsigned char c : s) {
        if (c == '"' || c == '\\')
            fprintf(f, "\\%c", c);
        else if (c < 0x20)
            fprintf(f, "\\u%04x", c);
        else
            fputc(c, f);
    }
    fputc('"', f);
}

}  // namespace

CEmulatedTarget::CEmulatedTarget() {}

CEmulatedTarget* CEmulatedTarget::Create(CTAMREL* pgm) {
    const Setup_struct* s = pgm->setup;
    if (s->emulate_name.empty()) {
        printf("\nError: emulate= names no chip");
        return nullptr;
    }
    Fault fault;
    int interrupt_signal = SIGINT;
    if (!ParseFault(s->emulate_fault, &fault) ||
        !ParseSignal(s->emulate_interrupt_signal, &interrupt_signal))
        return nullptr;
    FlashChipParams params;
    std::string erase_list;
    if (!FindChip(pgm, s->emulate_name, &params, &erase_list)) return nullptr;
    std::vector<uint8_t> sfdp;
    bool sfdp_from_file = false;
    if (!s->emulate_sfdp.empty() && !ApplySfdpKey(s->emulate_sfdp, &params, &sfdp, &sfdp_from_file))
        return nullptr;

    std::unique_ptr<CEmulatedTarget> t(new CEmulatedTarget());
    t->name_ = s->emulate_name;
    t->image_ = s->emulate_image;
    t->status_key_ = s->emulate_status;
    t->global_lock_ = params.global_lock;
    params.status = t->InitialStatus();
    t->stats_path_ = s->emulate_stats;
    t->interrupt_after_ = s->emulate_interrupt_after;
    t->interrupt_signal_ = interrupt_signal;
    t->drop_after_ = s->emulate_drop_after;
    t->chip_.reset(new CFlashChip(params));
    if (t->kept_unlocked_) t->chip_->SetBlocksLocked(false);
    t->chip_->SetFault(fault.chip, fault.slow_ns);
    if (!sfdp_from_file)
        sfdp = Build_Sfdp_Table(params.total_size, params.page_size,
                                EraseTypes(erase_list, *t->chip_), params.four_byte);
    t->chip_->SetSfdp(sfdp);
    t->lpt_.reset(new CEmulatedLpt(t->chip_.get()));
    t->usb_.reset(new CEmulatedUsbBlaster(t->chip_.get()));
    if (fault.no_cable) {
        t->lpt_->RemoveCable();
        t->usb_->Unplug();
    }
    if (!t->image_.empty() && t->LoadImage() != 1) return nullptr;

    t->chip_->SetFrameHook(&CEmulatedTarget::OnFrame, t.get());
    delay_set_sink(&CEmulatedTarget::OnDelay, t.get(), &CEmulatedTarget::Clock);
    t->ready_ = true;
    return t.release();
}

int CEmulatedTarget::Finish() {
    if (!ready_) return 1;
    ready_ = false;
    delay_set_sink(nullptr, nullptr);
    chip_->SetFrameHook(nullptr, nullptr);
    const bool image_ok = WriteImage();
    const bool status_ok = WriteStatus();
    const bool stats_ok = AppendStats();
    return image_ok && status_ok && stats_ok ? 1 : -1;
}

CEmulatedTarget::~CEmulatedTarget() {
    Finish();
}

CPortAccess* CEmulatedTarget::PortAccess() {
    return lpt_.get();
}
CD2xxBackend* CEmulatedTarget::D2xxBackend() {
    return usb_.get();
}

std::string CEmulatedTarget::Description() const {
    return name_ + ", image " + (image_.empty() ? std::string("memory") : image_);
}

// Transfers in flight go on while the host waits.
void CEmulatedTarget::OnDelay(unsigned long long ns, void* ctx) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    t->usb_->RunUntil(t->chip_->Now() + ns);
}

unsigned long long CEmulatedTarget::Clock(void* ctx) {
    return static_cast<CEmulatedTarget*>(ctx)->chip_->Now();
}

void CEmulatedTarget::OnFrame(void* ctx) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    if (t->drop_after_ > 0 && t->chip_->Stats().frames == static_cast<uint64_t>(t->drop_after_)) {
        t->lpt_->Drop();  // the cable is pulled: both ends of it stop answering
        t->usb_->Drop();
    }
    if (t->interrupt_after_ <= 0 || t->interrupted_) return;
    if (t->chip_->Stats().frames >= static_cast<uint64_t>(t->interrupt_after_)) {
        t->interrupted_ = true;
        raise(t->interrupt_signal_);
    }
}

// Loads an existing image of the chip's size, or creates one full of 0xFF.
int CEmulatedTarget::LoadImage() {
    std::vector<uint8_t>& mem = chip_->Memory();
    const char* path = image_.c_str();
    struct stat st;
    if (stat(path, &st) != 0) {
        if (errno != ENOENT) {
            printf("\nError: can`t read emulate_image %s: %s", path, strerror(errno));
            return 0;
        }
        FILE* f = fopen(path, "wb");
        if (f == nullptr) {
            printf("\nError: can`t create emulate_image %s: %s", path, strerror(errno));
            return 0;
        }
        bool ok = fwrite(mem.data(), 1, mem.size(), f) == mem.size();
        if (fclose(f) != 0) ok = false;
        if (!ok) {
            printf("\nError: can`t create emulate_image %s", path);
            remove(path);  // our own half-written file
            return 0;
        }
        return 1;
    }
    if (!S_ISREG(st.st_mode)) {
        printf("\nError: emulate_image %s is not a regular file", path);
        return 0;
    }
    if (static_cast<unsigned long long>(st.st_size) != mem.size()) {
        printf(
            "\nError: emulate_image %s has %lld bytes, the emulated chip %zu; file left as it is",
            path, static_cast<long long>(st.st_size), mem.size());
        return 0;
    }
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        printf("\nError: can`t read emulate_image %s: %s", path, strerror(errno));
        return 0;
    }
    bool ok = fread(mem.data(), 1, mem.size(), f) == mem.size();
    fclose(f);
    if (!ok) {
        printf("\nError: can`t read emulate_image %s", path);
        return 0;
    }
    return 1;
}

// The status register kept beside an image, as "status=0xSS emulate_status=0xKK": what it
// held at the end of the last run, and the emulate_status= value applied to it then. A part
// with per-block locks adds " blocks=locked" or " blocks=unlocked".
std::string CEmulatedTarget::StatusText(uint8_t status, bool locked) const {
    char text[80];
    snprintf(text, sizeof text, "status=0x%02X emulate_status=0x%02X%s\n", status, status_key_,
             !global_lock_ ? ""
             : locked      ? " blocks=locked"
                           : " blocks=unlocked");
    return text;
}

// emulate_status= counts when the image is new, and again whenever its value changes;
// otherwise the register keeps what the last run left in it, an unlock or a protection.
uint8_t CEmulatedTarget::InitialStatus() {
    if (image_.empty()) return status_key_;
    FILE* f = fopen((image_ + ".status").c_str(), "r");
    if (f == nullptr) return status_key_;
    unsigned status = 0, key = 0;
    const bool read = fscanf(f, "status=%x emulate_status=%x", &status, &key) == 2;
    char blocks[16] = "";
    if (read && global_lock_ && fscanf(f, " blocks=%15s", blocks) != 1) blocks[0] = '\0';
    fclose(f);
    if (!read || status > 0xFF || key != status_key_ || access(image_.c_str(), F_OK) != 0)
        return status_key_;
    kept_unlocked_ = strcmp(blocks, "unlocked") == 0;
    status_file_ = StatusText(static_cast<uint8_t>(status), !kept_unlocked_);
    return static_cast<uint8_t>(status);
}

bool CEmulatedTarget::WriteStatus() {
    if (image_.empty()) return true;
    // WEL and busy do not last.
    const std::string text = StatusText(chip_->Status() & 0xFC, chip_->BlocksLocked());
    if (text == status_file_) return true;
    const std::string path = image_ + ".status";
    FILE* f = fopen(path.c_str(), "w");
    bool ok = f != nullptr && fputs(text.c_str(), f) >= 0;
    if (f != nullptr && fclose(f) != 0) ok = false;
    if (!ok) printf("\nError: can`t write emulate_image status %s\n", path.c_str());
    return ok;
}

// Writes the content back in place; an untouched image is not rewritten.
bool CEmulatedTarget::WriteImage() {
    if (image_.empty() || !chip_->Modified()) return true;
    const std::vector<uint8_t>& mem = chip_->Memory();
    FILE* f = fopen(image_.c_str(), "r+b");
    if (f == nullptr) f = fopen(image_.c_str(), "wb");
    bool ok = f != nullptr && fwrite(mem.data(), 1, mem.size(), f) == mem.size();
    int err = errno;
    if (f != nullptr && fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) printf("\nError: can`t write emulate_image %s: %s\n", image_.c_str(), strerror(err));
    return ok;
}

// One JSON line per run.
bool CEmulatedTarget::AppendStats() {
    if (stats_path_.empty()) return true;
    FILE* f = fopen(stats_path_.c_str(), "a");
    if (f == nullptr) {
        printf("\nError: can`t append to emulate_stats %s\n", stats_path_.c_str());
        return false;
    }
    const ChipStats& st = chip_->Stats();
    uint64_t ports = lpt_->Accesses();
    uint64_t usb = usb_->Transfers();
    uint64_t clock_ns = chip_->Now();
    uint64_t wire_ns = clock_ns;  // delays plus the per-access costs charged as they happen

    fputs("{\"chip\":", f);
    PutJsonString(f, name_);
    fputs(",\"image\":", f);
    PutJsonString(f, image_.empty() ? std::string("memory") : image_);
    fprintf(f, ",\"frames\":%llu,\"commands\":{", static_cast<unsigned long long>(st.frames));
    const char* sep = "";
    for (int op = 0; op < 256; ++op) {
        if (st.commands[op] == 0) continue;
        fprintf(f, "%s\"0x%02X\":%llu", sep, op, static_cast<unsigned long long>(st.commands[op]));
        sep = ",";
    }
    fprintf(f, "},\"bytes_read\":%llu,\"bytes_programmed\":%llu,\"erases\":{",
            static_cast<unsigned long long>(st.bytes_read),
            static_cast<unsigned long long>(st.bytes_programmed));
    sep = "";
    for (const auto& e : st.erases) {
        fprintf(f, "%s\"%u\":%llu", sep, e.first, static_cast<unsigned long long>(e.second));
        sep = ",";
    }
    fprintf(f,
            "},\"four_byte_mode\":%s,\"port_accesses\":%llu,\"usb_transfers\":%llu,"
            "\"clock_ns\":%llu,"
            "\"wire_time_ns\":%llu,\"wire_time_s\":%.6f}\n",
            chip_->FourByteMode() ? "true" : "false", static_cast<unsigned long long>(ports),
            static_cast<unsigned long long>(usb), static_cast<unsigned long long>(clock_ns),
            static_cast<unsigned long long>(wire_ns), static_cast<double>(wire_ns) / 1e9);
    if (fclose(f) == 0) return true;
    printf("\nError: can`t append to emulate_stats %s\n", stats_path_.c_str());
    return false;
}
