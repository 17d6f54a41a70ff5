// A fresh working folder with its own config.cfg and flash_db.cfg, in which the built
// tamrel binary runs against the emulated target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
    int status;
    std::string out;
};

enum class Cable { Lpt, Usb };

class TargetDir {
public:
    TargetDir();
    ~TargetDir();
    TargetDir(const TargetDir&) = delete;
    TargetDir& operator=(const TargetDir&) = delete;

    std::string Path(const std::string& name) const;
    void Write(const std::string& name, const std::string& text) const;
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> ReadBytes(const std::string& name) const;
    bool Exists(const std::string& name) const;

    // config.cfg for an emulated cable and chip, image in "flash.bin", plus extra lines.
    void Configure(Cable cable, const std::string& chip, const std::string& extra = "") const;

    // Runs tamrel in this folder; `signal_after_ms` > 0 is not used (interrupts come from
    // the emulator's frame counter).
    RunResult Run(const std::vector<std::string>& args) const;
    // Later runs may not write any file beyond `bytes` (0: no limit), as on a full disk.
    void LimitFileSize(long bytes) { file_size_limit_ = bytes; }

private:
    std::string dir_;
    long file_size_limit_ = 0;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
