// A SPI NOR flash chip at pin level (CS#, SCK, MOSI, WP# in; MISO out; mode 0, MSB first),
// with busy times on a virtual clock.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

// What a part knows of 4-byte addresses: nothing; 4-byte opcodes (0x13, 0x12, 0x21, 0x5C,
// 0xDC) and the 4-byte mode; the 4-byte mode only (0xB7 enters, 0xE9 leaves); the mode,
// entered and left only with the write enable latch set.
enum class FourByte { None, Opcodes, Mode, ModeNeedsWel };

struct FlashChipParams {
    uint8_t mnf_id = 0xEF;
    uint16_t jedec_id = 0x4016;
    uint16_t ext_id = 0;
    uint32_t total_size = 0x400000;
    uint32_t sector_size = 0x10000;  // size erased by 0xD8
    uint8_t status = 0;              // status register at power-up
    uint32_t page_size = 256;        // a power of two; a program wraps inside its page
    FourByte four_byte = FourByte::None;
    bool erases_c7 = true;  // chip erase opcodes the part has
    bool erases_60 = true;
    // Every block write-locked at power-up until the global unlock 0x98 (SST26-like);
    // 0x72 reads the lock bits.
    bool global_lock = false;
    uint32_t erase_20 = 0x1000;  // sizes erased by 0x20, 0x40 and 0x52
    uint32_t erase_40 = 0x2000;
    uint32_t erase_52 = 0x8000;
    uint8_t protect_mask = 0x1C;  // status bits of which any one set protects the array
    // A stacked-die part: it takes no write enable, program or erase until its flag status
    // register (0x70, bit 7 ready) has been read showing ready after the last program or erase.
    bool flag_status = false;
    uint8_t die_erase = 0;  // die erase opcode (0: none) and the die it erases
    uint32_t die_size = 0;
    uint8_t ads_opcode = 0;  // a register read that shows 4-byte mode in ads_mask
    uint8_t ads_mask = 0;
    // Writes the extended address register, the top address byte of 3-byte commands. The
    // part leaves the register at 1 when it leaves 4-byte mode (W25Q256FV-like). 0: none.
    uint8_t ear_opcode = 0;
};

// Busy times of the model on its virtual clock, in nanoseconds.
uint64_t Flash_Erase_Ns(uint32_t size);  // one unit erase of `size` bytes
uint64_t Flash_Program_Ns();             // one page program
uint64_t Flash_Chip_Erase_Ns(uint32_t total_size);

// StaysBusy: the first program, erase or status write never finishes (a hung chip).
// Slow: every program, erase and status write keeps the chip busy for a set time, then it is
// ready as usual. WpHeldLow: the board ties WP# low (hardware write protection).
// IgnoresWriteStatus: the part takes no status register write. OneBlockLocked: a part with
// per-block locks comes up with only block protection bit 0 set (the 64 KiB block at
// 0x10000, the last byte 0x72 sends), not all of them.
enum class ChipFault {
    None,
    MisoStuckHigh,
    MisoStuckLow,
    WelNeverSets,
    StaysBusy,
    Slow,
    WpHeldLow,
    IgnoresWriteStatus,
    OneBlockLocked,
};

struct ChipStats {
    uint64_t frames = 0;
    uint64_t commands[256] = {};
    uint64_t bytes_read = 0;
    uint64_t bytes_programmed = 0;
    std::map<uint32_t, uint64_t> erases;  // erase size in bytes -> count (chip erase: total size)
};

class CFlashChip {
public:
    explicit CFlashChip(const FlashChipParams& params);

    // Pin level: apply the levels driven by the cable; edges are detected internally.
    void SetPins(bool cs, bool sck, bool mosi, bool wp);
    bool Miso() const {
        if (fault_ == ChipFault::MisoStuckHigh) return true;
        if (fault_ == ChipFault::MisoStuckLow) return false;
        return cs_ || miso_;  // undriven MISO reads high
    }

    // The eight clocks of one byte, MSB first, on a selected chip between bytes with SCK low
    // (ByteStart): what SetPins makes of them, in one step. Returns MISO as read after each
    // rising edge.
    bool ByteStart() const { return !cs_ && !sck_ && bits_ == 0; }
    uint8_t ClockByte(uint8_t out, bool wp);

    // Byte level, for frame-level tests: select, exchange bytes MSB first, deselect.
    void Select();
    uint8_t Exchange(uint8_t out);
    void Deselect();

    // Virtual time in nanoseconds; busy operations finish when it passes their end.
    void AdvanceTime(uint64_t ns) { now_ += ns; }
    uint64_t Now() const { return now_; }

    // slow_ns: the busy time of every program, erase and status write under ChipFault::Slow.
    void SetFault(ChipFault fault, uint64_t slow_ns = 0);
    // The answer to 0x5A from address 0; 0xFF past its end (and without tables).
    void SetSfdp(const std::vector<uint8_t>& table) { sfdp_ = table; }
    // Bytes the part erases for a 3-byte erase opcode; 0 for other opcodes.
    uint32_t ErasedBy(uint8_t opcode) const;
    uint8_t Status() const;  // current status register (busy bit from the clock)
    std::vector<uint8_t>& Memory();
    const FlashChipParams& Params() const;
    const ChipStats& Stats() const;

    // The global block lock of a part that has one (global_lock), kept like the status.
    bool BlocksLocked() const { return locked_; }
    void SetBlocksLocked(bool locked) { locked_ = locked && params_.global_lock; }
    // True while the part is in its 4-byte address mode.
    bool FourByteMode() const { return four_byte_mode_; }
    // True once a program or erase has changed the memory array; the bytes it may have
    // changed lie in [ModifiedFrom(), ModifiedTo()).
    bool Modified() const { return modified_; }
    uint32_t ModifiedFrom() const { return modified_from_; }
    uint32_t ModifiedTo() const { return modified_to_; }
    uint8_t ExtendedAddress() const { return ear_; }
    // Called after every chip-select frame ends (CS rising edge).
    void SetFrameHook(void (*hook)(void* ctx), void* ctx);

private:
    void BeginFrame();
    void EndFrame();
    void ByteReceived(uint8_t in);
    uint8_t NextReply();
    bool Busy() const;
    bool Protected() const { return (sr_ & params_.protect_mask) != 0 || locked_; }  // anywhere
    bool Protected(uint32_t addr) const;                                             // at addr
    uint32_t EraseSize(uint8_t opcode) const;  // of 0x20, 0x40, 0x52 or 0xD8
    bool ChipErase(uint8_t opcode) const;      // whether the part has this chip erase
    void StartBusy(uint64_t ns, bool program_or_erase = false);
    void Erase(uint32_t addr, uint32_t size);
    void ProgramPage();
    void Touch(uint32_t from, uint32_t to);  // extends the modified range
    bool WaitsForFlagStatus(uint8_t opcode) const;
    bool HasRegister(uint8_t opcode) const;  // 0x70 and the ads= register
    uint8_t ReadRegister(uint8_t opcode);

    FlashChipParams params_;
    std::vector<uint8_t> mem_;
    std::vector<uint8_t> sfdp_;
    ChipStats stats_;
    ChipFault fault_ = ChipFault::None;
    uint64_t slow_ns_ = 0;
    void (*frame_hook_)(void*) = nullptr;
    void* frame_hook_ctx_ = nullptr;

    // Registers and time.
    uint8_t sr_ = 0;  // non-volatile bits 2..7; busy and WEL are kept apart
    bool wel_ = false;
    bool four_byte_mode_ = false;
    bool locked_ = false;  // global block lock
    uint64_t now_ = 0;
    uint64_t busy_until_ = 0;
    bool modified_ = false;
    uint32_t modified_from_ = 0;
    uint32_t modified_to_ = 0;
    bool fsr_pending_ = false;  // a program or erase began; the flag status not read ready since
    uint8_t ear_ = 0;           // extended address register

    // Pin and shift state.
    bool cs_ = true;
    bool sck_ = false;
    bool mosi_ = false;
    bool wp_ = true;
    bool miso_ = true;      // level driven on MISO (high when not driven)
    uint8_t shift_in_ = 0;  // bits received of the current byte
    uint8_t bits_ = 0;      // how many of them
    uint8_t out_ = 0xFF;    // byte being shifted out

    // Frame decoding.
    uint32_t index_ = 0;  // whole bytes received in this frame
    uint8_t opcode_ = 0;
    uint8_t addr_len_ = 0;  // address bytes of the current command
    bool ignored_ = false;  // command arrived while busy
    uint32_t addr_ = 0;
    uint8_t wrsr_value_ = 0;  // the data byte of a status or extended address write
    std::vector<uint8_t> page_data_;
    std::vector<bool> page_touched_;
};
