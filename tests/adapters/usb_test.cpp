#include <deque>
#include <vector>

#include "adapter_test_util.h"
#include "adapters/altera_usb.h"
#include "adapters/d2xx.h"
#include "adapters/ftdi.h"

namespace {

typedef std::vector<unsigned char> Bytes;
std::string S(unsigned long v) {
    return std::to_string(v);
}
std::string A(unsigned long a, unsigned long b) {
    return "(" + S(a) + "," + S(b) + ")";
}

unsigned char Rev(unsigned char b) {
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= static_cast<unsigned char>(0x80 >> i);
    return r;
}

// A scripted FTDI device that logs its calls. Each shifted byte is answered with its
// wire value plus one.
class FakeD2xx : public CD2xxBackend {
  public:
    std::string fail, calls;  // fail: name of the call that fails
    DWORD vid = 0x09FB, pid = 0x6001;
    std::vector<std::string> devices = {"USB-Blaster"};
    int bad_detail = -1, opened = -1, closes = 0;
    std::deque<unsigned char> rx;
    std::vector<Bytes> packets;

    FakeD2xx() { D2XX_SetBackend(this); }
    ~FakeD2xx() override { D2XX_SetBackend(nullptr); }
    FT_STATUS Ret(const std::string& name, const std::string& args = "") {
        calls += name + args + " ";
        return fail == name ? FT_IO_ERROR : FT_OK;
    }

    FT_STATUS GetVIDPID(DWORD* v, DWORD* p) override {
        *v = vid, *p = pid;
        return Ret("GetVIDPID");
    }
    FT_STATUS SetVIDPID(DWORD v, DWORD p) override {
        return fail == "SetVIDPID" ? FT_IO_ERROR : (vid = v, pid = p, Ret("SetVIDPID"));
    }
    FT_STATUS ListDevices(void* n, void* a2, DWORD f) override {
        *static_cast<DWORD*>(n) = static_cast<DWORD>(devices.size());
        return Ret("List", A(a2 != nullptr, f));
    }
    FT_STATUS CreateDeviceInfoList(DWORD* n) override {
        *n = static_cast<DWORD>(devices.size());
        return Ret("Create");
    }
    FT_STATUS GetDeviceInfoDetail(DWORD i, DWORD*, DWORD*, DWORD*, DWORD*, void*, void* desc,
                                  FT_HANDLE*) override {
        snprintf(static_cast<char*>(desc), 64, "%s", devices[i].c_str());
        return static_cast<int>(i) == bad_detail ? FT_DEVICE_NOT_OPENED : FT_OK;
    }
    FT_STATUS Open(int i, FT_HANDLE* h) override {
        *h = this;  // even on failure, which must not count as open
        return Ret("Open", "(" + S(opened = i) + ")");
    }
    FT_STATUS Close(FT_HANDLE) override { return ++closes, FT_OK; }
    FT_STATUS ResetDevice(FT_HANDLE) override { return Ret("Reset"); }
    FT_STATUS SetBitMode(FT_HANDLE, UCHAR m, UCHAR o) override { return Ret("BitMode", A(m, o)); }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD* n) override {
        *n = static_cast<DWORD>(rx.size());
        return Ret("Queue");
    }
    FT_STATUS Read(FT_HANDLE, void* buf, DWORD n, DWORD* got) override {
        for (*got = 0; *got < n && !rx.empty(); ++*got, rx.pop_front())
            static_cast<unsigned char*>(buf)[*got] = rx.front();
        return Ret("R" + S(n));
    }
    FT_STATUS Write(FT_HANDLE, void* buf, DWORD n, DWORD* put) override {
        const unsigned char* b = static_cast<const unsigned char*>(buf);
        packets.emplace_back(b, b + n);
        for (DWORD i = 0; i < n; ++i)
            if (b[i] & 0x80)  // shift header
                for (int k = b[i] & 0x3F; k > 0; --k, ++i) rx.push_back(b[i + 1] + 1);
        *put = n;
        return Ret("W" + S(n));
    }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG r, ULONG w) override { return Ret("Timeouts", A(r, w)); }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR ms) override { return Ret("Latency", S(ms)); }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG baud) override { return Ret("Baud", S(baud)); }
    FT_STATUS SetChars(FT_HANDLE, UCHAR a, UCHAR b, UCHAR c, UCHAR d) override {
        return Ret("Chars", A(a, b) + A(c, d));
    }
    FT_STATUS SetUSBParameters(FT_HANDLE, ULONG in, ULONG out) override {
        return Ret("USB", A(in, out));
    }
    FT_STATUS Purge(FT_HANDLE, ULONG mask) override { return Ret("Purge", S(mask)); }
};

std::string OpenOutput(CALTERAUSB& usb, int expect_rc) {
    BeginCapture();
    EXPECT_EQ(expect_rc, usb.Open());
    return EndCapture();
}

void PowerUp(CInterface& a) {
    a.CLR_CPU_RESET();
    a.SET_WP_DISABLE();
    a.SET_CS();
    a.CLR_SCK();
    a.CLR_MOSI();
    EXPECT_EQ(1, a.ADAPTER_ON());
}

TEST(UsbBlaster, OpenConfiguresTheDeviceAndPowerSequencesSendOneByte) {
    NoSleep quiet;
    FakeD2xx fake;
    fake.vid = 0x0403;
    fake.rx = {1, 2, 3, 4, 5};  // stale bytes are drained while opening
    {
        CALTERAUSB usb;
        EXPECT_EQ("\nSet VID: 0x9FB, PID: 0x6001\n\"Altera USB-Blaster\" detected",
                  OpenOutput(usb, 1));
        EXPECT_EQ(
            "GetVIDPID SetVIDPID List(0,2147483648) Create Open(0) Reset BitMode(0,0) Queue R5 "
            "Timeouts(0,0) Latency2 Baud921600 Chars(0,0)(0,0) USB(64,64) Purge3 ",
            fake.calls);
        fake.packets.clear();
        PowerUp(usb);
        unsigned char wren = 0x06;
        usb.WR_BLOCK(&wren, 1, 0);
        usb.SET_CS();  // standard power-down
        usb.CLR_SCK();
        usb.CLR_MOSI();
        usb.CLR_WP_DISABLE();
        usb.SET_CPU_RESET();
        EXPECT_EQ(0, usb.ADAPTER_OFF());
        EXPECT_EQ((std::vector<Bytes>{{0x2A}, {0x28, 0x28, 0xC1, 0x60, 0x2A}, {0x06}}),
                  fake.packets);
    }
    EXPECT_EQ(1, fake.closes);
}

// Data bytes per packet; 0 is the deselect byte alone.
TEST(UsbBlaster, FramesSplitIntoPacketsWithReversedBytes) {
    const std::pair<long, std::vector<int>> cases[] = {
        {1, {1}},           {2, {2}},           {60, {60}},
        {61, {61, 0}},      {62, {61, 1}},      {123, {61, 62}},
        {124, {61, 63, 0}}, {125, {61, 63, 1}}, {260, {61, 63, 63, 63, 10}},
    };
    for (const auto& c : cases) {
        for (long read_len : {0L, c.first}) {
            SCOPED_TRACE("len " + S(c.first) + " read " + S(read_len));
            NoSleep quiet;
            FakeD2xx fake;
            CALTERAUSB usb;
            OpenOutput(usb, 1);
            PowerUp(usb);
            fake.packets.clear();
            fake.calls.clear();
            fake.rx = {0xEE, 0xEE};  // left over from an earlier frame
            Bytes frame(c.first);
            for (size_t i = 0; i < frame.size(); ++i)
                frame[i] = static_cast<unsigned char>(i * 37 + 1);
            Bytes buf = frame;
            usb.WR_BLOCK(buf.data(), c.first, read_len);

            std::vector<Bytes> want;
            std::string calls = "Queue R2 ";
            size_t at = 0;
            for (size_t p = 0; p < c.second.size(); ++p) {
                Bytes pk = p ? Bytes{} : Bytes{0x28, 0x28};
                int n = c.second[p];
                if (n) pk.push_back(static_cast<unsigned char>(0xC0 + n));
                for (int k = 0; k < n; ++k) pk.push_back(Rev(frame[at++]));
                if (p + 1 == c.second.size()) pk.push_back(0x2A);
                want.push_back(pk);
                calls += "W" + S(pk.size()) + (read_len && n ? " R" + S(n) + " " : " ");
            }
            EXPECT_EQ(want, fake.packets);
            EXPECT_EQ(calls, fake.calls);
            for (size_t i = 0; i < frame.size(); ++i)
                EXPECT_EQ(read_len ? Rev(Rev(frame[i]) + 1) : frame[i], buf[i]) << i;
        }
    }
}

TEST(UsbBlaster, OpenFailuresAreReported) {
    const std::string tail =
        "\nCan't find 'Altera USB-Blaster'\nAdapter or driver is not insatalled on PC\n";
    const struct {
        const char* fail;
        std::string text;
    } cases[] = {
        {"List", "can`t get USB device list"}, {"Create", ""},
        {"Open", "USB open 'USB-Blaster'"},    {"Reset", "no device Reset"},
        {"BitMode", " can`t Reset"},           {"Queue", "can`t get Queue Status"},
        {"Timeouts", "to set Timeouts"},       {"Latency", "to set Latency Timer"},
        {"Baud", "to set Baud Rate"},          {"Chars", "disable event and errors"},
        {"USB", "to set USB Block Size"},      {"Purge", "clear FIFO"},
    };
    for (const auto& c : cases) {
        FakeD2xx fake;
        fake.fail = c.fail;
        {
            CALTERAUSB usb;
            EXPECT_EQ(c.text.empty() ? tail : "\nError: Failed " + c.text + tail,
                      OpenOutput(usb, 0));
            BeginCapture();  // the close path may complain as well
        }
        EndCapture();
        // A device opened before the failing step is closed with the adapter.
        EXPECT_EQ(fake.calls.find("Reset") != std::string::npos, fake.closes == 1) << c.fail;
    }
    for (const char* fail : {"GetVIDPID", "SetVIDPID"}) {
        FakeD2xx fake;
        fake.fail = fail;
        fake.vid = 0x0403;
        CALTERAUSB usb;
        EXPECT_EQ(fake.fail == "GetVIDPID" ? "\nError: Failed Can`t get VID, PID"
                                           : "\nError: Failed set VID: 0x9FB, PID: 0x6001",
                  OpenOutput(usb, -1));
    }
}

TEST(UsbBlaster, DeviceSearchMatchesDescriptionPrefix) {
    const struct {
        std::vector<std::string> devices;
        int bad_detail, opened;
    } cases[] = {
        {{}, -1, -1},
        {{"USB-Blast", "Other"}, -1, -1},
        {{"USB-Blast", "USB-Blaster (rev B)", "USB-Blaster"}, -1, 1},
        {{"USB-Blaster", "USB-Blaster"}, 0, 1},  // a failing entry is skipped
    };
    NoSleep quiet;
    for (const auto& c : cases) {
        FakeD2xx fake;
        fake.devices = c.devices;
        fake.bad_detail = c.bad_detail;
        CFTDI dev;
        EXPECT_EQ(c.opened < 0 ? -1 : 1, dev.Open_ByName("USB-Blaster", 921600, 64));
        EXPECT_EQ(c.opened, fake.opened);
    }
    FakeD2xx fake;
    CFTDI dev;
    dev.ft_handle = &fake;
    fake.fail = "Queue";
    BeginCapture();
    dev.FlushFIFO();
    dev.ft_handle = nullptr;
    EXPECT_EQ("\nGetQueueStatus error!! :0x4X\n", EndCapture());
}

}  // namespace
