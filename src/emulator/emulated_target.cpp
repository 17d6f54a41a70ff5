#include "emulator/emulated_target.h"

#include <fcntl.h>
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
#include "chipdb/chip_db.h"
#include "chipdb/chip_record.h"
#include "emulator/emulated_lpt.h"
#include "emulator/emulated_usb_bus.h"
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

// The largest size the record's erase= gives `opcode` or its 4-byte twin: a part that
// answers an id other parts share is played as the one that erases most. `fallback` when
// neither is listed.
uint32_t ErasedSize(const ChipRecord& rec, uint8_t opcode, uint32_t fallback) {
    const uint32_t three = Erase_List_Largest(rec.erase, opcode);
    const uint32_t four = Erase_List_Largest(rec.erase, Four_Byte_Opcode(opcode));
    const uint32_t largest = three > four ? three : four;
    return largest ? largest : fallback;
}

// The part the record describes: ids, geometry, erase sizes, 4-byte addressing, chip and die
// erase, locking, protection bits, flag status and the 4-byte mode registers.
int ChipBehaviour(const std::string& name, const ChipRecord& rec, FlashChipParams* params) {
    if (rec.total_size == 0 || rec.total_size > kMaxChipSize) {
        printf("\nError: emulate=%s: volime=%u is not a chip size the emulator supports",
               name.c_str(), rec.total_size);
        return 0;
    }
    const uint32_t page = rec.page_size;
    if (rec.has_page && (page == 0 || page > 0x8000 || (page & (page - 1)) != 0)) {
        printf("\nError: emulate=%s: page=%u is not a page size the emulator supports\n",
               name.c_str(), page);
        return 0;
    }
    params->total_size = rec.total_size;
    params->page_size = page;
    params->mnf_id = rec.mnf_id;
    params->jedec_id = rec.jedec_id;
    params->ext_id = rec.ext_id;
    params->sector_size =
        ErasedSize(rec, SPI_ERASE_SECTOR, rec.sector_size ? rec.sector_size : 0x10000);
    params->erase_20 = ErasedSize(rec, SPI_ERASE_4K, 0x1000);
    params->erase_40 = ErasedSize(rec, SPI_ERASE_8K, 0x2000);
    params->erase_52 = ErasedSize(rec, SPI_ERASE_32K, 0x8000);
    const FourByte modes[] = {FourByte::None, FourByte::Opcodes, FourByte::Mode,
                              FourByte::ModeNeedsWel};  // ADDR4_* order
    params->four_byte = modes[rec.addr4];
    params->erases_c7 = rec.chip_erase == SPI_CHIP_ERASE;
    params->erases_60 = rec.chip_erase == SPI_CHIP_ERASE_ALT;
    params->global_lock = rec.unlock == UNLOCK_ULBPR;
    params->protect_mask = rec.protect_mask;
    params->flag_status = rec.poll == POLL_FSR;
    params->die_erase = rec.die_erase;
    params->die_size = rec.die_size;
    params->ads_opcode = rec.ads_opcode;
    params->ads_mask = rec.ads_mask;
    params->ear_opcode = rec.ear_opcode;
    return 1;
}

// Erase types of a record's erase= list, sized as the part erases them; a 4 KiB and a sector
// erase when the record has no list. 4-byte opcodes are left out: the basic table names the
// 3-byte ones.
std::vector<SfdpEraseSpec> EraseTypes(const std::vector<EraseItem>& items, const CFlashChip& chip) {
    std::vector<SfdpEraseSpec> types;
    for (const EraseItem& item : items) {
        const uint32_t size = chip.ErasedBy(item.opcode);
        bool named = false;
        for (const SfdpEraseSpec& t : types) named = named || t.opcode == item.opcode;
        if (size != 0 && !named && types.size() < 4) types.push_back({item.opcode, size});
    }
    if (types.empty())
        types = {{SPI_ERASE_4K, 0x1000}, {SPI_ERASE_SECTOR, chip.ErasedBy(SPI_ERASE_SECTOR)}};
    std::stable_sort(
        types.begin(), types.end(),
        [](const SfdpEraseSpec& a, const SfdpEraseSpec& b) { return a.size < b.size; });
    return types;
}

// The part of the flash_db.cfg record that -n= would take for `name`, read by the
// database's own parser.
int FindChip(CTAMREL* pgm, const std::string& name, FlashChipParams* params,
             std::vector<EraseItem>* erase) {
    std::string line, path;
    uint32_t saved_pos = pgm->key_pos;
    const int found = Chip_Db_ByName(pgm, name, &line, &path);
    pgm->key_pos = saved_pos;
    if (found == -1) return 0;  // the reader has said it cannot open the file
    if (found == 1) Chip_Db_Taken_From(pgm, path);
    if (found != 1) {
        printf("\nError: emulate=%s: no record in flash_db.cfg has a name beginning with it",
               name.c_str());
        return 0;
    }
    ChipRecord rec;
    std::string why;
    if (Parse_Chip_Record(pgm, line.c_str(), &rec, &why) != 1) {
        printf("\nError: emulate=%s: %s", name.c_str(), why.c_str());
        return 0;
    }
    *erase = rec.erase;
    return ChipBehaviour(name, rec, params);
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

// A missing image, written full of 0xFF beside it and linked into place whole, so that a run
// starting meanwhile finds it complete or not at all. 1 made; -1 there already (another run
// made it first: nothing is overwritten); 0 failed (said).
int CreateImage(const char* path, size_t size) {
    std::string part = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(&part[0]);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (f == nullptr) {
        printf("\nError: can`t create emulate_image %s: %s", path, strerror(errno));
        if (fd >= 0) close(fd), unlink(part.c_str());
        return 0;
    }
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    static const std::vector<uint8_t> erased(0x10000, 0xFF);
    for (size_t done = 0; ok && done < size; done += erased.size())
        ok = fwrite(erased.data(), 1, std::min(erased.size(), size - done), f) ==
             std::min(erased.size(), size - done);
    if (fclose(f) != 0) ok = false;
    int made = 0;
    if (!ok)
        printf("\nError: can`t create emulate_image %s", path);
    else if (link(part.c_str(), path) == 0)
        made = 1;
    else if (errno == EEXIST)
        made = -1;
    else
        printf("\nError: can`t create emulate_image %s: %s", path, strerror(errno));
    unlink(part.c_str());
    return made;
}

// The image at `path`, created full of 0xFF when missing (`created`), else found a regular
// file of `size` bytes. 1, or 0 after an "Error:" line with the file left as it is.
int ReadyImage(const char* path, size_t size, bool* created) {
    *created = false;
    struct stat st;
    if (stat(path, &st) != 0) {
        const int made = errno == ENOENT ? CreateImage(path, size) : -1;
        *created = made == 1;
        if (made != -1) return made;
        if (stat(path, &st) != 0) {
            printf("\nError: can`t read emulate_image %s: %s", path, strerror(errno));
            return 0;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        printf("\nError: emulate_image %s is not a regular file", path);
        return 0;
    }
    if (static_cast<unsigned long long>(st.st_size) != size) {
        printf(
            "\nError: emulate_image %s has %lld bytes, the emulated chip %zu; file left as it is",
            path, static_cast<long long>(st.st_size), size);
        return 0;
    }
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

CEmulatedTarget* CEmulatedTarget::Create(CTAMREL* pgm, bool listing) {
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
    std::unique_ptr<CEmulatedTarget> t(new CEmulatedTarget());
    if (!FindChip(pgm, s->emulate_name, &t->params_, &t->erase_list_)) return nullptr;
    if (!s->emulate_sfdp.empty() &&
        !ApplySfdpKey(s->emulate_sfdp, &t->params_, &t->sfdp_, &t->sfdp_from_file_))
        return nullptr;
    // Without a list, one cable of each kind with the board of emulate_image=.
    EmulatedBoard single;
    single.image = s->emulate_image;
    single.serial = "00000000";
    t->usb_boards_ = {single};
    t->lpt_boards_ = {single};
    if (!s->emulate_usb.empty() &&
        !Parse_Emulated_Boards("emulate_usb", s->emulate_usb, true, &t->usb_boards_))
        return nullptr;
    if (!s->emulate_lpt.empty() &&
        !Parse_Emulated_Boards("emulate_lpt", s->emulate_lpt, false, &t->lpt_boards_))
        return nullptr;

    t->name_ = s->emulate_name;
    t->status_key_ = s->emulate_status;
    t->global_lock_ = t->params_.global_lock;
    t->stats_path_ = s->emulate_stats;
    t->interrupt_after_ = s->emulate_interrupt_after;
    t->interrupt_signal_ = interrupt_signal;
    t->drop_after_ = s->emulate_drop_after;
    t->kill_after_ = s->emulate_kill_after;
    if (!s->emulate_poke.empty() && !ParsePoke(s->emulate_poke, t->params_.total_size, t.get()))
        return nullptr;
    t->fault_ = fault.chip;
    t->slow_ns_ = fault.slow_ns;
    t->lpt_.reset(new CEmulatedLpt(t->lpt_boards_, &CEmulatedTarget::Attach_Lpt, t.get()));
    t->usb_.reset(new CEmulatedUsbBus(t->usb_boards_, &CEmulatedTarget::Attach_Usb, t.get()));
    if (fault.no_cable) {
        t->lpt_->RemoveCable();
        t->usb_->Unplug();
    }
    if (listing) return t.release();

    // The one board there is is wired now; of a bench's boards the one whose cable opens,
    // and each has a sound image from the start, so that runs in parallel lock the same file
    // and a broken one is refused before any cable.
    const bool usb = s->use_usb != 0;
    if ((usb ? s->emulate_usb : s->emulate_lpt).empty()) {
        if (!t->Attach(usb ? t->usb_boards_[0] : t->lpt_boards_[0])) return nullptr;
    } else {
        bool created = false;
        for (const EmulatedBoard& b : usb ? t->usb_boards_ : t->lpt_boards_)
            if (!ReadyImage(b.image.c_str(), t->params_.total_size, &created)) return nullptr;
    }
    delay_set_sink(&CEmulatedTarget::OnDelay, t.get(), &CEmulatedTarget::Clock);
    t->ready_ = true;
    return t.release();
}

CFlashChip* CEmulatedTarget::Attach_Usb(void* ctx, size_t k) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    return t->Attach(t->usb_boards_[k]);
}

CFlashChip* CEmulatedTarget::Attach_Lpt(void* ctx, size_t k) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    return t->Attach(t->lpt_boards_[k]);
}

CFlashChip* CEmulatedTarget::Attach(const EmulatedBoard& board) {
    if (chip_) return board.image == image_ ? chip_.get() : nullptr;
    image_ = board.image;
    FlashChipParams params = params_;
    params.status = InitialStatus();
    std::unique_ptr<CFlashChip> chip(new CFlashChip(params));
    if (kept_unlocked_) chip->SetBlocksLocked(false);
    chip->SetFault(fault_, slow_ns_);
    chip->SetSfdp(sfdp_from_file_
                      ? sfdp_
                      : Build_Sfdp_Table(params.total_size, params.page_size,
                                         EraseTypes(erase_list_, *chip), params.four_byte));
    chip_ = std::move(chip);
    if (!image_.empty() && LoadImage() != 1) {
        chip_.reset();
        image_.clear();
        return nullptr;
    }
    chip_->SetFrameHook(&CEmulatedTarget::OnFrame, this);
    return chip_.get();
}

int CEmulatedTarget::Finish() {
    if (!ready_) return 1;
    ready_ = false;
    delay_set_sink(nullptr, nullptr);
    if (!chip_) return 1;  // no board was wired: nothing happened to any
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

// Transfers in flight go on while the host waits; before a board is wired nothing waits.
void CEmulatedTarget::OnDelay(unsigned long long ns, void* ctx) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    if (!t->chip_) return;
    if (t->usb_->Chip() == t->chip_.get())
        t->usb_->RunUntil(t->chip_->Now() + ns);
    else
        t->chip_->AdvanceTime(ns);
}

unsigned long long CEmulatedTarget::Clock(void* ctx) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    return t->chip_ ? t->chip_->Now() : 0;
}

// emulate_poke=N,ADDR,BYTE.
bool CEmulatedTarget::ParsePoke(const std::string& value, uint32_t size, CEmulatedTarget* t) {
    unsigned long long frame = 0;
    long addr = 0;
    int byte = 0;
    char tail = 0;
    if (sscanf(value.c_str(), "%llu,%li,%i%c", &frame, &addr, &byte, &tail) != 3 || frame == 0 ||
        addr < 0 || static_cast<unsigned long>(addr) >= size || byte < 0 || byte > 0xFF) {
        printf("\nError: emulate_poke=%s: give FRAMES,ADDRESS,BYTE inside the chip\n",
               value.c_str());
        return false;
    }
    t->poke_frame_ = frame;
    t->poke_addr_ = static_cast<uint32_t>(addr);
    t->poke_byte_ = static_cast<uint8_t>(byte);
    return true;
}

void CEmulatedTarget::OnFrame(void* ctx) {
    CEmulatedTarget* t = static_cast<CEmulatedTarget*>(ctx);
    const uint64_t frames = t->chip_->Stats().frames;
    if (t->poke_frame_ == frames) {
        t->chip_->Memory()[t->poke_addr_] &= t->poke_byte_;  // a program: bits only go to 0
        t->poked_ = true;
    }
    if (t->kill_after_ > 0 && frames == static_cast<uint64_t>(t->kill_after_)) {
        // Power and process gone at once: the chip keeps what it holds at this frame, and
        // the tool writes nothing more.
        t->WriteImage();
        t->WriteStatus();
        kill(getpid(), SIGKILL);
    }
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
    bool created = false;
    if (ReadyImage(path, mem.size(), &created) != 1) return 0;
    if (created) return 1;  // it holds what the memory holds
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

// Writes the content back in place: only the bytes the run may have changed, so that a large
// image costs little; an untouched image is not rewritten. A file gone since it was read is
// written whole.
bool CEmulatedTarget::WriteImage() {
    if (image_.empty() || !(chip_->Modified() || poked_)) return true;
    const std::vector<uint8_t>& mem = chip_->Memory();
    size_t from = chip_->ModifiedFrom(), to = chip_->ModifiedTo();
    FILE* f = fopen(image_.c_str(), "r+b");
    if (f == nullptr) {
        f = fopen(image_.c_str(), "wb");
        from = 0, to = mem.size();
    }
    bool ok = f != nullptr && fseek(f, static_cast<long>(from), SEEK_SET) == 0 &&
              fwrite(mem.data() + from, 1, to - from, f) == to - from;
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
            "},\"four_byte_mode\":%s,\"extended_address\":%u,\"port_accesses\":%llu,"
            "\"usb_transfers\":%llu,\"clock_ns\":%llu,"
            "\"wire_time_ns\":%llu,\"wire_time_s\":%.6f}\n",
            chip_->FourByteMode() ? "true" : "false", chip_->ExtendedAddress(),
            static_cast<unsigned long long>(ports), static_cast<unsigned long long>(usb),
            static_cast<unsigned long long>(clock_ns), static_cast<unsigned long long>(wire_ns),
            static_cast<double>(wire_ns) / 1e9);
    if (fclose(f) == 0) return true;
    printf("\nError: can`t append to emulate_stats %s\n", stats_path_.c_str());
    return false;
}
