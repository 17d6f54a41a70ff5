#ifdef TAMREL_HAVE_LIBFTDI1

#include <algorithm>
#include <vector>

#include "adapter_test_util.h"
#include "adapters/d2xx_libftdi.h"
#include "adapters/ftdi.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// The stand-in library: three cables without serial numbers; the chip's bytes arrive
// at most three per poll, and every other poll finds nothing.
const char* const kDescriptions[] = {"USB-Blast", "USB-Blaster rev C", "USB-Blaster"};
int contexts = 0, opened = -1, find_ids = 0, polls = 0;
unsigned read_chunk = 0;
Bytes chip;

template <class... A>
int Ok(ftdi_context*, A...) {
    return 0;
}

FtdiCalls Fake() {
    FtdiCalls f{};
    f.new_context = [] { return ++contexts, new ftdi_context(); };
    f.free_context = [](ftdi_context* c) { --contexts, delete c; };
    f.usb_find_all = [](ftdi_context*, ftdi_device_list** list, int vid, int pid) {
        find_ids = vid << 16 | pid;
        for (size_t i = 3; i-- > 0;)
            *list = new ftdi_device_list{*list, reinterpret_cast<libusb_device*>(i + 1)};
        return 3;
    };
    f.list_free = [](ftdi_device_list** list) {
        for (ftdi_device_list* next; *list; *list = next) next = (*list)->next, delete *list;
    };
    f.usb_get_strings2 = [](ftdi_context*, libusb_device* d, char*, int, char* desc, int len,
                            char* serial, int) {
        if (serial) return -9;  // no serial number
        snprintf(desc, len, "%s", kDescriptions[reinterpret_cast<size_t>(d) - 1]);
        return 0;
    };
    f.usb_open_dev = [](ftdi_context*, libusb_device* d) {
        return opened = static_cast<int>(reinterpret_cast<size_t>(d)) - 1, 0;
    };
    f.read_data = [](ftdi_context*, unsigned char* buf, int size) {
        int n = ++polls % 2 ? 0 : std::min({size, 3, static_cast<int>(chip.size())});
        std::copy_n(chip.begin(), n, buf);
        chip.erase(chip.begin(), chip.begin() + n);
        return n;
    };
    f.read_data_set_chunksize = [](ftdi_context*, unsigned n) { return read_chunk = n, 0; };
    f.usb_close = f.usb_reset = f.tcioflush = Ok<>;
    f.set_bitmode = f.set_event_char = f.set_error_char = Ok<unsigned char, unsigned char>;
    f.write_data_set_chunksize = Ok<unsigned>;
    f.set_latency_timer = Ok<unsigned char>;
    f.set_baudrate = Ok<int>;
    return f;
}

TEST(LibftdiBackend, OpensByPrefixAndReassemblesBoundedReads) {
    NoSleep quiet;
    {
        CLibftdiBackend backend(Fake(), 50);  // a read gives up after 50 ms
        D2XX_SetBackend(&backend);
        CFTDI dev;
        Printed([&] { EXPECT_EQ(1, dev.Set_VIDPID(0x09FB, 0x6001)); });
        EXPECT_EQ(1, dev.Open_ByName("USB-Blaster", 921600, 64));
        D2XX_SetBackend(nullptr);
        EXPECT_EQ(1, opened);  // the first description that begins with the name
        EXPECT_EQ(0x09FB6001, find_ids);
        EXPECT_TRUE(read_chunk >= 64 && read_chunk % 64 == 0);  // whole USB packets

        chip = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        Bytes buf(8);
        DWORD got = 0, queued = 0;
        EXPECT_EQ(FT_OK, backend.GetQueueStatus(dev.ft_handle, &queued));
        EXPECT_EQ(3u, queued);
        EXPECT_EQ(FT_OK, backend.Read(dev.ft_handle, buf.data(), 8, &got));  // across empty polls
        EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 7, 8}), Bytes(buf.begin(), buf.begin() + got));
        EXPECT_EQ(FT_OK, backend.Read(dev.ft_handle, buf.data(), 4, &got));  // gives up
        EXPECT_EQ((Bytes{9, 10}), Bytes(buf.begin(), buf.begin() + got));
        dev.ft_handle = nullptr;  // the backend closes it
    }
    EXPECT_EQ(0, contexts);
}

}  // namespace

#endif  // TAMREL_HAVE_LIBFTDI1
