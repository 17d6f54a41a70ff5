// A fresh working folder with its own config.cfg and flash_db.cfg, in which the built
// tamrel binary runs against the emulated target.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
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
    // Journals left in this folder's XDG_STATE_HOME, by path; ClearJournals removes them.
    std::vector<std::string> Journals() const;
    void ClearJournals() const;

    // config.cfg for an emulated cable and chip, image in "flash.bin", plus extra lines.
    void Configure(Cable cable, const std::string& chip, const std::string& extra = "") const;

    // Later runs start the program as installed under this folder's "inst" prefix
    // (inst/bin/tamrel), the shipped database moved to inst/share/tamrel/flash_db.cfg.
    void Install();

    // Runs tamrel in this folder, its output into a pipe.
    RunResult Run(const std::vector<std::string>& args) const;
    // The same in the background: Start gives the run, Wait its result.
    struct Started {
        pid_t pid;
        int fd;
    };
    Started Start(const std::vector<std::string>& args) const;
    RunResult Wait(const Started& run) const { return Collect(run.pid, run.fd); }
    // Later runs may not write any file beyond `bytes` (0: no limit), as on a full disk.
    void LimitFileSize(long bytes) { file_size_limit_ = bytes; }
    // Run with a pseudo-terminal as standard output (no output processing: the bytes
    // read are the bytes written).
    RunResult RunOnTerminal(const std::vector<std::string>& args) const;

    // Environment changes for the runs (an empty value unsets the variable). By default
    // XDG_CONFIG_HOME is this folder's "xdg" and XDG_STATE_HOME its "state", so no user's own
    // files or journals are found, and TAMREL_EXIT_CODES is unset.
    std::vector<std::pair<std::string, std::string>> env;

private:
    [[noreturn]] void Exec(const std::vector<std::string>& args) const;
    RunResult Collect(pid_t pid, int fd) const;

    std::string dir_;
    std::string bin_ = TAMREL_BIN;
    long file_size_limit_ = 0;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
