// Both cables against recording stand-ins for the parallel port, the FT_* layer and libftdi1.
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "adapters/altera_lpt.h"
#include "adapters/altera_usb.h"
#include "adapters/cable_lock.h"
#include "adapters/delay.h"
#include "adapters/ftdi.h"
#include "run/tamrel.h"
#ifdef TAMREL_HAVE_LIBFTDI1
#include "adapters/d2xx_libftdi.h"
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

template <class F>
std::string Printed(F f) {
    fflush(stdout), testing::internal::CaptureStdout();
    return f(), fflush(stdout), testing::internal::GetCapturedStdout();
}

// No test here sleeps: delays advance this clock, and a port access may cost time on it too.
struct TestClock {
    unsigned long long now = 0;
    TestClock() { delay_set_sink(&Advance, this, &Read); }
    static void Advance(unsigned long long ns, void* c) { static_cast<TestClock*>(c)->now += ns; }
    static unsigned long long Read(void* c) { return static_cast<TestClock*>(c)->now; }
} clock_;

// The programmer object's own power-up and power-down, around a cable the test owns; each
// gives the power flag the object keeps.
class Programmer {
public:
    explicit Programmer(CInterface* cable) { pgm.adapter = cable; }
    ~Programmer() { Off(), pgm.adapter = nullptr; }
    int On() {
        return Printed([&] { pgm.Adapter_ini(); }), pgm.adapter_active;
    }
    int Off() {
        return Printed([&] { pgm.Adapter_release(); }), pgm.adapter_active;
    }

private:
    Setup_struct setup{};
    CTAMREL pgm{&setup};
};

// What the board sees of the cable: one state per change the cable makes, the lines in
// pin_state bits (SCK 0x01, CS 0x02, reset 0x04, WP# 0x08, MOSI 0x10) and whether the outputs
// drive them, with the time it took effect.
struct Board {
    bool on;
    unsigned char lines;
    unsigned long long at_ns;
};

// A port that logs register accesses: Wxx data write, Cxx control write, S status read.
// Status shows the loop-backs wired in `loops` (D5 to bit 5, D7 to bit 6) and a chip that
// answers the inverse of MOSI (D6) on BUSY, which the port shows inverted in bit 7. Each
// access costs access_ns; the lines are kept with the time they took effect; the accesses
// after the first `working` fail. Claims are logged in `claims`: X exclusive, S shared.
class RecordingPort : public CPortAccess {
public:
    // fail: the errno open gives; -1 every claim refused; -2 an exclusive claim refused, as
    // while another driver is registered on the port, which is idle; -3 the same while that
    // driver (ppdev0) holds the port.
    int fail = 0, fds = 0;
    bool exclusive = false;
    std::string claims;
    unsigned char loops = 0, data = 0, control = 0xC4;
    std::string log, opened;
    bool listed = false;  // whether `ports` can be read
    std::vector<ParportInfo> ports;
    unsigned long long access_ns = 0;
    long working = -1, attempts = 0;
    bool loops_high = false;  // both loop-back inputs read high whatever D5 and D7 are
    std::vector<Board> board;

    int open(const char* path, int) override {
        opened = path;
        return fail > 0 ? errno = fail, -1 : ++fds;
    }
    bool list_ports(std::vector<ParportInfo>* out) override { return *out = ports, listed; }
    int close(int) override { return exclusive = false, --fds, 0; }
    std::string claimed_by(int n) override { return fail == -3 && n == 0 ? "ppdev0" : ""; }
    int ioctl(int, unsigned long req, void* arg) override {
        unsigned char* b = static_cast<unsigned char*>(arg);
        clock_.now += access_ns, ++attempts;
        if (working >= 0 && working-- == 0) return ++working, errno = ENODEV, -1;
        if (req == PPEXCL) exclusive = true;
        if (req == PPCLAIM && (claims += exclusive ? "X" : "S", fail == -1)) return errno = EIO, -1;
        if (req == PPCLAIM && fail < -1 && exclusive) return errno = ENXIO, -1;
        if (req == PPWDATA || req == PPWCONTROL) {
            char tok[8];
            snprintf(tok, sizeof tok, "%c%02X ", req == PPWDATA ? 'W' : 'C', *b);
            log += tok, (req == PPWDATA ? data : control) = *b;
            // SCK on D0, CS on D1, reset on D4, WP# on D3, MOSI on D6; control bit 1 enables.
            const int lines =
                (data & 0x03) | (data >> 2 & 0x04) | (data & 0x08) | (data >> 2 & 0x10);
            board.push_back({(control & 0x02) != 0, static_cast<unsigned char>(lines), clock_.now});
        }
        if (req == PPRCONTROL) *b = control;
        if (req == PPRSTATUS) {
            log += "S ";
            *b = (data & 0x40) << 1 | (data & loops & 0x20) | (data & loops & 0x80) >> 1;
            if (loops_high) *b |= 0x60;
        }
        return 0;
    }
};

TEST(ByteBlaster, OpenFindsTheCableByBothLoopBacksOrReportsThePort) {
    const std::string plain =
        "\nLPT port opened.\n\nCan't find any adapters\nUsing only LPT pins for output:"
        "\nSPI=LPT: CS=D1 SCK=D0 MOSI=D6 MISO=BUSY CPU_RESET=D4 WP_DISABLE=D3";
    const std::string missing =
        "\tCan't open LPT port /dev/parport0\n\tParallel Port no exist in: /dev/...           "
        "\n\tInstall parallel port by command from root:           \n\t1. cd /dev           "
        "\n\t2. mknod -m 660 parport0 c 99 0           \n\t3. chgrp lp parport0\n\n";
    const std::string denied =
        "Permission denied on /dev/parport0: join group lp (usermod -aG lp USER, then log in "
        "again) or install the udev rules (60-tamrel.rules).\n";
    // Both loop-backs (0xA0) find the cable; the whole runs check that. One loop-back alone,
    // or both stuck low (0) or stuck high (0x100), find none. The port is claimed exclusively,
    // so a claim fails at once while another program uses it, instead of waiting and freezing
    // that program's ppdev calls; one that a driver such as lp merely has registered is
    // claimed shared. A port refused is never written to.
    const std::tuple<int, int, std::string, std::string> cases[] = {
        {0, 0x80, plain, "X"},
        {0, 0x20, plain, "X"},
        {0, 0x00, plain, "X"},
        {0, 0x100, plain, "X"},
        {ENOENT, 0xA0, missing, ""},
        {EACCES, 0xA0, missing + denied, ""},
        {-1, 0xA0, "close: 1\n", "X"},
        {-2, 0x00, plain, "XS"},
        {-3, 0xA0, "\nError: parallel port /dev/parport0 (0x378) is in use by ppdev0\n", "X"},
    };
    for (const auto& [fail, loops, text, claims] : cases) {
        RecordingPort port;
        port.fail = fail, port.loops = loops & 0xFF, port.loops_high = loops & 0x100;
        CALTERALPT lpt(&port);
        const bool opens = fail == 0 || fail == -2;
        EXPECT_EQ(text, Printed([&] { EXPECT_EQ(opens ? 1 : -1, lpt.Open()); }));
        EXPECT_EQ(opens, port.fds);  // left open only when usable
        EXPECT_EQ(claims, port.claims);
        EXPECT_EQ(opens, !port.log.empty());
    }
}

// One holder at a time, whoever asks; asking who holds it takes nothing; a file that can't be
// opened, or none, leaves nothing to hold.
TEST(CableLock, OneHolderAtATime) {
    char path[] = "/tmp/tamrel-lock-XXXXXX";
    ::close(mkstemp(path));
    {
        CCableLock first, second;
        EXPECT_FALSE(CCableLock::Held(path));
        EXPECT_EQ(1, first.Take(path));
        EXPECT_EQ(1, first.Take(path));
        EXPECT_TRUE(CCableLock::Held(path));
        EXPECT_EQ(0, second.Take(path));
        first.Release();
        EXPECT_FALSE(CCableLock::Held(path));
        EXPECT_EQ(1, second.Take(path));
        EXPECT_EQ(1, first.Take(""));
        EXPECT_EQ(1, first.Take("/nonexistent/tamrel.lock"));
    }
    EXPECT_FALSE(CCableLock::Held(path));
    unlink(path);
}

// The device is the listed port with the base address; the default address falls back to
// /dev/parport0, as does any address when the system lists no ports.
TEST(ByteBlaster, OpenChoosesTheDeviceByBaseAddress) {
    const std::vector<ParportInfo> three = {{0, 0x3BC}, {1, 0x378}, {2, 0x278}};
    const std::tuple<bool, std::vector<ParportInfo>, unsigned short, std::string> cases[] = {
        {true, three, 0x278, "/dev/parport2"},
        {true, three, 0x378, "/dev/parport1"},
        {true, {{0, 0x278}}, 0x378, "/dev/parport0"},
        {false, {}, 0x278, "/dev/parport0"},
        {true, three, 0x2BC,
         "\nError: no parallel port at I/O address 0x2BC; ports found: /dev/parport0 at 0x3BC, "
         "/dev/parport1 at 0x378, /dev/parport2 at 0x278\n"},
        {true, {}, 0x278, "\nError: no parallel port at I/O address 0x278; ports found: none\n"},
    };
    for (const auto& [listed, ports, base, expect] : cases) {
        RecordingPort port;
        port.listed = listed, port.ports = ports;
        CALTERALPT lpt(&port);
        lpt.base_addr = base;
        int rc = 0;
        const std::string printed = Printed([&] { rc = lpt.Open(); });
        EXPECT_EQ(expect, rc == 1 ? port.opened : printed) << base;
        EXPECT_EQ(expect[0] == '/' ? 1 : -1, rc);
    }
}

// Per bit: data with the clock low, clock high, sample, clock low; the select frames the byte
// and the last data bit stays through the deselect. Every clock edge, and the deselect, comes
// at least the 1 us half period after the edge or select before it, whether the port takes
// no time or 1 us per access; in the latter case the accesses alone make the half periods.
TEST(ByteBlaster, OneByteFrameClocksEightBitsInsideOneSelect) {
    for (unsigned long long access_ns : {0ULL, 1000ULL}) {
        RecordingPort port;
        unsigned char buf[1] = {0xA5};
        unsigned long long frame_ns = 0;
        {
            CALTERALPT lpt(&port);
            Printed([&] { lpt.Open(); });
            Programmer programmer(&lpt);
            EXPECT_EQ(1, programmer.On());
            port.access_ns = access_ns, port.board.clear();
            const unsigned long long start = clock_.now;
            lpt.WR_BLOCK(buf, 1, 0);
            frame_ns = clock_.now - start;
            EXPECT_EQ(0, programmer.Off());
        }
        EXPECT_EQ(
            "WA0 S W00 S W0A W0A W0A W0A W0A CC6 "  // outputs enabled by control bit 1
            "W08 W08 W48 W49 S W48 W08 W09 S W08 W48 W49 S W48 W08 W09 S W08 "
            "W08 W09 S W08 W48 W49 S W48 W08 W09 S W08 W48 W49 S W48 W4A "
            "W4A W4A W0A W02 W12 CC4 ",  // other control bits kept
            port.log);
        EXPECT_EQ(0x5A, buf[0]);                           // read back even with read_len 0
        unsigned long long last = port.board.at(1).at_ns;  // the select
        for (size_t i = 2; i < 2 + 8 * 3 + 1; ++i) {
            const auto& [on, d, t] = port.board.at(i);
            if (((d ^ port.board[i - 1].lines) & 0x03) == 0) continue;  // MOSI only
            EXPECT_GE(t - last, 1000u) << "write " << i << ", port access " << access_ns;
            last = t;
        }
        // 35 accesses in the frame; with 1 us each only the deselect, which no access
        // separates from the last edge, waits on top of them.
        EXPECT_TRUE(!access_ns || frame_ns == 35 * access_ns + 1000) << frame_ns;
        EXPECT_EQ(0, port.fds);
    }
}

// A scripted FT_* layer that logs its calls; the call named `fail` fails. It lists two devices.
// Written bytes go to a cable that answers each shifted byte asking for a reply with its
// complement, and a bit-bang read request with 0x01. Like the FT245 on a synchronous bus, a
// write that would leave more than 384 replies unread stalls and fails. Overlapped, it takes
// submitted writes at once, and fails one that leaves more than 384 replies beyond what the
// read in flight asks for; a read then hands out at most `read_max` bytes (a short packet),
// and each transfer waited for takes a 1 ms frame.
class FakeD2xx : public CD2xxBackend {
public:
    std::string fail, calls;
    std::vector<Bytes> packets;
    Bytes replies;       // not yet read
    DWORD short_by = 0;  // each read hands out this many bytes fewer than asked
    bool overlapped = false;
    DWORD read_max = 0xFFFF;
    struct Pending {
        unsigned char* buf;
        DWORD n;
    };
    std::vector<Pending> reads;  // in flight
    std::vector<DWORD> writes;   // sizes of the writes in flight
    unsigned shift = 0;
    bool shift_read = false;
    std::vector<Board> board;  // one state per bit-bang byte: bit 5 enables the outputs

    explicit FakeD2xx(const char* f = "") : fail(f) { D2XX_SetBackend(this); }
    ~FakeD2xx() override { D2XX_SetBackend(nullptr); }
    template <class... A>
    FT_STATUS Ret(const char* name, A... args) {
        calls += name + ((" " + std::to_string(args)) + ... + std::string(";"));
        return fail == name ? FT_IO_ERROR : FT_OK;
    }
    FT_STATUS GetVIDPID(DWORD* v, DWORD* p) override { return *v = *p = 0, Ret("GetVIDPID"); }
    FT_STATUS SetVIDPID(DWORD v, DWORD p) override { return Ret("SetVIDPID", v, p); }
    FT_STATUS ListDevices(void* n, void*, DWORD) override {
        return *static_cast<DWORD*>(n) = 2, Ret("List");
    }
    FT_STATUS CreateDeviceInfoList(DWORD* n) override { return *n = 2, Ret("Create"); }
    FT_STATUS GetDeviceInfoDetail(DWORD i, DWORD*, DWORD*, DWORD*, DWORD*, void*, void* desc,
                                  FT_HANDLE*) override {
        return snprintf(static_cast<char*>(desc), 64, i ? "USB-Blaster" : "USB-Blast"), FT_OK;
    }
    FT_STATUS Open(int i, FT_HANDLE* h) override { return *h = this, Ret("Open", i); }
    FT_STATUS Close(FT_HANDLE) override { return Ret("Close"); }
    FT_STATUS ResetDevice(FT_HANDLE) override { return Ret("Reset"); }
    FT_STATUS SetBitMode(FT_HANDLE, UCHAR m, UCHAR o) override { return Ret("BitMode", m, o); }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD* n) override { return *n = 0, Ret("Queue"); }
    FT_STATUS Read(FT_HANDLE, void* v, DWORD n, DWORD* got) override {
        *got = std::min<DWORD>(n - std::min(n, short_by), static_cast<DWORD>(replies.size()));
        std::copy_n(replies.begin(), *got, static_cast<unsigned char*>(v));
        replies.erase(replies.begin(), replies.begin() + *got);
        return Ret("R", n);
    }
    FT_STATUS Write(FT_HANDLE, void* v, DWORD n, DWORD* put) override {
        const unsigned char* b = static_cast<unsigned char*>(v);
        if (reads.size() > 1) return *put = 0, FT_IO_ERROR;  // two reads share one buffer
        packets.emplace_back(b, b + n);
        for (DWORD i = 0; i < n; ++i) {
            if (shift)
                --shift, shift_read ? replies.push_back(~b[i] & 0xFF) : void();
            else if (b[i] & 0x80)
                shift = b[i] & 0x3F, shift_read = b[i] & 0x40;
            else if (board.push_back(
                         {(b[i] & 0x20) != 0, static_cast<unsigned char>(b[i] & 0x1F), clock_.now}),
                     b[i] & 0x40)
                replies.push_back(0x01);
        }
        if (replies.size() > 384 + (reads.empty() ? 0 : reads[0].n)) return *put = 0, FT_IO_ERROR;
        return *put = n, Ret("W");
    }
    bool CanSubmit() const override { return overlapped; }
    FT_STATUS WriteSubmit(FT_HANDLE h, const void* v, DWORD n, FT_TRANSFER* t) override {
        DWORD put = 0;
        *t = &writes;
        if (Write(h, const_cast<void*>(v), n, &put) != FT_OK) return FT_IO_ERROR;
        return writes.push_back(n), Ret("WS", n);
    }
    FT_STATUS ReadSubmit(FT_HANDLE, void* v, DWORD n, FT_TRANSFER* t) override {
        reads.push_back({static_cast<unsigned char*>(v), n});
        *t = &reads;
        return Ret("RS", n);
    }
    FT_STATUS TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) override {
        *moved = 0;
        clock_.now += 1000000;  // a bus frame
        if (t == &writes) return *moved = writes.at(0), writes.erase(writes.begin()), Ret("D");
        const Pending r = reads.at(0);
        reads.erase(reads.begin());
        FT_STATUS status = Read(h, r.buf, std::min(r.n, read_max), moved);
        return status == FT_OK ? Ret("D") : status;
    }
    FT_STATUS TransferCancel(FT_HANDLE, FT_TRANSFER t) override {
        if (t == &writes)
            writes.erase(writes.begin());
        else
            reads.erase(reads.begin());
        return Ret("C");
    }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG r, ULONG w) override { return Ret("Timeouts", r, w); }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR ms) override { return Ret("Latency", ms); }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG baud) override { return Ret("Baud", baud); }
    FT_STATUS SetChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) override { return Ret("Chars"); }
    FT_STATUS SetUSBParameters(FT_HANDLE, ULONG i, ULONG o) override { return Ret("USB", i, o); }
    FT_STATUS Purge(FT_HANDLE, ULONG mask) override { return Ret("Purge", mask); }
};

TEST(UsbBlaster, OpenConfiguresTheChipAndReportsEachFailingStep) {
    const std::string kSteps =
        "GetVIDPID;SetVIDPID 2555 24577;List;Create;Open 1;Reset;BitMode 0 0;Queue;"
        "Timeouts 0 0;Latency 2;Baud 921600;Chars;USB 64 64;Purge 3;";
    const std::string ids = "\nSet VID: 0x9FB, PID: 0x6001", pre = ids + "\nError: Failed ";
    const std::string tail =
        "\nCan't find 'Altera USB-Blaster'\nAdapter or driver is not insatalled on PC\n";
    // Open with the step `fail` failing: what it returns and prints, and the calls: the steps up
    // to the failing one in order, then, for a device opened before it (and only then), its close
    // with the adapter.
    auto check = [&](const char* fail, int rc, const std::string& text) {
        FakeD2xx fake(fail);
        CALTERAUSB usb;
        EXPECT_EQ(text, Printed([&] { EXPECT_EQ(rc, usb.Open()); })) << fail;
        const size_t end = *fail ? kSteps.find(';', kSteps.find(fail)) + 1 : kSteps.size();
        Printed([&] { usb.ftdi->Close(); });
        EXPECT_EQ(kSteps.substr(0, end) + (end > kSteps.find("Reset") ? "Queue;Reset;Close;" : ""),
                  fake.calls);
    };
    check("GetVIDPID", -1, "\nError: Failed Can`t get VID, PID");
    check("SetVIDPID", -1, "\nError: Failed set VID: 0x9FB, PID: 0x6001");
    check("", 1, ids + "\n\"Altera USB-Blaster\" detected");
    // Steps failing once the ids are set, with the error of their own ("": none).
    const std::pair<const char*, const char*> failed[] = {
        {"List", "can`t get USB device list"}, {"Create", ""},
        {"Open", "USB open 'USB-Blaster'"},    {"Reset", "no device Reset"},
        {"BitMode", " can`t Reset"},           {"Queue", "can`t get Queue Status"},
        {"Timeouts", "to set Timeouts"},       {"Latency", "to set Latency Timer"},
        {"Baud", "to set Baud Rate"},          {"Chars", "disable event and errors"},
        {"USB", "to set USB Block Size"},      {"Purge", "clear FIFO"}};
    for (const auto& [fail, error] : failed) check(fail, 0, (*error ? pre + error : ids) + tail);
}

// Data bytes per packet of one frame (0: the deselect byte alone); the frame sits between
// the one-byte power-up (0x2A) and power-down (0x06) packets. The packets stay whole in the
// writes, and a frame that reads asks for its replies (0xC0 + n) and reads each window's whole
// reply packets (62 bytes) before the next write, never leaving more than the transmit buffer
// unread; every reply lands on the byte it answers. A frame that does not read asks for none.
// Overlapped, the same bytes go out, never more than 384 replies beyond the read in flight,
// also when every read ends short after 50 bytes.
TEST(UsbBlaster, FramesSplitIntoPacketsAndWindowsOfTheTransmitBuffer) {
    std::vector<std::pair<long, std::vector<int>>> cases = {
        {1, {1}},           {2, {2}},           {60, {60}},
        {61, {61, 0}},      {62, {61, 1}},      {123, {61, 62}},
        {124, {61, 63, 0}}, {125, {61, 63, 1}}, {260, {61, 63, 63, 63, 10}},
    };
    for (long len : {379L, 380L, 381L, 382L, 383L, 384L, 385L, 4100L}) {
        std::vector<int> split = {61};
        while (len - (61 + 63 * (static_cast<long>(split.size()) - 1)) >= 63) split.push_back(63);
        split.push_back(static_cast<int>(len - 61 - 63 * (static_cast<long>(split.size()) - 1)));
        cases.emplace_back(len, split);
    }
    for (const auto& [len, split] : cases) {
        for (const auto& [read_len, mode] :
             {std::pair{0L, 0}, {len, 0}, {0L, 1}, {len, 1}, {len, 2}}) {
            SCOPED_TRACE(std::to_string(len) + " bytes, read " + std::to_string(read_len) +
                         ", mode " + std::to_string(mode));
            FakeD2xx fake;
            fake.overlapped = mode > 0;
            fake.read_max = mode == 2 ? 50 : 0xFFFF;
            CALTERAUSB usb;
            Printed([&] { usb.Open(); });
            fake.packets.clear(), fake.calls.clear();
            Bytes buf(len);
            for (long i = 0; i < len; ++i) buf[i] = static_cast<unsigned char>(i * 7 + i / 256);
            const Bytes sent = buf;
            Programmer programmer(&usb);
            EXPECT_EQ(1, programmer.On());
            usb.WR_BLOCK(buf.data(), len, read_len);
            EXPECT_EQ(0, programmer.Off());

            Bytes want = {0x2A}, got;
            std::vector<size_t> ends = {1};  // where a packet ends in the byte stream
            long k = 0;
            for (size_t p = 0; p < split.size(); ++p) {
                if (!p) want.insert(want.end(), {0x28, 0x28});
                if (split[p])
                    want.push_back(static_cast<unsigned char>((read_len ? 0xC0 : 0x80) + split[p]));
                for (int i = 0; i < split[p]; ++i, ++k) {
                    unsigned char r = 0;  // the byte goes out LSB first
                    for (int bit = 0; bit < 8; ++bit)
                        r = static_cast<unsigned char>(r << 1 | (sent[k] >> bit & 1));
                    want.push_back(r);
                }
                if (p + 1 == split.size()) want.push_back(0x2A);
                ends.push_back(want.size());
            }
            want.push_back(0x06);
            ends.push_back(want.size());
            for (const Bytes& w : fake.packets) {
                got.insert(got.end(), w.begin(), w.end());
                EXPECT_NE(std::find(ends.begin(), ends.end(), got.size()), ends.end())
                    << "a write ends inside a packet";
            }
            EXPECT_EQ(want, got);
            ASSERT_TRUE(fake.replies.empty()) << fake.calls;
            for (long i = 0; i < len; ++i)
                ASSERT_EQ(read_len ? static_cast<unsigned char>(~sent[i]) : sent[i], buf[i]) << i;
            if (mode) continue;
            // Reads: whole reply packets, the last of a frame excepted; none for a write-only one.
            size_t read_total = 0, from = 0;
            for (size_t at; (at = fake.calls.find("R ", from)) != std::string::npos;
                 from = at + 1) {
                const size_t n = std::stoul(fake.calls.substr(at + 2));
                read_total += n;
                const bool last_read = fake.calls.find("R ", at + 1) == std::string::npos;
                EXPECT_TRUE(last_read || n % 62 == 0) << n;
            }
            EXPECT_EQ(read_len ? static_cast<size_t>(len) : 0u, read_total);
        }
    }
}

// Idle clocks between queued frames: shift headers without read-back and zero bytes, after the
// frame's deselect byte, so the chip (deselected) ignores them; no reply is asked for.
TEST(UsbBlaster, IdleClocksGoDeselectedWithoutReplies) {
    FakeD2xx fake;
    fake.overlapped = true;
    CALTERAUSB usb;
    Printed([&] { usb.Open(); });
    Programmer programmer(&usb);
    EXPECT_EQ(1, programmer.On());
    fake.packets.clear();
    unsigned char wren[1] = {0x06};
    usb.QUEUE_BLOCK(wren, 1, 0);
    usb.QUEUE_IDLE(100);
    usb.FLUSH_BLOCKS();
    Bytes want = {0x28, 0x28, 0x81, 0x60, 0x2A, 0x80 + 63};
    want.insert(want.end(), 63, 0x00);
    want.push_back(0x80 + 37);
    want.insert(want.end(), 37, 0x00);
    Bytes got;
    for (const Bytes& w : fake.packets) got.insert(got.end(), w.begin(), w.end());
    EXPECT_EQ(want, got);
    EXPECT_TRUE(fake.replies.empty());
    EXPECT_EQ(0, programmer.Off());
}

// What breaks the rule both cables keep around the programmer object's power sequences; ""
// when none. In pin_state bits, of the states the outputs drive:
// - the first has the target in reset, WP# high (write protection released), the chip
//   deselected, clock and data low, and lasts the cable's settle time before anything else;
// - in every frame (chip selected) the target is in reset and WP# is high;
// - WP# is high only while the target is held in reset;
// and the cable's last state has its outputs off, WP# low, the reset released and the chip
// deselected. The outputs go on once for one power-up, however often it is asked.
std::string PowerRuleBroken(const std::vector<Board>& states, unsigned long long settle_ns) {
    const auto first =
        std::find_if(states.begin(), states.end(), [](const Board& b) { return b.on; });
    if (first == states.end()) return "the outputs never go on";
    if (first->lines != (PIN_CS | PIN_WP_DISABLE))
        return "first driven lines " + std::to_string(first->lines);
    if (first + 1 == states.end() || (first + 1)->at_ns - first->at_ns != settle_ns)
        return "no settle time after the outputs go on";
    int power_ups = 0;
    bool was_on = false;
    for (const Board& b : states) {
        power_ups += b.on && !was_on, was_on = b.on;
        if (!b.on) continue;
        if (!(b.lines & PIN_CS) && (b.lines & (PIN_CPU_RESET | PIN_WP_DISABLE)) != PIN_WP_DISABLE)
            return "frame with lines " + std::to_string(b.lines);
        if ((b.lines & PIN_WP_DISABLE) && (b.lines & PIN_CPU_RESET))
            return "WP# high with the reset released: " + std::to_string(b.lines);
    }
    const Board& last = states.back();
    if (last.on ||
        (last.lines & (PIN_CS | PIN_CPU_RESET | PIN_WP_DISABLE)) != (PIN_CS | PIN_CPU_RESET))
        return "last state " + std::to_string(last.on) + ", lines " + std::to_string(last.lines);
    return power_ups == 1 ? "" : std::to_string(power_ups) + " power-ups";
}

// CTAMREL's power-up and power-down around two frames, on each cable; both asked twice. The
// outputs settle 100 ms (ByteBlaster) or 200 ms (USB-Blaster) before the first frame.
TEST(Cables, PowerSequencesKeepTheTargetInResetWhileWriteProtectionIsReleased) {
    for (bool on_usb : {false, true}) {
        SCOPED_TRACE(on_usb ? "USB-Blaster" : "ByteBlaster");
        RecordingPort port;
        FakeD2xx fake;
        CALTERALPT lpt(&port);
        CALTERAUSB usb;
        CInterface& cable = on_usb ? static_cast<CInterface&>(usb) : lpt;
        Printed([&] { on_usb ? usb.Open() : lpt.Open(); });
        port.board.clear();
        {
            Programmer programmer(&cable);
            EXPECT_EQ(1, programmer.On());
            EXPECT_EQ(1, programmer.On());
            Bytes frame = {0x05, 0x00, 0x02, 0x00};
            cable.WR_BLOCK(frame.data(), 2, 2);
            cable.WR_BLOCK(frame.data(), 4, 0);
            EXPECT_EQ(0, programmer.Off());
            EXPECT_EQ(0, programmer.Off());
        }
        EXPECT_EQ("", PowerRuleBroken(on_usb ? fake.board : port.board,
                                      on_usb ? 200000000ULL : 100000000ULL));
    }
}

// A port access or USB transfer that fails mid-frame: the cable says so once, naming itself,
// ends the frame, and sends nothing more. Overlapped, a read that keeps coming back without
// the replies due fails the same way (after 3 s).
TEST(Cables, LostCableIsReportedOnceAndNothingMoreIsSent) {
    const std::string usb_lost =
        "\nError: cable \"USB-Blaster\" lost: a USB transfer failed or came back short, "
        "operation stopped\n";
    for (const auto& [how, overlapped] : {std::pair{"port", false},
                                          {"W", false},
                                          {"R", false},
                                          {"short", false},
                                          {"W", true},
                                          {"R", true},
                                          {"short", true}}) {
        SCOPED_TRACE(std::string(how) + (overlapped ? " overlapped" : ""));
        RecordingPort port;
        FakeD2xx fake;
        fake.overlapped = overlapped;
        CALTERALPT lpt(&port);
        CALTERAUSB usb;
        const bool on_usb = *how != 'p';
        CInterface& cable = on_usb ? static_cast<CInterface&>(usb) : lpt;
        Printed([&] { on_usb ? usb.Open() : lpt.Open(); });
        Programmer programmer(&cable);
        programmer.On();
        port.working = 20;  // a few bits into the frame
        if (on_usb && *how != 's') fake.fail = how;
        fake.short_by = *how == 's';
        Bytes frame(300, 0x5A);
        EXPECT_EQ(on_usb ? usb_lost
                         : "\nError: cable \"LPT Byte Blaster\" lost: a parallel port access "
                           "failed, operation stopped\n",
                  Printed([&] { cable.WR_BLOCK(frame.data(), 300, 300); }));
        EXPECT_EQ(1, cable.CABLE_LOST());
        const size_t packets = fake.packets.size();
        const long accesses = port.attempts;
        EXPECT_EQ("", Printed([&] { cable.WR_BLOCK(frame.data(), 4, 4); }));
        EXPECT_EQ(packets, fake.packets.size());
        EXPECT_EQ(accesses, port.attempts);
    }
}

#ifdef TAMREL_HAVE_LIBFTDI1
// The stand-in library: three cables without serial numbers, device d on port d of a hub on
// port 1 of bus 3, at address d + 10; from the third enumeration on the bus lists them in
// another order. The chip's bytes arrive at most three per poll, every other poll finds none.
const char* const kDescriptions[] = {"USB-Blast", "USB-Blaster rev C", "USB-Blaster"};
int contexts = 0, find_ids = 0, polls = 0, read_chunk = 0, enumerations = 0, submitted = 0;
Bytes written;
std::vector<int> chunks;  // read transfer sizes set, in order
libusb_device* opened = nullptr;
Bytes chip;

TEST(LibftdiBackend, OpensByPrefixAndReassemblesBoundedReads) {
    auto ok = [](ftdi_context*, auto...) { return 0; };
    FtdiCalls f{};
    f.new_context = [] { return ++contexts, new ftdi_context(); };
    f.free_context = [](ftdi_context* c) { --contexts, delete c; };
    f.usb_find_all = [](ftdi_context*, ftdi_device_list** list, int vid, int pid) {
        const size_t shift = ++enumerations >= 3;
        for (size_t i = 3; i-- > 0;)
            *list =
                new ftdi_device_list{*list, reinterpret_cast<libusb_device*>((i + shift) % 3 + 1)};
        return find_ids = vid << 16 | pid, 3;
    };
    f.bus_number = [](libusb_device*) -> uint8_t { return 3; };
    f.device_address = [](libusb_device* d) { return static_cast<uint8_t>(size_t(d) + 10); };
    f.port_numbers = [](libusb_device* d, uint8_t* ports, int) {
        return ports[0] = 1, ports[1] = static_cast<uint8_t>(size_t(d)), 2;
    };
    f.list_free = [](ftdi_device_list** list) {
        for (ftdi_device_list* next; *list; *list = next) next = (*list)->next, delete *list;
    };
    f.usb_get_strings2 = [](ftdi_context*, libusb_device* d, char*, int, char* desc, int len,
                            char* serial, int) {
        if (serial) return -9;  // no serial number
        return snprintf(desc, len, "%s", kDescriptions[reinterpret_cast<size_t>(d) - 1]), 0;
    };
    f.usb_open_dev = [](ftdi_context*, libusb_device* d) { return opened = d, 0; };
    f.read_data = [](ftdi_context*, unsigned char* buf, int size) {
        int n = ++polls % 2 ? 0 : std::min({size, 3, static_cast<int>(chip.size())});
        std::copy_n(chip.begin(), n, buf);
        chip.erase(chip.begin(), chip.begin() + n);
        return n;
    };
    f.read_data_set_chunksize = [](ftdi_context*, unsigned n) {
        return chunks.push_back(read_chunk = n), 0;
    };
    // A submitted transfer is done at once: a write takes its bytes, a read what the chip has.
    f.write_data_submit = [](ftdi_context*, unsigned char* b, int n) {
        written.assign(b, b + n), ++submitted;
        return new ftdi_transfer_control{0, b, n, n, nullptr, nullptr};
    };
    f.read_data_submit = [](ftdi_context*, unsigned char* b, int n) {
        const int k = std::min(n, static_cast<int>(chip.size()));
        std::copy_n(chip.begin(), k, b), chip.erase(chip.begin(), chip.begin() + k), ++submitted;
        return new ftdi_transfer_control{0, b, n, k, nullptr, nullptr};
    };
    f.transfer_data_done = [](ftdi_transfer_control* tc) {
        const int n = tc->offset;
        return delete tc, --submitted, n;
    };
    f.transfer_data_cancel = [](ftdi_transfer_control* tc, timeval*) { delete tc, --submitted; };
    f.usb_close = f.usb_reset = f.tcioflush = ok, f.set_latency_timer = ok, f.set_baudrate = ok;
    f.set_bitmode = f.set_event_char = f.set_error_char = ok, f.write_data_set_chunksize = ok;
    {
        CLibftdiBackend backend(f, 50);  // a read gives up after 50 ms
        D2XX_SetBackend(&backend);
        CFTDI dev;
        Printed([&] { EXPECT_EQ(1, dev.Set_VIDPID(0x09FB, 0x6001)); });
        EXPECT_EQ(
            "\nUsing USB-Blaster serial (none), path 3-1.2; 1 more present (choose one with "
            "--usb-serial=, --usb-index= or --usb-path=; --list shows them)",
            Printed([&] { EXPECT_EQ(1, dev.Open_ByName("USB-Blaster", 921600, 64)); }));
        // The first description that begins with the name (devices are numbered from 1), found
        // again by its port path though the bus now lists it elsewhere.
        EXPECT_EQ(reinterpret_cast<libusb_device*>(2), opened);
        FT_DEVICE_LOCATION where;
        EXPECT_EQ(FT_OK, FT_GetDeviceLocation(1, &where));
        EXPECT_EQ("3-1.2 /dev/bus/usb/003/012", std::string(where.path) + " " + where.node);
        EXPECT_EQ(0x09FB6001, find_ids);
        EXPECT_TRUE(read_chunk >= 64 && read_chunk % 64 == 0);  // whole USB packets

        chip = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        Bytes buf(8);
        DWORD queued = 0;
        EXPECT_EQ(FT_OK, FT_GetQueueStatus(dev.ft_handle, &queued));
        EXPECT_EQ(3u, queued);
        EXPECT_EQ(8, dev.Read(buf.data(), 8));  // across empty polls
        EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 7, 8}), buf);
        EXPECT_EQ(2, dev.Read(buf.data(), 4));  // gives up
        EXPECT_EQ((Bytes{9, 10, 3, 4, 5, 6, 7, 8}), buf);
        // A window's six reply packets are one transfer that ends when they are in.
        chip = Bytes(372, 7), chunks.clear();
        Bytes window(372);
        EXPECT_EQ(372, dev.Read(window.data(), 372));
        EXPECT_EQ(384, chunks.at(0));

        // Overlapped: what a poll brought comes first, and only one read is in flight at a
        // time, so no reply lands in another read's buffer.
        chip = {1, 2, 3, 4, 5, 6, 7, 8}, polls = 1;
        EXPECT_EQ(FT_OK, FT_GetQueueStatus(dev.ft_handle, &queued));  // brings 1, 2, 3
        Bytes out = {0x2A, 0x06};
        FT_TRANSFER w = nullptr, r1 = nullptr, r2 = nullptr;
        DWORD moved = 0;
        ASSERT_EQ(FT_OK, FT_WriteSubmit(dev.ft_handle, out.data(), 2, &w));
        ASSERT_EQ(FT_OK, FT_ReadSubmit(dev.ft_handle, buf.data(), 6, &r1));
        EXPECT_EQ(FT_OTHER_ERROR, FT_ReadSubmit(dev.ft_handle, window.data(), 2, &r2));
        EXPECT_EQ(FT_OTHER_ERROR, FT_Read(dev.ft_handle, window.data(), 2, &moved));
        EXPECT_EQ(FT_OK, FT_TransferDone(dev.ft_handle, w, &moved));
        EXPECT_EQ(2u, moved);
        EXPECT_EQ(out, written);
        EXPECT_EQ(FT_OK, FT_TransferDone(dev.ft_handle, r1, &moved));
        EXPECT_EQ(6u, moved);
        EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), Bytes(buf.begin(), buf.begin() + 6));
        EXPECT_EQ(64, read_chunk);  // the three still due: one packet
        ASSERT_EQ(FT_OK, FT_ReadSubmit(dev.ft_handle, buf.data(), 4, &r2));  // free again
        EXPECT_EQ(FT_OK, FT_TransferCancel(dev.ft_handle, r2));
        EXPECT_EQ(0, submitted);
    }
    D2XX_SetBackend(nullptr);
    EXPECT_EQ(0, contexts);
}
#endif  // TAMREL_HAVE_LIBFTDI1

// On hardware the waits are real: the settle times after power-up and the poll pauses rely on
// no delay ending before its time, whether it spins or sleeps. Only the lower bound is checked.
TEST(Delays, NeverEndBeforeTheirTimeOnTheRealClock) {
    delay_set_sink(nullptr, nullptr);
    const auto lasted_ns = [](auto wait) {
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        wait();
        clock_gettime(CLOCK_MONOTONIC, &b);
        return (b.tv_sec - a.tv_sec) * 1000000000LL + (b.tv_nsec - a.tv_nsec);
    };
    for (unsigned us : {1u, 2u, 99u, 100u, 250u, 1500u})
        EXPECT_GE(lasted_ns([&] { delay_us(us); }), us * 1000LL) << "delay_us(" << us << ")";
    for (unsigned ms : {1u, 3u, 20u})
        EXPECT_GE(lasted_ns([&] { delay_ms(ms); }), ms * 1000000LL) << "delay_ms(" << ms << ")";
    delay_set_sink(&TestClock::Advance, &clock_, &TestClock::Read);
}

}  // namespace
