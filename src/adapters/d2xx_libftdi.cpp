#ifdef TAMREL_HAVE_LIBFTDI1

#include "adapters/d2xx_libftdi.h"

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

struct CLibftdiBackend::Device {
    ftdi_context* ctx;
    std::vector<unsigned char> pending;  // read from the chip, not yet handed out
    ULONG read_timeout_ms = 0;           // 0: the backend's give-up time
    unsigned read_chunk = 0;             // bytes one bulk IN transfer asks for
    bool reading = false;                // a submitted read is in flight
};

struct CLibftdiBackend::Transfer {
    Device* dev;
    ftdi_transfer_control* tc;  // null: all taken from what was read before
    bool in;
    DWORD early;  // bytes a read took from what was read before
};

namespace {

const unsigned kUsbPacket = 64;       // full-speed bulk packet: 2 status + 62 data bytes
const unsigned kPollBytes = 4096;     // one queue poll takes at most this much
const unsigned kReplyBytes = 62;      // data bytes in a full IN packet
const unsigned kWriteChunk = 4096;    // one write call is one bulk transfer up to this size
const unsigned kMaxReadChunk = 8192;  // a submitted read of up to 128 reply packets

void CopyString(void* dst, size_t size, const std::string& src) {
    if (!dst) return;
    char* out = static_cast<char*>(dst);
    size_t n = std::min(src.size(), size - 1);
    memcpy(out, src.data(), n);
    out[n] = '\0';
}

}  // namespace

const FtdiCalls& Ftdi_LibraryCalls() {
    static const FtdiCalls calls = {
        ftdi_new,
        ftdi_free,
        ftdi_usb_find_all,
        ftdi_list_free,
        ftdi_usb_get_strings2,
        ftdi_usb_open_dev,
        ftdi_usb_close,
        ftdi_usb_reset,
        ftdi_set_bitmode,
        ftdi_read_data,
        ftdi_write_data,
        ftdi_read_data_set_chunksize,
        ftdi_write_data_set_chunksize,
        ftdi_set_latency_timer,
        ftdi_set_baudrate,
        ftdi_set_event_char,
        ftdi_set_error_char,
        ftdi_tciflush,
        ftdi_tcoflush,
        ftdi_tcioflush,
        libusb_get_bus_number,
        libusb_get_device_address,
        libusb_get_port_numbers,
        ftdi_write_data_submit,
        ftdi_read_data_submit,
        ftdi_transfer_data_done,
        ftdi_transfer_data_cancel,
    };
    return calls;
}

CLibftdiBackend::CLibftdiBackend(const FtdiCalls& calls, unsigned read_give_up_ms)
    : calls_(calls), read_give_up_ms_(read_give_up_ms) {}

CLibftdiBackend::~CLibftdiBackend() {
    while (!devices_.empty()) Close(devices_.back().get());
}

CLibftdiBackend::Device* CLibftdiBackend::Find(FT_HANDLE h) const {
    for (const auto& d : devices_)
        if (d.get() == h) return d.get();
    return nullptr;
}

// The strings of a listed device could not be read: say so when its device node refuses us.
bool CLibftdiBackend::Node_Not_Accessible(const std::string& node) {
    return access(node.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

// "BUS-PORT.PORT...": the bus, then the port on each hub from the root hub down.
std::string CLibftdiBackend::Port_Path(libusb_device* dev) const {
    uint8_t ports[8];
    const int n = calls_.port_numbers(dev, ports, sizeof ports);
    if (n < 1) return std::string();
    std::string path = std::to_string(calls_.bus_number(dev));
    for (int i = 0; i < n; ++i) path += (i ? "." : "-") + std::to_string(ports[i]);
    return path;
}

ftdi_context* CLibftdiBackend::Enumerate(std::vector<libusb_device*>* devs,
                                         ftdi_device_list** list) {
    *list = nullptr;
    ftdi_context* ctx = calls_.new_context();
    if (!ctx) return nullptr;
    if (calls_.usb_find_all(ctx, list, static_cast<int>(vid_), static_cast<int>(pid_)) < 0) {
        if (*list) calls_.list_free(list);
        calls_.free_context(ctx);
        return nullptr;
    }
    for (ftdi_device_list* node = *list; node; node = node->next) devs->push_back(node->dev);
    return ctx;
}

FT_STATUS CLibftdiBackend::GetVIDPID(DWORD* vid, DWORD* pid) {
    if (!vid || !pid) return FT_INVALID_PARAMETER;
    *vid = vid_;
    *pid = pid_;
    return FT_OK;
}

FT_STATUS CLibftdiBackend::SetVIDPID(DWORD vid, DWORD pid) {
    if (vid > 0xFFFF || pid > 0xFFFF) return FT_INVALID_PARAMETER;
    vid_ = vid;
    pid_ = pid;
    return FT_OK;
}

FT_STATUS CLibftdiBackend::ListDevices(void* arg1, void* /*arg2*/, DWORD flags) {
    if (flags != FT_LIST_NUMBER_ONLY) return FT_NOT_SUPPORTED;
    if (!arg1) return FT_INVALID_PARAMETER;
    std::vector<libusb_device*> devs;
    ftdi_device_list* list;
    ftdi_context* ctx = Enumerate(&devs, &list);
    if (!ctx) return FT_OTHER_ERROR;
    calls_.list_free(&list);
    calls_.free_context(ctx);
    *static_cast<DWORD*>(arg1) = static_cast<DWORD>(devs.size());
    return FT_OK;
}

// Reads every device's strings now; a device whose strings can't be read (no access,
// gone) stays in the list but its detail query fails.
FT_STATUS CLibftdiBackend::CreateDeviceInfoList(DWORD* count) {
    if (!count) return FT_INVALID_PARAMETER;
    std::vector<libusb_device*> devs;
    ftdi_device_list* list;
    ftdi_context* ctx = Enumerate(&devs, &list);
    if (!ctx) return FT_OTHER_ERROR;
    entries_.clear();
    access_denied_ = false;
    for (libusb_device* dev : devs) {
        char desc[64] = {};
        char serial[16] = {};
        char node[64];
        snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", calls_.bus_number(dev),
                 calls_.device_address(dev));
        Entry e;
        e.path = Port_Path(dev);
        e.node = node;
        e.ok = calls_.usb_get_strings2(ctx, dev, nullptr, 0, desc, sizeof desc, nullptr, 0) >= 0;
        if (!e.ok && Node_Not_Accessible(e.node)) access_denied_ = true;
        // Some cables have no serial number; that is no reason to skip them.
        if (e.ok &&
            calls_.usb_get_strings2(ctx, dev, nullptr, 0, nullptr, 0, serial, sizeof serial) < 0)
            serial[0] = '\0';
        desc[sizeof desc - 1] = '\0';
        serial[sizeof serial - 1] = '\0';
        e.description = desc;
        e.serial = serial;
        entries_.push_back(e);
    }
    calls_.list_free(&list);
    calls_.free_context(ctx);
    *count = static_cast<DWORD>(entries_.size());
    return FT_OK;
}

FT_STATUS CLibftdiBackend::GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* loc_id, void* serial, void* description,
                                               FT_HANDLE* handle) {
    if (index >= entries_.size()) return FT_DEVICE_NOT_FOUND;
    const Entry& e = entries_[index];
    if (!e.ok) return FT_DEVICE_NOT_OPENED;
    if (flags) *flags = 0;
    if (type) *type = 0;
    if (id) *id = (vid_ << 16) | pid_;
    if (loc_id) *loc_id = 0;
    CopyString(serial, 16, e.serial);
    CopyString(description, 64, e.description);
    if (handle) *handle = nullptr;
    return FT_OK;
}

FT_STATUS CLibftdiBackend::GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) {
    if (!where) return FT_INVALID_PARAMETER;
    if (index >= entries_.size()) return FT_DEVICE_NOT_FOUND;
    CopyString(where->path, sizeof where->path, entries_[index].path);
    CopyString(where->node, sizeof where->node, entries_[index].node);
    return FT_OK;
}

// Opens in a context of its own, so the device outlives later enumerations. An entry of the
// last listing is found again by its port path: a cable plugged in or out since then must
// not shift the choice onto another one.
FT_STATUS CLibftdiBackend::Open(int index, FT_HANDLE* handle) {
    if (!handle) return FT_INVALID_PARAMETER;
    std::vector<libusb_device*> devs;
    ftdi_device_list* list;
    ftdi_context* ctx = Enumerate(&devs, &list);
    if (!ctx) return FT_OTHER_ERROR;
    libusb_device* dev = nullptr;
    const bool listed =
        index >= 0 && static_cast<size_t>(index) < entries_.size() && !entries_[index].path.empty();
    if (listed) {
        for (libusb_device* d : devs)
            if (Port_Path(d) == entries_[index].path) dev = d;
    } else if (index >= 0 && static_cast<size_t>(index) < devs.size()) {
        dev = devs[index];
    }
    const int rc = dev ? calls_.usb_open_dev(ctx, dev) : -1;
    calls_.list_free(&list);  // an open device keeps its own reference
    if (rc < 0) {
        calls_.free_context(ctx);
        return dev ? FT_DEVICE_NOT_OPENED : FT_DEVICE_NOT_FOUND;
    }
    devices_.emplace_back(new Device{ctx, {}, 0, 0, false});
    *handle = devices_.back().get();
    return FT_OK;
}

FT_STATUS CLibftdiBackend::Close(FT_HANDLE h) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    int rc = calls_.usb_close(d->ctx);
    calls_.free_context(d->ctx);
    devices_.erase(std::find_if(devices_.begin(), devices_.end(),
                                [d](const std::unique_ptr<Device>& p) { return p.get() == d; }));
    return rc < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::ResetDevice(FT_HANDLE h) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    d->pending.clear();
    return calls_.usb_reset(d->ctx) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    return calls_.set_bitmode(d->ctx, mask, mode) < 0 ? FT_IO_ERROR : FT_OK;
}

// libftdi1 has no queue count: poll the chip once and report what is buffered here.
FT_STATUS CLibftdiBackend::GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (!rx_bytes) return FT_INVALID_PARAMETER;
    if (d->reading) return FT_OTHER_ERROR;
    unsigned char tmp[kPollBytes];
    int r = calls_.read_data(d->ctx, tmp, sizeof tmp);
    if (r < 0) return FT_IO_ERROR;
    d->pending.insert(d->pending.end(), tmp, tmp + r);
    *rx_bytes = static_cast<DWORD>(d->pending.size());
    return FT_OK;
}

// Waits for all n bytes, but never longer than the read timeout (or the give-up time
// when none is set): an unplugged cable returns what arrived instead of hanging.
// Sizes the next bulk IN transfer to the packets the bytes still due fill, so it ends as
// soon as they are in instead of at the next short packet (a latency timer later).
// libftdi drops what its own buffer holds when the size changes: only change it when empty.
void CLibftdiBackend::Size_Read(Device* d, size_t due) {
    if (due == 0 || d->ctx->readbuffer_remaining > 0) return;
    const unsigned packets = static_cast<unsigned>((due + kReplyBytes - 1) / kReplyBytes);
    const unsigned chunk = std::min(packets * kUsbPacket, kMaxReadChunk);
    if (chunk != d->read_chunk && calls_.read_data_set_chunksize(d->ctx, chunk) == 0)
        d->read_chunk = chunk;
}

FT_STATUS CLibftdiBackend::Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (!buf || !got) return FT_INVALID_PARAMETER;
    if (d->reading) return FT_OTHER_ERROR;
    using Clock = std::chrono::steady_clock;
    ULONG limit_ms = d->read_timeout_ms ? d->read_timeout_ms : read_give_up_ms_;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    FT_STATUS status = FT_OK;
    unsigned char tmp[kPollBytes];
    while (d->pending.size() < n) {
        size_t want = std::min<size_t>(n - d->pending.size(), sizeof tmp);
        Size_Read(d, want);
        int r = calls_.read_data(d->ctx, tmp, static_cast<int>(want));
        if (r < 0) {
            status = FT_IO_ERROR;
            break;
        }
        d->pending.insert(d->pending.end(), tmp, tmp + r);
        if (d->pending.size() >= n || Clock::now() >= deadline) break;
    }
    DWORD count = static_cast<DWORD>(std::min<size_t>(n, d->pending.size()));
    if (count) memcpy(buf, d->pending.data(), count);
    d->pending.erase(d->pending.begin(), d->pending.begin() + count);
    *got = count;
    return status;
}

FT_STATUS CLibftdiBackend::Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (!put || (!buf && n) || n > INT_MAX) return FT_INVALID_PARAMETER;
    *put = 0;
    if (n == 0) return FT_OK;
    int r = calls_.write_data(d->ctx, static_cast<const unsigned char*>(buf), static_cast<int>(n));
    if (r < 0) return FT_IO_ERROR;
    *put = static_cast<DWORD>(r);
    return FT_OK;
}

// The write timeout stays libusb's own bounded one.
FT_STATUS CLibftdiBackend::SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG /*write_ms*/) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    d->read_timeout_ms = read_ms;
    return FT_OK;
}

FT_STATUS CLibftdiBackend::SetLatencyTimer(FT_HANDLE h, UCHAR ms) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    return calls_.set_latency_timer(d->ctx, ms ? ms : 1) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::SetBaudRate(FT_HANDLE h, ULONG baud) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (baud == 0 || baud > INT_MAX) return FT_INVALID_PARAMETER;
    return calls_.set_baudrate(d->ctx, static_cast<int>(baud)) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch,
                                    UCHAR error_en) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (calls_.set_event_char(d->ctx, event_ch, event_en) < 0) return FT_IO_ERROR;
    return calls_.set_error_char(d->ctx, error_ch, error_en) < 0 ? FT_IO_ERROR : FT_OK;
}

// The read chunk must hold whole USB packets, or the status bytes are split wrongly.
FT_STATUS CLibftdiBackend::SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (in_size > 65536 || out_size > 65536) return FT_INVALID_PARAMETER;
    ULONG chunk = std::max<ULONG>(kUsbPacket, (in_size + kUsbPacket - 1) / kUsbPacket * kUsbPacket);
    if (calls_.read_data_set_chunksize(d->ctx, static_cast<unsigned>(chunk)) < 0)
        return FT_IO_ERROR;
    d->read_chunk = static_cast<unsigned>(chunk);
    // The bus still carries packets of at most 64 bytes; a larger chunk only makes one write
    // call one bulk transfer instead of one per packet.
    const unsigned write_chunk = std::max<unsigned>(static_cast<unsigned>(out_size), kWriteChunk);
    if (out_size && calls_.write_data_set_chunksize(d->ctx, write_chunk) < 0) return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS CLibftdiBackend::Purge(FT_HANDLE h, ULONG mask) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    bool rx = mask & FT_PURGE_RX, tx = mask & FT_PURGE_TX;
    if (rx) d->pending.clear();
    int rc = 0;
    if (rx && tx)
        rc = calls_.tcioflush(d->ctx);
    else if (rx)
        rc = calls_.tciflush(d->ctx);
    else if (tx)
        rc = calls_.tcoflush(d->ctx);
    return rc < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (!t || !buf || n == 0 || n > INT_MAX) return FT_INVALID_PARAMETER;
    ftdi_transfer_control* tc = calls_.write_data_submit(
        d->ctx, static_cast<unsigned char*>(const_cast<void*>(buf)), static_cast<int>(n));
    if (!tc) return FT_IO_ERROR;
    *t = new Transfer{d, tc, false, 0};
    return FT_OK;
}

// What an earlier read brought beyond its size is handed out first.
FT_STATUS CLibftdiBackend::ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t) {
    Device* d = Find(h);
    if (!d) return FT_INVALID_HANDLE;
    if (!t || !buf || n == 0 || n > INT_MAX) return FT_INVALID_PARAMETER;
    if (d->reading) return FT_OTHER_ERROR;
    const DWORD early = static_cast<DWORD>(std::min<size_t>(n, d->pending.size()));
    memcpy(buf, d->pending.data(), early);
    d->pending.erase(d->pending.begin(), d->pending.begin() + early);
    ftdi_transfer_control* tc = nullptr;
    if (early < n) {
        Size_Read(d, n - early);
        tc = calls_.read_data_submit(d->ctx, static_cast<unsigned char*>(buf) + early,
                                     static_cast<int>(n - early));
        if (!tc) return FT_IO_ERROR;
        d->reading = true;
    }
    *t = new Transfer{d, tc, true, early};
    return FT_OK;
}

FT_STATUS CLibftdiBackend::TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) {
    if (moved) *moved = 0;
    Device* d = Find(h);
    Transfer* x = static_cast<Transfer*>(t);
    if (!d || !x || x->dev != d) return FT_INVALID_HANDLE;
    const int r = x->tc ? calls_.transfer_data_done(x->tc) : 0;
    if (x->in) d->reading = false;
    if (moved) *moved = x->early + static_cast<DWORD>(r > 0 ? r : 0);
    delete x;
    return r < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CLibftdiBackend::TransferCancel(FT_HANDLE h, FT_TRANSFER t) {
    Device* d = Find(h);
    Transfer* x = static_cast<Transfer*>(t);
    if (!d || !x || x->dev != d) return FT_INVALID_HANDLE;
    struct timeval wait = {0, 100000};
    if (x->tc) calls_.transfer_data_cancel(x->tc, &wait);
    if (x->in) d->reading = false;
    delete x;
    return FT_OK;
}

#endif  // TAMREL_HAVE_LIBFTDI1
