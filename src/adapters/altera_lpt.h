// ByteBlaster cable on the PC parallel port: SPI bit-banged through the data register,
// the chip's data out read back on BUSY.
#pragma once

#include "adapters/interface.h"
#include "adapters/port_access.h"

class CLPT;

class CALTERALPT : public CInterface {
public:
    explicit CALTERALPT(CPortAccess* port = Kernel_PortAccess());
    ~CALTERALPT() override;
    CALTERALPT(const CALTERALPT&) = delete;
    CALTERALPT& operator=(const CALTERALPT&) = delete;

    // 1 port open (cable found or not); -1 the port can't be opened or claimed.
    int Open();
    void Close() {}
    void ShowPinMap();
    void Pin_Remaper();
    unsigned char RW_Byte(unsigned char b);

    void SET_CS() override { SetLine(PIN_CS, true); }
    void CLR_CS() override { SetLine(PIN_CS, false); }
    void SET_SCK() override { SetLine(PIN_SCK, true); }
    void CLR_SCK() override { SetLine(PIN_SCK, false); }
    void SET_MOSI() override { SetLine(PIN_MOSI, true); }
    void CLR_MOSI() override { SetLine(PIN_MOSI, false); }
    int ADAPTER_ON() override;
    int ADAPTER_OFF() override;
    void SET_WP_DISABLE() override { SetLine(PIN_WP_DISABLE, true); }
    void CLR_WP_DISABLE() override { SetLine(PIN_WP_DISABLE, false); }
    void CLR_CPU_RESET() override { SetLine(PIN_CPU_RESET, false); }
    void SET_CPU_RESET() override { SetLine(PIN_CPU_RESET, true); }
    int GET_MISO() override;
    void WR_BLOCK(unsigned char* buf, long total_len, long read_len) override;
    int CABLE_LOST() override;

    unsigned short base_addr = 0x378;
    const char* cable_name = "LPT Byte Blaster";
    unsigned char pin_state = PIN_STATE_INITIAL;
    unsigned char bit_delay_us = 1;
    CLPT* lpt;

private:
    void SetLine(unsigned char bit, bool high);

    unsigned long long edge_ns_ = 0;  // time of the last clock edge or select
    bool lost_ = false;
};
