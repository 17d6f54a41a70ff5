#include "adapters/altera_lpt.h"

#include <cstdio>

#include "adapters/delay.h"
#include "adapters/lpt.h"

namespace {

enum : unsigned char {
    CTRL_OUTPUT_ENABLE = 0x02,  // control register bit 1
    STATUS_BUSY = 0x80,
    STATUS_ACK_D7 = 0x40,        // looped back from D7 by the cable
    STATUS_PAPER_END_D5 = 0x20,  // looped back from D5 by the cable
};

// One pin_state bit placed on its data-register bit; pins outside D0..D7 drop out.
unsigned char PlaceBit(unsigned char state, unsigned char bit, int pin) {
    if (pin < 0 || pin > 7 || (state & bit) == 0) return 0;
    return static_cast<unsigned char>(1u << pin);
}

}  // namespace

CALTERALPT::CALTERALPT(CPortAccess* port) : lpt(new CLPT(port)) {}

CALTERALPT::~CALTERALPT() {
    delete lpt;
}

int CALTERALPT::Open() {
    if (lpt->Open(base_addr) != 1) return -1;

    lpt->Write(base_addr, 0xA0);
    delay_ms(20);
    unsigned char s1 = lpt->Read(base_addr + 1);
    lpt->Write(base_addr, 0x00);
    delay_ms(20);
    unsigned char s2 = lpt->Read(base_addr + 1);

    lpt->sck_pin = 0;
    lpt->cs_pin = 1;
    lpt->wp_pin = 3;
    lpt->reset_pin = 4;
    lpt->mosi_pin = 6;

    const unsigned char loops = STATUS_ACK_D7 | STATUS_PAPER_END_D5;
    if ((s1 & loops) == loops && (s2 & loops) == 0) {
        printf("\"Altera %s\" detected. ", cable_name);
        printf("\nByteBlaster<->SPI: TMS=CS TCK=SCK TDI=SI TDO=SO nCE=RESET nCS=WP");
    } else {
        printf("\nCan't find any adapters\nUsing only LPT pins for output:");
        ShowPinMap();
    }
    return 1;
}

void CALTERALPT::ShowPinMap() {
    printf("\nSPI=LPT: CS=D%d ", lpt->cs_pin);
    printf("SCK=D%d ", lpt->sck_pin);
    printf("MOSI=D%d ", lpt->mosi_pin);
    printf("MISO=BUSY ");
    if (lpt->reset_pin >= 1)
        printf("CPU_RESET=D%d ", lpt->reset_pin);
    else
        printf("CPU_RESET=not used ");
    if (lpt->wp_pin >= 1)
        printf("WP_DISABLE=D%d", lpt->wp_pin);
    else
        printf("WP_DISABLE=not used");
}

void CALTERALPT::Pin_Remaper() {
    unsigned char data = PlaceBit(pin_state, PIN_SCK, lpt->sck_pin) |
                         PlaceBit(pin_state, PIN_CS, lpt->cs_pin) |
                         PlaceBit(pin_state, PIN_MOSI, lpt->mosi_pin);
    if (lpt->reset_pin >= 1) data |= PlaceBit(pin_state, PIN_CPU_RESET, lpt->reset_pin);
    if (lpt->wp_pin >= 1) data |= PlaceBit(pin_state, PIN_WP_DISABLE, lpt->wp_pin);
    lpt->Write(base_addr, data);
}

void CALTERALPT::SetLine(unsigned char bit, bool high) {
    if (high)
        pin_state |= bit;
    else
        pin_state &= static_cast<unsigned char>(~bit);
    Pin_Remaper();
}

int CALTERALPT::ADAPTER_ON() {
    pin_state |= PIN_ADAPTER_ON;
    unsigned char ctrl = lpt->Read(base_addr + 2);
    lpt->Write(base_addr + 2, ctrl | CTRL_OUTPUT_ENABLE);
    delay_ms(100);
    return 1;
}

int CALTERALPT::ADAPTER_OFF() {
    pin_state &= static_cast<unsigned char>(~PIN_ADAPTER_ON);
    unsigned char ctrl = lpt->Read(base_addr + 2);
    lpt->Write(base_addr + 2, ctrl & static_cast<unsigned char>(~CTRL_OUTPUT_ENABLE));
    return 0;
}

int CALTERALPT::CABLE_LOST() {
    if (!lost_ && lpt->access_failed) {
        lost_ = true;
        printf("\nError: cable \"%s\" lost: a parallel port access failed, operation stopped\n",
               cable_name);
    }
    return lost_ ? 1 : 0;
}

// The port shows BUSY inverted, so a clear bit 7 is a high data-out line.
int CALTERALPT::GET_MISO() {
    return (lpt->Read(base_addr + 1) & STATUS_BUSY) ? 0 : 1;
}

// SPI mode 0, MSB first: data set while the clock is low, sampled after the rising edge.
// Each clock edge comes at least bit_delay_us after the edge before it; the port accesses in
// between count towards that time, so a slow port is not slowed down further.
unsigned char CALTERALPT::RW_Byte(unsigned char b) {
    const unsigned long long half_ns = bit_delay_us * 1000ULL;
    unsigned char r = 0;
    for (int bit = 7; bit >= 0; --bit) {
        if ((b >> bit) & 1)
            SET_MOSI();
        else
            CLR_MOSI();
        delay_until_ns(edge_ns_ + half_ns);
        SET_SCK();
        edge_ns_ = delay_now_ns();
        int m = GET_MISO();
        delay_until_ns(edge_ns_ + half_ns);
        CLR_SCK();
        edge_ns_ = delay_now_ns();
        r = static_cast<unsigned char>((r << 1) | m);
    }
    return r;
}

void CALTERALPT::WR_BLOCK(unsigned char* buf, long total_len, long /*read_len*/) {
    if (total_len < 1 || CABLE_LOST()) return;
    bit_delay_us = 1;
    pin_state = static_cast<unsigned char>((pin_state & ~(PIN_SCK | PIN_CS)) | PIN_WP_DISABLE |
                                           PIN_ADAPTER_ON);
    CLR_SCK();
    CLR_CS();
    edge_ns_ = delay_now_ns();  // the first clock edge keeps a half period from the select
    for (long i = 0; i < total_len && !CABLE_LOST(); ++i) buf[i] = RW_Byte(buf[i]);
    delay_until_ns(edge_ns_ + bit_delay_us * 1000ULL);
    SET_CS();
}
