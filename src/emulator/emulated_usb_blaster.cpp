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
    tx_.reserve(kFt245TxBuffer);
    tx_ready_.reserve(kFt245TxBuffer);
    host_.reserve(4096);
}

bool CEmulatedUsbBlaster::Visible() const {
    return vid_ == kVid && pid_ == kPid && !unplugged_;
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
    Clear();
    *handle = Handle();
    return FT_OK;
}

// Closing a handle works even on a cable that is gone.
FT_STATUS CEmulatedUsbBlaster::Close(FT_HANDLE h) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    open_ = false;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::ResetDevice(FT_HANDLE h) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (dropped_) return FT_IO_ERROR;
    Clear();
    return FT_OK;
}

void CEmulatedUsbBlaster::Clear() {
    tx_.clear();
    tx_ready_.clear();
    tx_head_ = 0;
    host_.clear();
    host_head_ = 0;
    shift_left_ = 0;
}

FT_STATUS CEmulatedUsbBlaster::SetBitMode(FT_HANDLE h, UCHAR, UCHAR) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

void CEmulatedUsbBlaster::AdvanceTo(uint64_t t) {
    if (t > chip_->Now()) chip_->AdvanceTime(t - chip_->Now());
}

// One IN packet: 62 replies as soon as they are ready, fewer once the latency timer has
// run out since the last packet.
uint64_t CEmulatedUsbBlaster::SendPacket(uint64_t earliest) {
    const size_t n = TxPending() < kUsbReplyPacket ? TxPending() : kUsbReplyPacket;
    uint64_t t = earliest;
    if (tx_ready_[tx_head_ + n - 1] > t) t = tx_ready_[tx_head_ + n - 1];
    if (n < kUsbReplyPacket && last_packet_ns_ + latency_ns_ > t) t = last_packet_ns_ + latency_ns_;
    host_.insert(host_.end(), tx_.begin() + static_cast<long>(tx_head_),
                 tx_.begin() + static_cast<long>(tx_head_ + n));
    tx_head_ += n;
    if (tx_head_ == tx_.size()) {  // keeps the capacity: no allocation in steady state
        tx_.clear();
        tx_ready_.clear();
        tx_head_ = 0;
    }
    last_packet_ns_ = t;
    return t;
}

// A poll of the device: one bulk IN transfer that takes what may leave within its frame.
FT_STATUS CEmulatedUsbBlaster::GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
    if (dropped_) return FT_IO_ERROR;
    ++transfers_;
    const uint64_t end = chip_->Now() + kUsbFrameNs;
    for (uint64_t slot = chip_->Now(); TxPending() > 0; slot += kUsbPacketSlotNs) {
        const bool full = TxPending() >= kUsbReplyPacket;
        if (slot >= end || (!full && last_packet_ns_ + latency_ns_ > end)) break;
        SendPacket(slot);
    }
    AdvanceTo(end);
    *rx_bytes = static_cast<DWORD>(HostPending());
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) {
    if (got) *got = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr && n > 0) return FT_INVALID_PARAMETER;
    if (dropped_) return FT_IO_ERROR;
    if (HostPending() < n) {  // a bulk IN transfer until enough replies arrived
        ++transfers_;
        const uint64_t start = chip_->Now();
        uint64_t end = start + kUsbFrameNs;
        uint64_t slot = start;
        while (HostPending() < n && TxPending() > 0) {
            const uint64_t t = SendPacket(slot);
            slot = t + kUsbPacketSlotNs;
            if (t > end) end = t;
        }
        if (HostPending() < n) end = start + kUsbReadGiveUpNs;  // waits for what never comes
        AdvanceTo(end);
    }
    const size_t k = HostPending() < n ? HostPending() : n;
    if (k) memcpy(buf, host_.data() + host_head_, k);
    host_head_ += k;
    if (host_head_ == host_.size()) {
        host_.clear();
        host_head_ = 0;
    }
    if (got) *got = static_cast<DWORD>(k);
    return FT_OK;
}

// The OUT packets of one bulk transfer: packet k leaves no earlier than its place in the
// frames and once the receive buffer has room, that is when packet k - 2 has run.
FT_STATUS CEmulatedUsbBlaster::Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) {
    if (put) *put = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr && n > 0) return FT_INVALID_PARAMETER;
    if (drop_armed_) dropped_ = true;
    if (dropped_) return FT_IO_ERROR;
    ++transfers_;
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    const uint64_t start = chip_->Now();
    const unsigned in_rx = kFt245RxBuffer / kUsbPacket;
    uint64_t ran[kFt245RxBuffer / kUsbPacket];  // when each of the last packets had run
    for (uint64_t& t : ran) t = start;
    for (DWORD first = 0, k = 0; first < n; first += kUsbPacket, ++k) {
        uint64_t arrives = start + k * kUsbPacketSlotNs;
        if (ran[k % in_rx] > arrives) arrives = ran[k % in_rx];
        AdvanceTo(arrives);
        const DWORD last = first + kUsbPacket < n ? first + kUsbPacket : n;
        for (DWORD i = first; i < last; ++i) {
            if (!Execute(p[i])) {  // the cable stalls; the host's write times out
                AdvanceTo(start + kUsbWriteTimeoutNs);
                if (put) *put = first;
                return FT_IO_ERROR;
            }
        }
        ran[k % in_rx] = chip_->Now();
    }
    AdvanceTo(start + kUsbFrameNs);
    if (put) *put = n;
    return FT_OK;
}

bool CEmulatedUsbBlaster::Execute(uint8_t b) {
    if (shift_left_) {
        --shift_left_;
        chip_->AdvanceTime(kCableShiftByteNs);
        return Shift(b);
    }
    chip_->AdvanceTime(kCableByteNs);
    if (b & 0x80) {
        shift_left_ = b & 0x3F;
        shift_read_ = (b & 0x40) != 0;
        return true;
    }
    return BitBang(b);
}

FT_STATUS CEmulatedUsbBlaster::SetTimeouts(FT_HANDLE h, ULONG, ULONG) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS CEmulatedUsbBlaster::SetLatencyTimer(FT_HANDLE h, UCHAR ms) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    latency_ns_ = (ms ? ms : 1) * 1000000ULL;
    return FT_OK;
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
        tx_.clear();
        tx_ready_.clear();
        tx_head_ = 0;
        host_.clear();
        host_head_ = 0;
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

bool CEmulatedUsbBlaster::Reply(uint8_t b) {
    if (TxPending() >= kFt245TxBuffer) return false;
    tx_.push_back(b);
    tx_ready_.push_back(chip_->Now());
    return true;
}

bool CEmulatedUsbBlaster::BitBang(uint8_t b) {
    lines_ = b & 0x3F;
    Drive((b & 0x01) != 0, (b & 0x10) != 0);
    return (b & 0x40) ? Reply(chip_->Miso() ? 1 : 0) : true;
}

// Eight clock pulses, least significant bit first; TDO is taken after each rising edge.
bool CEmulatedUsbBlaster::Shift(uint8_t b) {
    uint8_t in = 0;
    for (int i = 0; i < 8; ++i) {
        bool bit = ((b >> i) & 1) != 0;
        Drive(false, bit);
        Drive(true, bit);
        if (chip_->Miso()) in = static_cast<uint8_t>(in | (1u << i));
        Drive(false, bit);
    }
    return shift_read_ ? Reply(in) : true;
}
