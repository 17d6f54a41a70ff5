#include "adapters/altera_usb.h"

#include <cstdio>
#include <cstring>

#include "adapters/d2xx.h"
#include "adapters/delay.h"
#include "adapters/ftdi.h"
#include "adapters/ftdi_stream.h"

namespace {

const long kBaud = 921600;
const int kPacket = 64;                 // USB transfer size
const unsigned kTxBuffer = 384;         // FT245BM transmit buffer: replies not yet read
const long kReplyPacket = 62;           // reply bytes in one full USB packet
const int kWindowBytes = 64 * kPacket;  // most bytes one write sends
const unsigned char kShiftRead = 0xC0;  // shift header with read-back; low 6 bits: count
const unsigned char kShift = 0x80;      // shift header without replies
const unsigned char kLineMask = 0x3F;   // bits a bit-bang byte drives

// The cable shifts LSB first; SPI wants MSB first.
unsigned char Reverse(unsigned char b) {
    b = static_cast<unsigned char>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<unsigned char>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<unsigned char>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Data bytes of the frame's packet that starts at data byte `sent`: the first packet also
// carries the select byte twice, the last one the deselect byte.
long Packet_Data(long total_len, long sent, bool* last) {
    const long lead = sent == 0 ? 3 : 1;
    const long remaining = total_len - sent;
    *last = remaining + lead <= kPacket - 1;
    return *last ? remaining : kPacket - lead;
}

}  // namespace

CALTERAUSB::CALTERAUSB() : ftdi(new CFTDI) {}

CALTERAUSB::~CALTERAUSB() {
    delete stream_;
    delete ftdi;
}

int CALTERAUSB::Open() {
    if (ftdi->Set_VIDPID(vid, pid) < 1) return -1;
    const int opened = ftdi->Open_ByName(cable_name, kBaud, kPacket);
    if (opened < 1) {
        if (opened < 0) {
            printf("\nCan't find 'Altera %s'", cable_name);
            puts("\nAdapter or driver is not insatalled on PC");
        }
        if (D2XX_AccessDenied())
            printf(
                "Permission denied on the USB-Blaster (%04x:%04x): install the udev rules "
                "(60-tamrel.rules) and join group plugdev, then plug the cable in again.\n",
                vid, pid);
        return opened < 0 ? 0 : -1;
    }
    printf("\n\"Altera %s\" detected", cable_name);
    if (use_async && D2XX_CanSubmit()) stream_ = new CFtdiStream(ftdi);
    return 1;
}

void CALTERAUSB::Send(unsigned char b) {
    if (!stream_) {
        ftdi->Write(&b, 1);
        return;
    }
    stream_->Put(&b, 1, nullptr, 0);
    stream_->Send(false);
}

int CALTERAUSB::CABLE_LOST() {
    if (lost_) return 1;
    if (!ftdi->transfer_failed) return 0;
    lost_ = true;
    printf(
        "\nError: cable \"%s\" lost: a USB transfer failed or came back short, operation "
        "stopped\n",
        cable_name);
    return 1;
}

int CALTERAUSB::ADAPTER_ON() {
    Set(PIN_ADAPTER_ON);
    Send(pin_state);
    delay_ms(200);
    return 1;
}

// Everything sent is on the cable before the device is closed.
int CALTERAUSB::ADAPTER_OFF() {
    pin_state &= 0x1F;
    Send(pin_state);
    if (stream_) stream_->Drain();
    return 0;
}

// Nothing received reads as a low line.
int CALTERAUSB::GET_MISO() {
    pin_state |= PIN_READ_REQ;
    unsigned char r = 0;
    if (stream_) {
        stream_->Put(&pin_state, 1, &r, 1);
        if (!stream_->Send(true) || CABLE_LOST()) return 0;
        return Reverse(r) & 1;
    }
    Send(pin_state);
    if (!Collect(1, &r)) return 0;
    return Reverse(r) & 1;  // TDO is bit 0 of the byte as the cable sent it
}

int CALTERAUSB::GET_PORT(unsigned short n) {
    if (n == 0) return 0;
    if (stream_) stream_->Drain();  // no read of its own while the stream's is in flight
    unsigned char r = 0;
    ftdi->Read(&r, 1);
    return r;
}

void CALTERAUSB::SET_PORT(unsigned char b) {
    Send(b);
}

bool CALTERAUSB::Collect(unsigned n, unsigned char* dst) {
    unsigned char reply[kTxBuffer];
    if (n > sizeof reply || CABLE_LOST()) return false;
    ftdi->Read(reply, n);
    if (CABLE_LOST()) return false;
    for (unsigned i = 0; i < n; ++i) dst[i] = Reverse(reply[i]);
    return true;
}

int CALTERAUSB::Pack(unsigned char* out, const unsigned char* buf, long sent, long count, bool last,
                     unsigned char header, unsigned char select) {
    int len = 0;
    if (sent == 0) {
        out[len++] = select;
        out[len++] = select;
    }
    if (count > 0) {
        out[len++] = static_cast<unsigned char>(header | count);
        for (long i = 0; i < count; ++i) out[len++] = Reverse(buf[sent + i]);
    }
    if (last) {
        pin_state = static_cast<unsigned char>((select & ~PIN_SCK) | PIN_CS);
        out[len++] = pin_state;
    }
    return len;
}

// Bits 6 and 7 are masked so a read request left by GET_MISO can't add reply bytes.
unsigned char CALTERAUSB::Frame_Select() {
    pin_state = static_cast<unsigned char>(((pin_state & kLineMask) & ~(PIN_SCK | PIN_CS)) |
                                           PIN_WP_DISABLE | PIN_ADAPTER_ON);
    return pin_state;
}

// One chip-select frame in packets of at most 64 bytes: the first opens with the select
// byte twice, every packet carries a shift header, the last closes with the deselect byte.
// A frame that reads asks for replies in its shift headers and goes out in windows, one
// write each, of as many packets as keep its unread replies within the transmit buffer;
// after each window it takes the replies of whole USB packets (62 bytes), and the rest
// after the last, so only its last read may wait for the latency timer. A frame that does
// not read asks for no replies and goes out in as few writes as possible. With overlapped
// transfers the stream keeps the windows, and a frame that does not read is not waited for.
void CALTERAUSB::WR_BLOCK(unsigned char* buf, long total_len, long read_len) {
    if (total_len < 1 || CABLE_LOST()) return;
    const bool reading = read_len > 0;
    if (stream_) {
        Stream_Frame(buf, total_len, reading, false);
        return;
    }
    const unsigned char select = Frame_Select();
    const unsigned char header = reading ? kShiftRead : kShift;

    unsigned char window[kWindowBytes];
    long sent = 0;      // data bytes packed so far
    long received = 0;  // replies stored in buf so far
    bool last = false;
    while (!last) {
        int len = 0;
        while (!last && len + kPacket <= kWindowBytes) {
            bool final_packet = false;
            const long count = Packet_Data(total_len, sent, &final_packet);
            if (reading && sent - received + count > static_cast<long>(kTxBuffer)) break;
            last = final_packet;
            len += Pack(window + len, buf, sent, count, last, header, select);
            sent += count;
        }
        ftdi->Write(window, static_cast<unsigned int>(len));
        if (CABLE_LOST()) return;
        if (!reading) continue;
        const long unread = sent - received;
        const long take = last ? unread : unread / kReplyPacket * kReplyPacket;
        if (take > 0 && !Collect(static_cast<unsigned>(take), buf + received)) return;
        received += take;
    }
}

void CALTERAUSB::Stream_Frame(unsigned char* buf, long total_len, bool reading, bool deferred) {
    const unsigned char select = Frame_Select();
    const unsigned char header = reading ? kShiftRead : kShift;
    unsigned char packet[kPacket];
    bool last = false;
    for (long sent = 0; !last;) {
        const long count = Packet_Data(total_len, sent, &last);
        const int len = Pack(packet, buf, sent, count, last, header, select);
        stream_->Put(packet, static_cast<unsigned>(len), reading ? buf + sent : nullptr,
                     reading ? static_cast<unsigned>(count) : 0);
        sent += count;
    }
    if (reading) unreversed_.emplace_back(buf, total_len);
    if (deferred) return;
    stream_->Send(reading);
    if (reading) Reverse_Replies();
    CABLE_LOST();  // says so at once when a transfer failed
}

void CALTERAUSB::Reverse_Replies() {
    for (const auto& [p, n] : unreversed_)
        for (long i = 0; i < n; ++i) p[i] = Reverse(p[i]);
    unreversed_.clear();
}

void CALTERAUSB::QUEUE_BLOCK(unsigned char* buf, long total_len, long read_len) {
    if (!stream_) {
        WR_BLOCK(buf, total_len, read_len);
        return;
    }
    if (total_len < 1 || CABLE_LOST()) return;
    Stream_Frame(buf, total_len, read_len > 0, true);
}

// Shift headers without read-back and their zero bytes, after a frame's deselect byte: the
// cable clocks them with CS# high, no reply comes.
void CALTERAUSB::QUEUE_IDLE(long bytes) {
    if (!stream_ || bytes < 1 || CABLE_LOST()) return;
    unsigned char packet[kPacket] = {};
    while (bytes > 0) {
        const long count = bytes < kPacket - 1 ? bytes : kPacket - 1;
        packet[0] = static_cast<unsigned char>(kShift | count);
        stream_->Put(packet, static_cast<unsigned>(count + 1), nullptr, 0);
        bytes -= count;
    }
}

void CALTERAUSB::FLUSH_BLOCKS() {
    if (!stream_) return;
    if (CABLE_LOST()) {
        unreversed_.clear();  // no replies are coming
        return;
    }
    stream_->Send(true);
    Reverse_Replies();
    CABLE_LOST();
}
