#include "emulator/emulated_usb_blaster.h"

#include <algorithm>
#include <cstring>

#include "emulator/flash_chip.h"
#include "emulator/wire_cost.h"

namespace {

// Bit order reversed: the cable shifts LSB first, the chip takes MSB first.
struct ReverseTable {
    uint8_t of[256];
    ReverseTable() {
        for (int b = 0; b < 256; ++b) {
            int r = 0;
            for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
            of[b] = static_cast<uint8_t>(r);
        }
    }
};
const ReverseTable kReverse;

uint8_t Reverse(uint8_t b) {
    return kReverse.of[b];
}

const DWORD kVid = 0x09FB;
const DWORD kPid = 0x6001;
const char kDescription[] = "USB-Blaster";
const char kSerial[] = "00000000";

uint64_t SlotTime(uint64_t slot) {
    return slot / 19 * kUsbFrameNs + slot % 19 * kUsbFrameNs / 19;
}

// The first slot that begins at or after t.
uint64_t SlotAtOrAfter(uint64_t t) {
    uint64_t slot = t / kUsbFrameNs * 19 + t % kUsbFrameNs * 19 / kUsbFrameNs;
    while (SlotTime(slot) < t) ++slot;
    return slot;
}

// The host hears of a transfer at the end of the frame in which it ended.
uint64_t FrameEnd(uint64_t t) {
    return (t / kUsbFrameNs + 1) * kUsbFrameNs;
}
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
    Clear();
    transfers_live_.clear();
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::ResetDevice(FT_HANDLE h) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (dropped_) return FT_IO_ERROR;
    Clear();
    return FT_OK;
}

void CEmulatedUsbBlaster::Clear() {
    FailAll(FT_IO_ERROR);
    tx_.clear();
    tx_ready_.clear();
    tx_head_ = 0;
    host_.clear();
    host_head_ = 0;
    rx_head_ = rx_count_ = 0;
    stalled_ = false;
    shift_left_ = 0;
}

FT_STATUS CEmulatedUsbBlaster::SetBitMode(FT_HANDLE h, UCHAR, UCHAR) {
    return Valid(h) ? FT_OK : FT_INVALID_HANDLE;
}

void CEmulatedUsbBlaster::AdvanceTo(uint64_t t) {
    if (t > chip_->Now()) chip_->AdvanceTime(t - chip_->Now());
}

CEmulatedUsbBlaster::Transfer* CEmulatedUsbBlaster::Submit(bool in, const void* buf, DWORD n) {
    transfers_live_.emplace_back(new Transfer);
    Transfer* x = transfers_live_.back().get();
    x->in = in;
    x->size = n;
    x->submitted = chip_->Now();
    if (in) {
        x->dst = static_cast<uint8_t*>(const_cast<void*>(buf));
        if (x->dst) TakeHost(x);
        if (x->moved == n) {  // all there already: no bus transfer
            End(x, x->submitted, FT_OK);
            return x;
        }
        inq_.push_back(x);
    } else {
        const uint8_t* p = static_cast<const uint8_t*>(buf);
        x->out.assign(p, p + n);
        outq_.push_back(x);
    }
    ++transfers_;
    return x;
}

void CEmulatedUsbBlaster::TakeHost(Transfer* x) {
    const size_t k = std::min<size_t>(HostPending(), x->size - x->moved);
    if (k) memcpy(x->dst + x->moved, host_.data() + host_head_, k);
    x->moved += static_cast<DWORD>(k);
    host_head_ += k;
    if (host_head_ == host_.size()) {
        host_.clear();
        host_head_ = 0;
    }
}

CEmulatedUsbBlaster::Transfer* CEmulatedUsbBlaster::Find(FT_TRANSFER t) const {
    for (const auto& x : transfers_live_)
        if (x.get() == t) return x.get();
    return nullptr;
}

void CEmulatedUsbBlaster::Release(Transfer* x) {
    for (auto* q : {&outq_, &inq_}) q->erase(std::remove(q->begin(), q->end(), x), q->end());
    transfers_live_.erase(
        std::find_if(transfers_live_.begin(), transfers_live_.end(),
                     [x](const std::unique_ptr<Transfer>& p) { return p.get() == x; }));
}

void CEmulatedUsbBlaster::End(Transfer* x, uint64_t t, FT_STATUS status) {
    x->ended = true;
    x->reported = t;
    x->status = status;
    for (auto* q : {&outq_, &inq_}) q->erase(std::remove(q->begin(), q->end(), x), q->end());
}

void CEmulatedUsbBlaster::FailAll(FT_STATUS status) {
    while (!outq_.empty()) End(outq_.front(), chip_->Now(), status);
    while (!inq_.empty()) End(inq_.front(), chip_->Now(), status);
}

// Replies ready by t, counted up to one packet's worth.
size_t CEmulatedUsbBlaster::ReadyAt(uint64_t t) const {
    size_t n = std::min<size_t>(TxPending(), kUsbReplyPacket);
    if (n == 0 || tx_ready_[tx_head_ + n - 1] <= t) return n;  // ready in the order queued
    while (n > 0 && tx_ready_[tx_head_ + n - 1] > t) --n;
    return n;
}

// The head write's next packet, when the receive buffer has room for it.
bool CEmulatedUsbBlaster::OutPacket(uint64_t t) {
    Transfer* x = outq_.front();
    const DWORD p = std::min<DWORD>(kUsbPacket, x->size - x->moved);
    if (kFt245RxBuffer - rx_count_ < p) return false;
    for (DWORD i = 0; i < p; ++i) {
        const size_t at = (rx_head_ + rx_count_++) % kFt245RxBuffer;
        rx_[at] = x->out[x->moved + i];
        rx_at_[at] = t + kUsbPacketSlotNs;  // all of it is in at the slot's end
    }
    x->moved += p;
    if (x->moved == x->size) End(x, FrameEnd(t), FT_OK);
    return true;
}

// The head read's next packet: 62 replies as soon as they are ready, fewer (none, too) once
// the latency timer has run out since the last packet. A short packet ends the read.
bool CEmulatedUsbBlaster::InPacket(uint64_t t) {
    const size_t n = ReadyAt(t);
    if (n < kUsbReplyPacket && t < last_packet_ns_ + latency_ns_) return false;
    Transfer* x = inq_.front();
    const size_t k = x->dst ? std::min<size_t>(n, x->size - x->moved) : 0;
    if (k) memcpy(x->dst + x->moved, tx_.data() + tx_head_, k);
    host_.insert(host_.end(), tx_.begin() + static_cast<long>(tx_head_ + k),
                 tx_.begin() + static_cast<long>(tx_head_ + n));
    x->moved += static_cast<DWORD>(x->dst ? k : n);
    tx_head_ += n;
    if (tx_head_ == tx_.size()) {  // keeps the capacity: no allocation in steady state
        tx_.clear();
        tx_ready_.clear();
        tx_head_ = 0;
    }
    last_packet_ns_ = t;
    if (stalled_ && n > 0) {
        stalled_ = false;
        cable_free_ = std::max(cable_free_, t);
    }
    if (n < kUsbReplyPacket || x->moved >= x->size) End(x, FrameEnd(t), FT_OK);
    return true;
}

// Runs the bytes the cable starts before t.
void CEmulatedUsbBlaster::RunCable(uint64_t t) {
    while (rx_count_ > 0 && !stalled_) {
        const uint64_t start = std::max(cable_free_, rx_at_[rx_head_]);
        if (start >= t) return;
        const uint8_t b = rx_[rx_head_];
        if (TxPending() >= kFt245TxBuffer && WouldReply(b)) {  // waits for an IN packet
            stalled_ = true;
            cable_free_ = start;
            return;
        }
        rx_head_ = (rx_head_ + 1) % kFt245RxBuffer;
        --rx_count_;
        AdvanceTo(start);
        Execute(b);
        cable_free_ = chip_->Now();
    }
}

// One slot: a write that has waited past its timeout fails; then one packet moves, of the
// head write or the head read, taking turns when both can.
void CEmulatedUsbBlaster::Step(uint64_t limit) {
    const uint64_t t = SlotTime(slot_);
    RunCable(t);
    if (!outq_.empty() && t >= outq_.front()->submitted + kUsbWriteTimeoutNs)
        End(outq_.front(), outq_.front()->submitted + kUsbWriteTimeoutNs, FT_IO_ERROR);
    const bool out = !outq_.empty() && outq_.front()->submitted <= t;
    const bool in = !inq_.empty() && inq_.front()->submitted <= t;
    bool moved = false;
    if (in && (prefer_in_ || !out)) moved = InPacket(t);
    if (!moved && out) moved = OutPacket(t);
    if (!moved && in && !prefer_in_) moved = InPacket(t);
    if (moved && in && out) prefer_in_ = !prefer_in_;
    ++slot_;
    if (moved || (rx_count_ > 0 && !stalled_)) return;
    // Nothing moves until a transfer starts or a timer runs out: skip the idle slots. (Room
    // in a full receive buffer needs the cable, which then waits for an IN packet.)
    uint64_t next = UINT64_MAX;
    if (!outq_.empty()) {
        const Transfer* x = outq_.front();
        next = x->submitted + kUsbWriteTimeoutNs;
        if (rx_count_ < kFt245RxBuffer) next = std::min(next, x->submitted);
    }
    if (!inq_.empty()) {
        const uint64_t ready =
            ReadyAt(UINT64_MAX) >= kUsbReplyPacket ? t : last_packet_ns_ + latency_ns_;
        next = std::min(next, std::max(inq_.front()->submitted, ready));
    }
    next = std::min(next, limit);
    if (next != UINT64_MAX && SlotAtOrAfter(next) > slot_) slot_ = SlotAtOrAfter(next);
}

void CEmulatedUsbBlaster::Wait(Transfer* x) {
    while (!x->ended) Step(UINT64_MAX);
    RunUntil(x->reported);
}

void CEmulatedUsbBlaster::RunUntil(uint64_t t) {
    while (SlotTime(slot_) < t) {
        if (outq_.empty() && inq_.empty()) {
            slot_ = SlotAtOrAfter(t);
            break;
        }
        Step(t);
    }
    RunCable(t);
    AdvanceTo(t);
}

// A poll of the device: one bulk IN transfer, whose bytes wait for the next read.
FT_STATUS CEmulatedUsbBlaster::GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (rx_bytes == nullptr) return FT_INVALID_PARAMETER;
    if (dropped_) return FT_IO_ERROR;
    Transfer* x = Submit(true, nullptr, 4096);
    Wait(x);
    Release(x);
    *rx_bytes = static_cast<DWORD>(HostPending());
    return FT_OK;
}

// Bulk IN transfers until n bytes are in, or none came for the give-up time.
FT_STATUS CEmulatedUsbBlaster::Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) {
    if (got) *got = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr && n > 0) return FT_INVALID_PARAMETER;
    if (dropped_) return FT_IO_ERROR;
    uint8_t* p = static_cast<uint8_t*>(buf);
    DWORD have = 0;
    const uint64_t start = chip_->Now();
    while (have < n) {
        Transfer* x = Submit(true, p + have, n - have);
        Wait(x);
        const FT_STATUS status = x->status;
        const DWORD moved = x->moved;
        Release(x);
        have += moved;
        if (status != FT_OK) return status;
        if (moved == 0 && chip_->Now() - start >= kUsbReadGiveUpNs) break;
    }
    if (got) *got = have;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) {
    FT_TRANSFER t = nullptr;
    if (put) *put = 0;
    const FT_STATUS status = WriteSubmit(h, buf, n, &t);
    if (status != FT_OK) return status;
    return TransferDone(h, t, put);
}

// The cable gone: the next write fails, and with it every transfer in flight.
FT_STATUS CEmulatedUsbBlaster::WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if ((buf == nullptr && n > 0) || t == nullptr) return FT_INVALID_PARAMETER;
    if (drop_armed_ && !dropped_) {
        dropped_ = true;
        FailAll(FT_IO_ERROR);
    }
    if (dropped_) return FT_IO_ERROR;
    Transfer* x = Submit(false, buf, n);
    if (n == 0) End(x, x->submitted, FT_OK);
    *t = x;
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    if (buf == nullptr || n == 0 || t == nullptr) return FT_INVALID_PARAMETER;
    if (dropped_) return FT_IO_ERROR;
    *t = Submit(true, buf, n);
    return FT_OK;
}

FT_STATUS CEmulatedUsbBlaster::TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) {
    if (moved) *moved = 0;
    if (!Valid(h)) return FT_INVALID_HANDLE;
    Transfer* x = Find(t);
    if (x == nullptr) return FT_INVALID_PARAMETER;
    Wait(x);
    if (moved) *moved = x->moved;
    const FT_STATUS status = x->status;
    Release(x);
    return status;
}

FT_STATUS CEmulatedUsbBlaster::TransferCancel(FT_HANDLE h, FT_TRANSFER t) {
    if (!Valid(h)) return FT_INVALID_HANDLE;
    Transfer* x = Find(t);
    if (x == nullptr) return FT_INVALID_PARAMETER;
    Release(x);
    return FT_OK;
}

void CEmulatedUsbBlaster::Execute(uint8_t b) {
    if (shift_left_) {
        --shift_left_;
        chip_->AdvanceTime(kCableShiftByteNs);
        Shift(b);
        return;
    }
    chip_->AdvanceTime(kCableByteNs);
    if (b & 0x80) {
        shift_left_ = b & 0x3F;
        shift_read_ = (b & 0x40) != 0;
        return;
    }
    BitBang(b);
}

bool CEmulatedUsbBlaster::WouldReply(uint8_t b) const {
    if (shift_left_) return shift_read_;
    return (b & 0xC0) == 0x40;
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
        stalled_ = false;
    }
    if (mask & FT_PURGE_TX) {
        rx_head_ = rx_count_ = 0;
        shift_left_ = 0;
    }
    return FT_OK;
}

// Lines reach the chip only while the output-enable bit is set.
void CEmulatedUsbBlaster::Drive(bool sck, bool mosi) {
    if (lines_ & 0x20)
        chip_->SetPins((lines_ & 0x02) != 0, sck, mosi, (lines_ & 0x08) != 0);
    else
        chip_->SetPins(true, false, false, true);
}

void CEmulatedUsbBlaster::Reply(uint8_t b) {
    tx_.push_back(b);
    tx_ready_.push_back(chip_->Now());
}

void CEmulatedUsbBlaster::BitBang(uint8_t b) {
    lines_ = b & 0x3F;
    Drive((b & 0x01) != 0, (b & 0x10) != 0);
    if (b & 0x40) Reply(chip_->Miso() ? 1 : 0);
}

// Eight clock pulses, least significant bit first; TDO is taken after each rising edge. A
// selected chip between bytes takes them in one step (the SPI byte is the shift byte reversed).
void CEmulatedUsbBlaster::Shift(uint8_t b) {
    if ((lines_ & 0x20) && !(lines_ & 0x02) && chip_->ByteStart()) {
        const uint8_t in = Reverse(chip_->ClockByte(Reverse(b), (lines_ & 0x08) != 0));
        if (shift_read_) Reply(in);
        return;
    }
    // A deselected chip ignores the clocks: only the last levels stay on its pins.
    if ((lines_ & 0x22) == 0x22 && !shift_read_) {
        Drive(false, (b & 0x80) != 0);
        return;
    }
    uint8_t in = 0;
    for (int i = 0; i < 8; ++i) {
        bool bit = ((b >> i) & 1) != 0;
        Drive(false, bit);
        Drive(true, bit);
        if (chip_->Miso()) in = static_cast<uint8_t>(in | (1u << i));
        Drive(false, bit);
    }
    if (shift_read_) Reply(in);
}
