#include "emulator/emulated_usb_blaster.h"

#include <cstring>

#include "emulator/flash_chip.h"
#include "emulator/wire_cost.h"

namespace {
const DWORD kVid = 0x09FB;
const DWORD kPid = 0x6001;
const char kDescription[] = "USB-Blaster";
const char kSerial[] = "00000000";
}  // namespace

CEmulatedUsbBlaster::CEmulatedUsbBlaster(CFlashChip* chip) : chip_(chip) {
    replies_.reserve(4096);
}

bool CEmulatedUsbBlaster::Visible() const {
    return vid_ == kVid && pid_ == kPid;
}

FT_STATUS CEmulatedUsbBlaster::GetVIDPID(DWORD* vid, DWORD* pid) {
    if (vid == nullptr || pid == nullptr) return FT_INVALID_PARAMETER;
    *vid = vid_;
    *pid = pid_;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::SetVIDPID(DWORD vid, DWORD pid) {
    vid_ = vid;
    pid_ = pid;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::ListDevices(void* arg1, void* arg2, DWORD flags) {
    (void)arg2;
    if (!(flags & FT_LIST_NUMBER_ONLY) || arg1 == nullptr) return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(arg1) = Visible() ? 1 : 0;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::CreateDeviceInfoList(DWORD* count) {
    if (count == nullptr) return FT_INVALID_PARAMETER;
    *count = Visible() ? 1 : 0;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type,
                                                   DWORD* id, DWORD* loc_id, void* serial,
                                                   void* description, FT_HANDLE* handle) {
    if (index != 0 || !Visible()) return FT_DEVICE_NOT_FOUND;
    if (flags) *flags = open_ ? 1 : 0;  // bit 0: opened
    if (type) *type = 0;                // FT245BM-class device
    if (id) *id = (kVid << 16) | kPid;
    if (loc_id) *loc_id = 0x11;
    if (serial) memcpy(serial, kSerial, sizeof kSerial);
    if (description) memcpy(description, kDescription, sizeof kDescription);
    if (handle) *handle = open_ ? Handle() : nullptr;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Open(int index, FT_HANDLE* handle) {
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    if (index != 0 || !Visible()) return FT_DEVICE_NOT_FOUND;
    if (open_) return FT_DEVICE_NOT_OPENED;
    open_ = true;
    replies_.clear();
    head_ = 0;
    shift_left_ = 0;
    *handle = Handle();
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Close(FT_HANDLE h) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    open_ = false;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::ResetDevice(FT_HANDLE h) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    replies_.clear();
    head_ = 0;
    shift_left_ = 0;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::SetBitMode(FT_HANDLE h, UCHAR, UCHAR) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
    *rx_bytes = static_cast<DWORD>(Pending());
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) {
    ++transfers_;
    chip_->AdvanceTime(kUsbTransferNs);
    if (got) *got = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr && n > 0) return FT_INVALID_PARAMETER;
    size_t k = Pending() < n ? Pending() : n;
    if (k) memcpy(buf, replies_.data() + head_, k);
    head_ += k;
    if (head_ == replies_.size()) {
        replies_.clear();  // keeps the capacity: no allocation in steady state
        head_ = 0;
    }
    if (got) *got = static_cast<DWORD>(k);
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) {
    ++transfers_;
    chip_->AdvanceTime(kUsbTransferNs);
    if (put) *put = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr && n > 0) return FT_INVALID_PARAMETER;
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    for (DWORD i = 0; i < n; ++i) {
        uint8_t b = p[i];
        if (shift_left_) {
            Shift(b);
            --shift_left_;
        } else if (b & 0x80) {
            shift_left_ = b & 0x3F;
            shift_read_ = (b & 0x40) != 0;
        } else {
            BitBang(b);
        }
    }
    if (put) *put = n;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::SetTimeouts(FT_HANDLE h, ULONG, ULONG) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::SetLatencyTimer(FT_HANDLE h, UCHAR) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::SetBaudRate(FT_HANDLE h, ULONG) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::SetChars(FT_HANDLE h, UCHAR, UCHAR, UCHAR, UCHAR) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::SetUSBParameters(FT_HANDLE h, ULONG, ULONG) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::Purge(FT_HANDLE h, ULONG mask) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (mask & FT_PURGE_RX) {
        replies_.clear();
        head_ = 0;
    }
    if (mask & FT_PURGE_TX) shift_left_ = 0;
    return FT_OK;
}

// Lines reach the chip only while the output-enable bit is set.
void CEmulatedUsbBlaster::Drive(bool sck, bool mosi) {
    if (lines_ & 0x20)
        chip_->SetPins((lines_ & 0x02) != 0, sck, mosi, (lines_ & 0x08) != 0);
    else
        chip_->SetPins(true, false, false, true);
}

void CEmulatedUsbBlaster::BitBang(uint8_t b) {
    lines_ = b & 0x3F;
    Drive((b & 0x01) != 0, (b & 0x10) != 0);
    if (b & 0x40) replies_.push_back(chip_->Miso() ? 1 : 0);
}

// Eight clock pulses, least significant bit first; TDO is taken after each rising edge.
void CEmulatedUsbBlaster::Shift(uint8_t b) {
    uint8_t in = 0;
    for (int i = 0; i < 8; ++i) {
        bool bit = ((b >> i) & 1) != 0;
        Drive(false, bit);
        Drive(true, bit);
        if (chip_->Miso()) in = static_cast<uint8_t>(in | (1u << i));
        Drive(false, bit);
    }
    if (shift_read_) replies_.push_back(in);
}
