#include "emulator/flash_chip.h"

#include <algorithm>
#include <cstring>

#include "flash/spi_opcodes.h"

namespace {

// Busy times on the virtual clock, in nanoseconds.
const uint64_t kPageProgramNs = 700000ULL;    // 0.7 ms
const uint64_t kStatusWriteNs = 10000000ULL;  // 10 ms
const uint64_t kErase4kNs = 45000000ULL;      // 45 ms
const uint64_t kErase64kNs = 150000000ULL;    // 150 ms
const uint64_t kChipEraseNsPerMiB = 1000000000ULL;

// Unit erase time: 45 ms up to 4 KiB, a straight line from 4 KiB to 64 KiB (8 KiB: 52 ms,
// 32 KiB: 94 ms), and 150 ms per 64 KiB above that.
uint64_t EraseTimeNs(uint32_t size) {
    if (size <= 0x1000) return kErase4kNs;
    if (size <= 0x10000)
        return kErase4kNs + (kErase64kNs - kErase4kNs) * (size - 0x1000) / (0x10000 - 0x1000);
    return kErase64kNs * size / 0x10000;
}

// The 3-byte-address command of a 4-byte opcode; 0 for other opcodes.
uint8_t ThreeByteTwin(uint8_t opcode) {
    for (uint8_t op : {SPI_READ, SPI_PAGE_PROGRAM, SPI_ERASE_4K, SPI_ERASE_32K, SPI_ERASE_SECTOR})
        if (Four_Byte_Opcode(op) == opcode) return op;
    return 0;
}

bool TakesAddress(uint8_t opcode) {
    switch (opcode) {
        case SPI_READ:
        case SPI_PAGE_PROGRAM:
        case SPI_ERASE_4K:
        case SPI_ERASE_8K:
        case SPI_ERASE_32K:
        case SPI_ERASE_SECTOR:
            return true;
        default:
            return false;
    }
}

}  // namespace

uint64_t Flash_Erase_Ns(uint32_t size) {
    return EraseTimeNs(size);
}

uint64_t Flash_Program_Ns() {
    return kPageProgramNs;
}

uint64_t Flash_Chip_Erase_Ns(uint32_t total_size) {
    return static_cast<uint64_t>(total_size) * kChipEraseNsPerMiB / 0x100000;
}

CFlashChip::CFlashChip(const FlashChipParams& params)
    : params_(params), mem_(params.total_size, 0xFF), sr_(params.status & 0xFC) {
    if (params_.sector_size == 0) params_.sector_size = 0x10000;
    const uint32_t page = params_.page_size;
    if (page == 0 || (page & (page - 1)) != 0) params_.page_size = 256;
    page_data_.assign(params_.page_size, 0xFF);
    page_touched_.assign(params_.page_size, false);
    locked_ = params_.global_lock;
}

void CFlashChip::SetPins(bool cs, bool sck, bool mosi, bool wp) {
    mosi_ = mosi;
    wp_ = wp && fault_ != ChipFault::WpHeldLow;
    if (cs != cs_) {
        cs_ = cs;
        sck_ = sck;
        if (cs)
            EndFrame();
        else
            BeginFrame();
        return;
    }
    if (sck == sck_) return;
    sck_ = sck;
    if (cs) return;
    if (sck) {
        // Rising edge: take MOSI. MISO keeps its level until the falling edge.
        shift_in_ = static_cast<uint8_t>((shift_in_ << 1) | (mosi ? 1 : 0));
        if (++bits_ == 8) {
            bits_ = 0;
            ByteReceived(shift_in_);
        }
    } else {
        // Falling edge: present the next bit, so it is valid before the next rising edge.
        miso_ = ((out_ >> (7 - bits_)) & 1) != 0;
    }
}

uint8_t CFlashChip::ClockByte(uint8_t out, bool wp) {
    wp_ = wp && fault_ != ChipFault::WpHeldLow;
    // The first bit is the level MISO holds now; the falling edges of the byte then present
    // bits 6..0 of the byte being shifted out.
    uint8_t in = static_cast<uint8_t>((miso_ ? 0x80 : 0x00) | (out_ & 0x7F));
    if (fault_ == ChipFault::MisoStuckHigh) in = 0xFF;
    if (fault_ == ChipFault::MisoStuckLow) in = 0x00;
    mosi_ = (out & 1) != 0;
    shift_in_ = out;
    bits_ = 0;
    ByteReceived(out);
    miso_ = (out_ & 0x80) != 0;  // the last falling edge presents the next byte's first bit
    return in;
}

void CFlashChip::Select() {
    SetPins(false, false, mosi_, wp_);
}

uint8_t CFlashChip::Exchange(uint8_t out) {
    uint8_t in = 0;
    for (int i = 7; i >= 0; --i) {
        bool bit = ((out >> i) & 1) != 0;
        SetPins(false, false, bit, wp_);
        SetPins(false, true, bit, wp_);
        in = static_cast<uint8_t>((in << 1) | (Miso() ? 1 : 0));
        SetPins(false, false, bit, wp_);
    }
    return in;
}

void CFlashChip::Deselect() {
    SetPins(true, false, mosi_, wp_);
}

bool CFlashChip::Protected(uint32_t addr) const {
    if (fault_ == ChipFault::OneBlockLocked && (sr_ & 0x1C) == 0)
        return locked_ && addr / 0x10000 == 1;
    return Protected();
}

void CFlashChip::SetFault(ChipFault fault, uint64_t slow_ns) {
    fault_ = fault;
    slow_ns_ = slow_ns;
    if (fault == ChipFault::WpHeldLow) wp_ = false;
}

uint8_t CFlashChip::Status() const {
    bool running = now_ < busy_until_;
    uint8_t s = sr_;
    if (wel_ || running) s |= STATUS_WEL;  // the latch reads set until the operation ends
    if (Busy()) s |= STATUS_BUSY;
    return s;
}

std::vector<uint8_t>& CFlashChip::Memory() {
    return mem_;
}
const FlashChipParams& CFlashChip::Params() const {
    return params_;
}
const ChipStats& CFlashChip::Stats() const {
    return stats_;
}

void CFlashChip::SetFrameHook(void (*hook)(void* ctx), void* ctx) {
    frame_hook_ = hook;
    frame_hook_ctx_ = ctx;
}

bool CFlashChip::Busy() const {
    return now_ < busy_until_;
}

// A hung chip: the first program, erase or status write it takes never finishes. A slow one
// takes its set time for each.
void CFlashChip::StartBusy(uint64_t ns, bool program_or_erase) {
    if (program_or_erase && params_.flag_status) fsr_pending_ = true;
    if (fault_ == ChipFault::Slow) ns = slow_ns_;
    busy_until_ = fault_ == ChipFault::StaysBusy ? UINT64_MAX : now_ + ns;
}

void CFlashChip::BeginFrame() {
    ++stats_.frames;
    index_ = 0;
    bits_ = 0;
    shift_in_ = 0;
    opcode_ = 0;
    ignored_ = false;
    addr_ = 0;
    out_ = 0xFF;
    miso_ = true;
}

void CFlashChip::ByteReceived(uint8_t in) {
    if (index_ == 0) {
        ++stats_.commands[in];
        // Registers read while busy; a stacked-die part waits for its flag status read.
        const bool register_read = in == SPI_READ_STATUS || HasRegister(in);
        ignored_ = (!register_read && Busy()) || WaitsForFlagStatus(in);
        opcode_ = in;
        addr_len_ = 0;
        const bool die_erase = params_.die_erase != 0 && in == params_.die_erase;
        // A 4-byte opcode works as its 3-byte twin with four address bytes.
        const uint8_t twin = ThreeByteTwin(in);
        if (twin && params_.four_byte == FourByte::Opcodes) {
            opcode_ = twin;
            addr_len_ = 4;
        } else if (TakesAddress(in) || die_erase) {
            addr_len_ = four_byte_mode_ ? 4 : 3;
        } else if (in == SPI_READ_SFDP) {
            addr_len_ = 3;  // in either address mode
        }
        if (opcode_ == SPI_PAGE_PROGRAM) page_touched_.assign(page_touched_.size(), false);
    } else if (!ignored_) {
        if (index_ <= addr_len_) {
            // Three address bytes reach the lowest 16 MiB only, or the 16 MiB the extended
            // address register selects.
            addr_ = (addr_ << 8) | in;
            if (index_ == addr_len_ && !mem_.empty() && opcode_ != SPI_READ_SFDP) {
                if (addr_len_ == 3) addr_ |= static_cast<uint32_t>(ear_) << 24;
                addr_ %= static_cast<uint32_t>(mem_.size());
            }
        } else if (opcode_ == SPI_READ) {
            ++stats_.bytes_read;
        } else if (opcode_ == SPI_PAGE_PROGRAM) {
            // Data wraps inside the page; a later byte replaces an earlier one.
            const uint32_t off = (addr_ + (index_ - addr_len_ - 1)) & (params_.page_size - 1);
            page_data_[off] = in;
            page_touched_[off] = true;
        } else if ((opcode_ == SPI_WRITE_STATUS ||
                    (params_.ear_opcode && opcode_ == params_.ear_opcode)) &&
                   index_ == 1) {
            wrsr_value_ = in;
        }
    }
    ++index_;
    out_ = NextReply();
}

// The byte the chip shifts out at frame position index_.
uint8_t CFlashChip::NextReply() {
    if (ignored_) return 0xFF;
    if (opcode_ != SPI_READ_STATUS && index_ >= 1 && HasRegister(opcode_))
        return ReadRegister(opcode_);
    switch (opcode_) {
        case SPI_READ_JEDEC:
            switch (index_) {
                case 1:
                    return params_.mnf_id;
                case 2:
                    return static_cast<uint8_t>(params_.jedec_id >> 8);
                case 3:
                    return static_cast<uint8_t>(params_.jedec_id);
                case 4:
                    return static_cast<uint8_t>(params_.ext_id >> 8);
                case 5:
                    return static_cast<uint8_t>(params_.ext_id);
                default:
                    return 0x00;
            }
        case SPI_READ_STATUS:
            return Status();
        case SPI_READ_SFDP:
            // Address, one dummy byte, then the table.
            if (index_ <= addr_len_ + 1u || addr_ >= sfdp_.size()) return 0xFF;
            return sfdp_[addr_++];
        case SPI_READ_BLOCK_PROTECTION:
            if (!params_.global_lock) return 0xFF;
            if (!locked_) return 0x00;
            if (fault_ != ChipFault::OneBlockLocked) return 0xFF;
            // Sent from the top bit down: bit 0 is in the register's last byte.
            return index_ == (params_.total_size / 0x10000 + 16 + 7) / 8 ? 0x01 : 0x00;
        case SPI_READ:
            if (index_ <= addr_len_ || mem_.empty()) return 0xFF;
            {
                uint8_t v = mem_[addr_];
                if (++addr_ >= mem_.size()) addr_ = 0;  // continuous read wraps at the end
                return v;
            }
        default:
            return 0xFF;
    }
}

void CFlashChip::EndFrame() {
    bool whole = bits_ == 0;
    bits_ = 0;
    miso_ = true;
    if (index_ > 0 && whole && !ignored_ && params_.die_erase && opcode_ == params_.die_erase) {
        if (index_ == addr_len_ + 1u && wel_) {
            wel_ = false;
            if (!Protected(addr_)) {
                Erase(addr_, params_.die_size);
                StartBusy(Flash_Chip_Erase_Ns(params_.die_size), true);
            }
        }
    } else if (index_ > 0 && whole && !ignored_ &&
               (params_.ear_opcode && opcode_ == params_.ear_opcode)) {
        if (index_ >= 2 && wel_) {
            wel_ = false;
            ear_ = wrsr_value_;
        }
    } else if (index_ > 0 && whole && !ignored_) {
        switch (opcode_) {
            case SPI_WRITE_ENABLE:
                if (index_ == 1 && fault_ != ChipFault::WelNeverSets) wel_ = true;
                break;
            case SPI_WRITE_DISABLE:
                if (index_ == 1) wel_ = false;
                break;
            case SPI_PAGE_PROGRAM:
                if (index_ >= addr_len_ + 2u && wel_) {
                    wel_ = false;
                    if (!Protected(addr_)) {
                        ProgramPage();
                        StartBusy(kPageProgramNs, true);
                    }
                }
                break;
            case SPI_ERASE_4K:
            case SPI_ERASE_8K:
            case SPI_ERASE_32K:
            case SPI_ERASE_SECTOR:
                if (index_ == addr_len_ + 1u && wel_) {
                    wel_ = false;
                    const uint32_t size = EraseSize(opcode_);
                    if (!Protected(addr_)) {
                        Erase(addr_, size);
                        StartBusy(EraseTimeNs(size), true);
                    }
                }
                break;
            case SPI_CHIP_ERASE:
            case SPI_CHIP_ERASE_ALT:
                // A part without this opcode ignores it and keeps its latch.
                if (index_ == 1 && wel_ && ChipErase(opcode_)) {
                    wel_ = false;
                    if (!Protected()) {
                        Erase(0, params_.total_size);
                        StartBusy(Flash_Chip_Erase_Ns(params_.total_size), true);
                    }
                }
                break;
            case SPI_ENTER_4BYTE:
            case SPI_EXIT_4BYTE:
                if (index_ == 1 && params_.four_byte != FourByte::None) {
                    if (params_.four_byte == FourByte::ModeNeedsWel) {
                        if (!wel_) break;
                        wel_ = false;
                    }
                    four_byte_mode_ = opcode_ == SPI_ENTER_4BYTE;
                    if (!four_byte_mode_ && params_.ear_opcode) ear_ = 1;
                }
                break;
            case SPI_GLOBAL_UNLOCK:
                if (index_ == 1 && wel_ && params_.global_lock) {
                    wel_ = false;
                    locked_ = false;
                }
                break;
            case SPI_WRITE_STATUS:
                if (index_ >= 2 && wel_ && fault_ != ChipFault::IgnoresWriteStatus) {
                    wel_ = false;
                    // SRP set with WP# low locks the status register.
                    if (!((sr_ & STATUS_SRP) && !wp_)) {
                        sr_ = wrsr_value_ & 0xFC;
                        StartBusy(kStatusWriteNs);
                    }
                }
                break;
            default:
                break;
        }
    }
    if (frame_hook_) frame_hook_(frame_hook_ctx_);
}

uint32_t CFlashChip::ErasedBy(uint8_t opcode) const {
    switch (opcode) {
        case SPI_ERASE_4K:
        case SPI_ERASE_8K:
        case SPI_ERASE_32K:
        case SPI_ERASE_SECTOR:
            return EraseSize(opcode);
        default:
            return 0;
    }
}

uint32_t CFlashChip::EraseSize(uint8_t opcode) const {
    switch (opcode) {
        case SPI_ERASE_4K:
            return params_.erase_20;
        case SPI_ERASE_8K:
            return params_.erase_40;
        case SPI_ERASE_32K:
            return params_.erase_52;
        default:
            return params_.sector_size;
    }
}

bool CFlashChip::WaitsForFlagStatus(uint8_t opcode) const {
    if (!params_.flag_status || !fsr_pending_) return false;
    const uint8_t op = ThreeByteTwin(opcode) ? ThreeByteTwin(opcode) : opcode;
    return op == SPI_WRITE_ENABLE || op == SPI_PAGE_PROGRAM || ErasedBy(op) != 0 ||
           op == SPI_CHIP_ERASE || op == SPI_CHIP_ERASE_ALT ||
           (params_.die_erase && op == params_.die_erase);
}

// The flag status register: bit 7 ready, and the 4-byte mode bits where ads= names it. A
// ready reading lets a stacked-die part take commands again.
bool CFlashChip::HasRegister(uint8_t opcode) const {
    const bool fsr = opcode == SPI_READ_FLAG_STATUS &&
                     (params_.flag_status || params_.ads_opcode == SPI_READ_FLAG_STATUS);
    return fsr || (params_.ads_opcode != 0 && opcode == params_.ads_opcode);
}

uint8_t CFlashChip::ReadRegister(uint8_t opcode) {
    if (!HasRegister(opcode)) return 0xFF;
    const bool fsr = opcode == SPI_READ_FLAG_STATUS;
    const bool ads = params_.ads_opcode != 0 && opcode == params_.ads_opcode;
    uint8_t value = ads && four_byte_mode_ ? params_.ads_mask : 0;
    if (fsr && !Busy()) {
        value |= FLAG_STATUS_READY;
        fsr_pending_ = false;
    }
    return value;
}

bool CFlashChip::ChipErase(uint8_t opcode) const {
    return opcode == SPI_CHIP_ERASE ? params_.erases_c7 : params_.erases_60;
}

void CFlashChip::Erase(uint32_t addr, uint32_t size) {
    ++stats_.erases[size];
    uint32_t total = static_cast<uint32_t>(mem_.size());
    if (total == 0 || size == 0) return;
    uint32_t base = addr - addr % size;
    uint32_t end = base + std::min(size, total - base);
    std::fill(mem_.begin() + base, mem_.begin() + end, 0xFF);
    Touch(base, end);
}

void CFlashChip::Touch(uint32_t from, uint32_t to) {
    if (!modified_ || from < modified_from_) modified_from_ = from;
    if (!modified_ || to > modified_to_) modified_to_ = to;
    modified_ = true;
}

void CFlashChip::ProgramPage() {
    const uint32_t page = params_.page_size;
    const uint32_t base = addr_ & ~(page - 1);
    for (uint32_t off = 0; off < page; ++off) {
        if (!page_touched_[off]) continue;
        ++stats_.bytes_programmed;
        if (base + off < mem_.size()) mem_[base + off] &= page_data_[off];  // bits only go 1 -> 0
    }
    const uint32_t total = static_cast<uint32_t>(mem_.size());
    if (base < total) Touch(base, std::min(base + page, total));
}
