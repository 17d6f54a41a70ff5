// The emulated target board: the configured cable, a flash chip behind it, and the chip's
// content in an image file (or in memory).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CTAMREL;
class CPortAccess;
class CD2xxBackend;
class CFlashChip;
class CEmulatedLpt;
class CEmulatedUsbBlaster;

class CEmulatedTarget {
public:
    // Builds the board that setup->emulate_* describe. On failure prints a clear
    // "Error:" line, leaves every file untouched and returns null.
    static CEmulatedTarget* Create(CTAMREL* pgm);
    // Removes the virtual clock, writes the image back and appends the stats line, once.
    // 1, or -1 after an "Error:" line when the image or the stats could not be written.
    int Finish();
    ~CEmulatedTarget();  // Finish(), when not done yet
    CEmulatedTarget(const CEmulatedTarget&) = delete;
    CEmulatedTarget& operator=(const CEmulatedTarget&) = delete;

    CPortAccess* PortAccess();        // a ByteBlaster on /dev/parport0
    CD2xxBackend* D2xxBackend();      // a USB-Blaster on USB
    std::string Description() const;  // "NAME, image FILE" ("memory" without an image)

    CFlashChip* Chip() { return chip_.get(); }

private:
    CEmulatedTarget();
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
    std::string image_;
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
    std::unique_ptr<CEmulatedUsbBlaster> usb_;
};
