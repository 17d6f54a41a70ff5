// Legacy parallel-port registers (data, status, control at base + 0, 1, 2) on top of
// the Linux ppdev device.
#pragma once

#include <cstdint>

class CCableLock;
class CPortAccess;

class CLPT {
public:
    explicit CLPT(CPortAccess* port);
    ~CLPT();
    CLPT(const CLPT&) = delete;
    CLPT& operator=(const CLPT&) = delete;

    // Opens the ppdev device whose port has the base address `base`, holding `lock` on it
    // first when there is one. 1 open and claimed; 0 no such port, the device can't be
    // opened, or another process holds the port (reported); -1 claim or mode setting failed.
    int Open(unsigned short base);
    void Write(unsigned short port, unsigned char value);
    unsigned char Read(unsigned short port);
    void Close();

    // Data-register bit of each line; reset_pin and wp_pin below 1 mean "not used".
    int8_t cs_pin = -1;
    int8_t sck_pin = -1;
    int8_t mosi_pin = -1;
    int8_t reset_pin = -1;
    int8_t wp_pin = -1;

    int fd = -1;
    unsigned short base_addr = 0;
    // Set when a register access failed after the port was opened.
    bool access_failed = false;
    CCableLock* lock = nullptr;

private:
    int Claim(const char* path);

    CPortAccess* port_;
};
