// One run per cable: a lock on a file that stands for the cable (its device node, or the
// emulated board's image), taken before anything is driven. The lock belongs to an open
// file description (F_OFD_SETLK): it ends with the process however the process ends, and a
// second run's attempt fails at once instead of waiting.
#pragma once

#include <string>

class CCableLock {
public:
    CCableLock() = default;
    ~CCableLock() { Release(); }
    CCableLock(const CCableLock&) = delete;
    CCableLock& operator=(const CCableLock&) = delete;

    // 1 held, or nothing to hold (no path, or a file this user can't open: opening the
    // device then fails on its own); 0 another open of the file holds it.
    int Take(const std::string& path);
    void Release();
    // True when someone holds the lock on `path`; nothing is taken.
    static bool Held(const std::string& path);

private:
    int fd_ = -1;
    std::string path_;
};
