#include "adapters/altera_usb.h"

#include <cstdio>
#include <cstring>

#include "adapters/d2xx.h"
#include "adapters/delay.h"
#include "adapters/ftdi.h"

namespace {

const unsigned short kVid = 0x09FB;
const unsigned short kPid = 0x6001;
const long kBaud = 921600;
const int kPacket = 64;                 // USB transfer size
const unsigned char kShiftRead = 0xC0;  // shift header with read-back; low 6 bits: count
const unsigned char kLineMask = 0x3F;   // bits a bit-bang byte drives

// The cable shifts LSB first; SPI wants MSB first.
unsigned char Reverse(unsigned char b) {
    b = static_cast<unsigned char>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<unsigned char>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<unsigned char>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

CALTERAUSB::CALTERAUSB() : ftdi(new CFTDI) {}

CALTERAUSB::~CALTERAUSB() {
    delete ftdi;
}

int CALTERAUSB::Open() {
    if (ftdi->Set_VIDPID(kVid, kPid) < 1) return -1;
    if (ftdi->Open_ByName(cable_name, kBaud, kPacket) < 1) {
        printf("\nCan't find 'Altera %s'", cable_name);
        puts("\nAdapter or driver is not insatalled on PC");
        if (D2XX_AccessDenied())
            printf(
                "Permission denied on the USB-Blaster (09fb:6001): install the udev rules "
                "(60-tamrel.rules) and join group plugdev, then plug the cable in again.\n");
        return 0;
    }
    printf("\n\"Altera %s\" detected", cable_name);
    return 1;
}

void CALTERAUSB::Send(unsigned char b) {
    ftdi->Write(&b, 1);
}

int CALTERAUSB::ADAPTER_ON() {
    Set(PIN_ADAPTER_ON);
    Send(pin_state);
    delay_ms(200);
    return 1;
}

int CALTERAUSB::ADAPTER_OFF() {
    pin_state &= 0x1F;
    Send(pin_state);
    return 0;
}

// Nothing received reads as a low line.
int CALTERAUSB::GET_MISO() {
    pin_state |= PIN_READ_REQ;
    Send(pin_state);
    unsigned char r = 0;
    ftdi->Read(&r, 1);
    return r & 1;
}

int CALTERAUSB::GET_PORT(unsigned short n) {
    if (n == 0) return 0;
    unsigned char r = 0;
    ftdi->Read(&r, 1);
    return r;
}

void CALTERAUSB::SET_PORT(unsigned char b) {
    Send(b);
}

// One chip-select frame in packets of at most 64 bytes: the first opens with the select
// byte twice, every packet carries a shift header, the last closes with the deselect byte.
void CALTERAUSB::WR_BLOCK(unsigned char* buf, long total_len, long read_len) {
    if (total_len < 1) return;
    ftdi->FlushFIFO();
    // Bits 6 and 7 are masked so a read request left by GET_MISO can't add reply bytes.
    pin_state = static_cast<unsigned char>(((pin_state & kLineMask) & ~(PIN_SCK | PIN_CS)) |
                                           PIN_WP_DISABLE | PIN_ADAPTER_ON);
    const unsigned char select = pin_state;

    unsigned char packet[kPacket];
    unsigned char reply[kPacket];
    long sent = 0;
    int lead = 3;
    for (;;) {
        long remaining = total_len - sent;
        bool last = remaining + lead <= kPacket - 1;
        int count = last ? static_cast<int>(remaining) : kPacket - lead;
        int len = 0;
        if (lead == 3) {
            packet[len++] = select;
            packet[len++] = select;
        }
        if (count > 0) {
            packet[len++] = static_cast<unsigned char>(kShiftRead | count);
            for (int i = 0; i < count; ++i) packet[len++] = Reverse(buf[sent + i]);
        }
        if (last) {
            pin_state = static_cast<unsigned char>((select & ~PIN_SCK) | PIN_CS);
            packet[len++] = pin_state;
        }
        ftdi->Write(packet, static_cast<unsigned int>(len));
        if (read_len > 0 && count > 0) {
            memset(reply, 0, sizeof reply);
            ftdi->Read(reply, static_cast<unsigned int>(count));
            for (int i = 0; i < count; ++i) buf[sent + i] = Reverse(reply[i]);
        }
        sent += count;
        if (last) break;
        lead = 1;
    }
}
