// The emulated target: the configured cable, a flash chip behind it, and the chip's content
// in an image file (or in memory). With emulate_usb= or emulate_lpt= a bench of such cables,
// each with its own board; the run wires the one it opens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chipdb/record_keys.h"
#include "emulator/emulated_boards.h"
#include "emulator/flash_chip.h"

class CTAMREL;
class CPortAccess;
class CD2xxBackend;
class CEmulatedLpt;
class CEmulatedUsbBus;

class CEmulatedTarget {
public:
    // Builds the board that setup->emulate_* describe. On failure prints a clear
    // "Error:" line, leaves every file untouched and returns null. For a listing the cables
    // are only named: no board is wired and no image touched.
    static CEmulatedTarget* Create(CTAMREL* pgm, bool listing = false);
    // Removes the virtual clock, writes the image back and appends the stats line, once.
    // 1, or -1 after an "Error:" line when the image or the stats could not be written.
    int Finish();
    ~CEmulatedTarget();  // Finish(), when not done yet
    CEmulatedTarget(const CEmulatedTarget&) = delete;
    CEmulatedTarget& operator=(const CEmulatedTarget&) = delete;

    CPortAccess* PortAccess();        // ByteBlasters on /dev/parport0, 1, ...
    CD2xxBackend* D2xxBackend();      // USB-Blasters on USB
    std::string Description() const;  // "NAME, image FILE" ("memory" without an image)

    CFlashChip* Chip() { return chip_.get(); }  // once a board is wired

private:
    CEmulatedTarget();
    // The chip of board k of the list, wired with its image; null when it can't be (said).
    static CFlashChip* Attach_Usb(void* ctx, size_t k);
    static CFlashChip* Attach_Lpt(void* ctx, size_t k);
    CFlashChip* Attach(const EmulatedBoard& board);
    int LoadImage();
    bool WriteImage();
    uint8_t InitialStatus();
    bool WriteStatus();
    std::string StatusText(uint8_t status, bool locked) const;
    bool AppendStats();
    static void OnDelay(unsigned long long ns, void* ctx);
    static void OnFrame(void* ctx);
    static bool ParsePoke(const std::string& value, uint32_t size, CEmulatedTarget* t);
    static unsigned long long Clock(void* ctx);

    std::string name_;
    FlashChipParams params_;
    ChipFault fault_ = ChipFault::None;
    uint64_t slow_ns_ = 0;
    std::vector<uint8_t> sfdp_;  // from a file; built from the record when empty
    bool sfdp_from_file_ = false;
    std::vector<EraseItem> erase_list_;
    std::vector<EmulatedBoard> usb_boards_;
    std::vector<EmulatedBoard> lpt_boards_;
    std::string image_;  // of the board wired
    std::string stats_path_;
    uint8_t status_key_ = 0;    // emulate_status=
    std::string status_file_;   // the status file as read, empty when it did not count
    bool global_lock_ = false;  // a part with per-block locks: their state is kept too
    bool kept_unlocked_ = false;
    int32_t interrupt_after_ = 0;
    int interrupt_signal_ = 0;
    bool interrupted_ = false;
    int32_t drop_after_ = 0;
    int32_t kill_after_ = 0;
    uint64_t poke_frame_ = 0;  // another master programs poke_byte_ at poke_addr_ then
    uint32_t poke_addr_ = 0;
    uint8_t poke_byte_ = 0xFF;
    bool poked_ = false;
    bool ready_ = false;  // fully built and not finished: Finish() has work to do
    std::unique_ptr<CFlashChip> chip_;
    std::unique_ptr<CEmulatedLpt> lpt_;
    std::unique_ptr<CEmulatedUsbBus> usb_;
};
