#include <deque>
#include <initializer_list>
#include <vector>

#include "adapter_test_util.h"
#include "adapters/altera_usb.h"
#include "adapters/d2xx.h"
#include "adapters/ftdi.h"

namespace {

typedef std::vector<unsigned char> Bytes;

unsigned char Rev(unsigned char b) {
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<unsigned char>(r << 1 | ((b >> i) & 1));
    return r;
}

// A scripted FTDI layer that logs its calls; the call named `fail` fails. It lists two
// devices and never has bytes to read, apart from two stale ones before the first read.
class FakeD2xx : public CD2xxBackend {
public:
    std::string fail, calls;
    int closes = 0;
    DWORD stale = 2;
    std::vector<Bytes> packets;

    FakeD2xx() { D2XX_SetBackend(this); }
    ~FakeD2xx() override { D2XX_SetBackend(nullptr); }
    FT_STATUS Ret(const char* name, std::initializer_list<unsigned long> args = {}) {
        calls += name;
        for (unsigned long a : args) calls += " " + std::to_string(a);
        calls += ";";
        return fail == name ? FT_IO_ERROR : FT_OK;
    }
    FT_STATUS GetVIDPID(DWORD* v, DWORD* p) override { return *v = *p = 0, Ret("GetVIDPID"); }
    FT_STATUS SetVIDPID(DWORD v, DWORD p) override { return Ret("SetVIDPID", {v, p}); }
    FT_STATUS ListDevices(void* n, void*, DWORD) override { return Two(n), Ret("List"); }
    FT_STATUS CreateDeviceInfoList(DWORD* n) override { return Two(n), Ret("Create"); }
    FT_STATUS GetDeviceInfoDetail(DWORD i, DWORD*, DWORD*, DWORD*, DWORD*, void*, void* desc,
                                  FT_HANDLE*) override {
        return snprintf(static_cast<char*>(desc), 64, i ? "USB-Blaster" : "USB-Blast"), FT_OK;
    }
    FT_STATUS Open(int i, FT_HANDLE* h) override { return *h = this, Ret("Open", {0ul + i}); }
    FT_STATUS Close(FT_HANDLE) override { return ++closes, FT_OK; }
    FT_STATUS ResetDevice(FT_HANDLE) override { return Ret("Reset"); }
    FT_STATUS SetBitMode(FT_HANDLE, UCHAR m, UCHAR o) override { return Ret("BitMode", {m, o}); }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD* n) override { return *n = stale, Ret("Queue"); }
    FT_STATUS Read(FT_HANDLE, void*, DWORD n, DWORD* got) override {
        return *got = stale = 0, Ret("R", {n});
    }
    FT_STATUS Write(FT_HANDLE, void* buf, DWORD n, DWORD* put) override {
        const unsigned char* b = static_cast<const unsigned char*>(buf);
        packets.emplace_back(b, b + n);
        return *put = n, Ret("W", {n});
    }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG r, ULONG w) override { return Ret("Timeouts", {r, w}); }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR ms) override { return Ret("Latency", {ms}); }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG baud) override { return Ret("Baud", {baud}); }
    FT_STATUS SetChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) override { return Ret("Chars"); }
    FT_STATUS SetUSBParameters(FT_HANDLE, ULONG i, ULONG o) override { return Ret("USB", {i, o}); }
    FT_STATUS Purge(FT_HANDLE, ULONG mask) override { return Ret("Purge", {mask}); }

private:
    static void Two(void* n) { *static_cast<DWORD*>(n) = 2; }
};

TEST(UsbBlaster, OpenConfiguresTheChipAndReportsEachFailingStep) {
    const std::string kSteps =
        "GetVIDPID;SetVIDPID 2555 24577;List;Create;Open 1;Reset;BitMode 0 0;Queue;R 2;"
        "Timeouts 0 0;Latency 2;Baud 921600;Chars;USB 64 64;Purge 3;";
    const std::string ids = "\nSet VID: 0x9FB, PID: 0x6001", pre = ids + "\nError: Failed ",
                      tail =
                          "\nCan't find 'Altera USB-Blaster'\nAdapter or driver is not "
                          "insatalled on PC\n";
    const struct {
        const char* fail;
        int rc;
        std::string text;
    } cases[] = {
        {"GetVIDPID", -1, "\nError: Failed Can`t get VID, PID"},
        {"SetVIDPID", -1, "\nError: Failed set VID: 0x9FB, PID: 0x6001"},
        {"List", 0, pre + "can`t get USB device list" + tail},
        {"Create", 0, ids + tail},
        {"Open", 0, pre + "USB open 'USB-Blaster'" + tail},
        {"Reset", 0, pre + "no device Reset" + tail},
        {"BitMode", 0, pre + " can`t Reset" + tail},
        {"Queue", 0, pre + "can`t get Queue Status" + tail},
        {"Timeouts", 0, pre + "to set Timeouts" + tail},
        {"Latency", 0, pre + "to set Latency Timer" + tail},
        {"Baud", 0, pre + "to set Baud Rate" + tail},
        {"Chars", 0, pre + "disable event and errors" + tail},
        {"USB", 0, pre + "to set USB Block Size" + tail},
        {"Purge", 0, pre + "clear FIFO" + tail},
        {"", 1, ids + "\n\"Altera USB-Blaster\" detected"},
    };
    for (const auto& c : cases) {
        NoSleep quiet;
        FakeD2xx fake;
        fake.fail = c.fail;
        CALTERAUSB usb;
        int rc = 2;
        EXPECT_EQ(c.text, Printed([&] { rc = usb.Open(); }));
        EXPECT_EQ(c.rc, rc) << c.fail;
        // The steps up to the failing one, in order, and none after it.
        size_t end = *c.fail ? kSteps.find(';', kSteps.find(c.fail)) + 1 : kSteps.size();
        EXPECT_EQ(kSteps.substr(0, end), fake.calls);
        // A device opened before the failing step is closed with the adapter.
        Printed([&] { usb.ftdi->Close(); });
        EXPECT_EQ(fake.calls.find("Reset") != std::string::npos, fake.closes == 1) << c.fail;
    }
}

// Data bytes per packet of one frame (0: the deselect byte alone), read back packet by
// packet when asked. The frame sits between the one-byte power-up (0x2A) and power-down (0x06)
// packets.
TEST(UsbBlaster, FramesSplitIntoPacketsWithReversedBytes) {
    const std::pair<long, std::vector<int>> cases[] = {
        {1, {1}},           {2, {2}},           {60, {60}},
        {61, {61, 0}},      {62, {61, 1}},      {123, {61, 62}},
        {124, {61, 63, 0}}, {125, {61, 63, 1}}, {260, {61, 63, 63, 63, 10}},
    };
    for (const auto& c : cases) {
        for (long read_len : {0L, c.first}) {
            SCOPED_TRACE(std::to_string(c.first) + " bytes, read " + std::to_string(read_len));
            NoSleep quiet;
            FakeD2xx fake;
            CALTERAUSB usb;
            Printed([&] { usb.Open(); });
            fake.calls.clear();
            EXPECT_EQ(1, Power(usb, true));
            fake.stale = 2;  // left over from an earlier frame
            Bytes frame(c.first);
            for (size_t i = 0; i < frame.size(); ++i)
                frame[i] = static_cast<unsigned char>(i * 37 + 1);
            usb.WR_BLOCK(Bytes(frame).data(), c.first, read_len);
            EXPECT_EQ(0, Power(usb, false));

            std::vector<Bytes> want = {{0x2A}};
            std::string calls = "W 1;Queue;R 2;";
            size_t at = 0;
            for (size_t p = 0; p < c.second.size(); ++p) {
                Bytes pk = p ? Bytes{} : Bytes{0x28, 0x28};
                int n = c.second[p];
                if (n) pk.push_back(static_cast<unsigned char>(0xC0 + n));
                for (int k = 0; k < n; ++k) pk.push_back(Rev(frame[at++]));
                if (p + 1 == c.second.size()) pk.push_back(0x2A);
                want.push_back(pk);
                calls += "W " + std::to_string(pk.size()) + ";";
                if (read_len && n) calls += "R " + std::to_string(n) + ";";
            }
            want.push_back({0x06});
            EXPECT_EQ(want, fake.packets);
            EXPECT_EQ(calls + "W 1;", fake.calls);
        }
    }
}

}  // namespace
