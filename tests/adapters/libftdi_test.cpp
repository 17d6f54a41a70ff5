#ifdef TAMREL_HAVE_LIBFTDI1

#include <deque>
#include <vector>

#include "adapter_test_util.h"
#include "adapters/d2xx_libftdi.h"
#include "adapters/ftdi.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// The stand-in library: three cables without serial numbers, scripted reads.
struct FakeLib {
    std::vector<std::string> descriptions = {"USB-Blast", "USB-Blaster rev C", "USB-Blaster"};
    int contexts = 0, opened = -1, find_vid = 0, find_pid = 0;
    unsigned read_chunk = 0;
    std::deque<Bytes> reads;  // what each read_data call finds (empty: nothing pending)
} lib;

// The library calls, as plain functions over the state above.
struct Fn {
    static libusb_device* Dev(size_t i) { return reinterpret_cast<libusb_device*>(i + 1); }
    static size_t Index(libusb_device* d) { return reinterpret_cast<size_t>(d) - 1; }
    static ftdi_context* NewCtx() { return ++lib.contexts, new ftdi_context(); }
    static void FreeCtx(ftdi_context* c) { --lib.contexts, delete c; }
    static int FindAll(ftdi_context*, ftdi_device_list** list, int vid, int pid) {
        lib.find_vid = vid, lib.find_pid = pid;
        for (size_t i = lib.descriptions.size(); i-- > 0;)
            *list = new ftdi_device_list{*list, Dev(i)};
        return static_cast<int>(lib.descriptions.size());
    }
    static void ListFree(ftdi_device_list** list) {
        for (ftdi_device_list* next; *list; *list = next) next = (*list)->next, delete *list;
    }
    static int Strings(ftdi_context*, libusb_device* d, char*, int, char* desc, int len,
                       char* serial, int) {
        if (serial) return -9;  // no serial number
        return snprintf(desc, len, "%s", lib.descriptions[Index(d)].c_str()), 0;
    }
    static int OpenDev(ftdi_context*, libusb_device* d) {
        return lib.opened = static_cast<int>(Index(d)), 0;
    }
    static int Read(ftdi_context*, unsigned char* buf, int size) {
        if (lib.reads.empty()) return 0;
        Bytes& next = lib.reads.front();
        int n = std::min(size, static_cast<int>(next.size()));
        std::copy(next.begin(), next.begin() + n, buf);
        next.erase(next.begin(), next.begin() + n);
        if (next.empty()) lib.reads.pop_front();
        return n;
    }
    static int ReadChunk(ftdi_context*, unsigned int n) { return lib.read_chunk = n, 0; }
    static int Write(ftdi_context*, const unsigned char*, int n) { return n; }
    static int Ok(ftdi_context*) { return 0; }
    static int OkU(ftdi_context*, unsigned int) { return 0; }
    static int OkC(ftdi_context*, unsigned char) { return 0; }
    static int OkCC(ftdi_context*, unsigned char, unsigned char) { return 0; }
    static int OkI(ftdi_context*, int) { return 0; }
};

const FtdiCalls kFake = {Fn::NewCtx,  Fn::FreeCtx,   Fn::FindAll, Fn::ListFree, Fn::Strings,
                         Fn::OpenDev, Fn::Ok,        Fn::Ok,      Fn::OkCC,     Fn::Read,
                         Fn::Write,   Fn::ReadChunk, Fn::OkU,     Fn::OkC,      Fn::OkI,
                         Fn::OkCC,    Fn::OkCC,      Fn::Ok,      Fn::Ok,       Fn::Ok};

class LibftdiBackend : public testing::Test {
  protected:
    NoSleep quiet;
    void SetUp() override { lib = FakeLib(); }
    void TearDown() override { EXPECT_EQ(0, lib.contexts); }

    // Opens the cable the way the USB-Blaster does and keeps the device.
    static FT_HANDLE OpenCable(CLibftdiBackend& backend) {
        D2XX_SetBackend(&backend);
        CFTDI dev;
        BeginCapture();
        EXPECT_EQ(1, dev.Set_VIDPID(0x09FB, 0x6001));
        EXPECT_EQ(1, dev.Open_ByName("USB-Blaster", 921600, 64));
        EXPECT_EQ("\nSet VID: 0x9FB, PID: 0x6001", EndCapture());
        D2XX_SetBackend(nullptr);
        FT_HANDLE h = dev.ft_handle;
        dev.ft_handle = nullptr;
        return h;
    }
};

TEST_F(LibftdiBackend, OpensByPrefixAndReadsWithoutLosingBytes) {
    CLibftdiBackend backend(kFake);
    FT_HANDLE h = OpenCable(backend);
    EXPECT_EQ(1, lib.opened);  // first description that begins with the name
    EXPECT_EQ(0x09FB, lib.find_vid);
    EXPECT_EQ(0x6001, lib.find_pid);
    EXPECT_TRUE(lib.read_chunk >= 64 && lib.read_chunk % 64 == 0);

    lib.reads = {{0x01, 0x60, 0x00}, {}, {}, {0x31, 0x00, 0x01, 0xFF, 0x02, 0xAA, 0xBB}};
    Bytes buf(8);
    DWORD got = 0, queued = 0;
    EXPECT_EQ(FT_OK, backend.Read(h, buf.data(), 8, &got));  // waits across empty polls
    EXPECT_EQ((Bytes{0x01, 0x60, 0x00, 0x31, 0x00, 0x01, 0xFF, 0x02}),
              Bytes(buf.begin(), buf.begin() + got));
    EXPECT_EQ(FT_OK, backend.GetQueueStatus(h, &queued));  // the surplus is kept
    EXPECT_EQ(2u, queued);
    EXPECT_EQ(FT_OK, backend.Read(h, buf.data(), 2, &got));
    EXPECT_EQ((Bytes{0xAA, 0xBB}), Bytes(buf.begin(), buf.begin() + got));
}

TEST_F(LibftdiBackend, ReadGivesUpWithWhatArrived) {
    CLibftdiBackend backend(kFake, 0);
    FT_HANDLE h = OpenCable(backend);
    lib.reads = {{0x5A, 0xC3}};
    Bytes buf(4);
    DWORD got = 99;
    EXPECT_EQ(FT_OK, backend.Read(h, buf.data(), 4, &got));
    EXPECT_EQ((Bytes{0x5A, 0xC3}), Bytes(buf.begin(), buf.begin() + got));
}

}  // namespace

#endif  // TAMREL_HAVE_LIBFTDI1
