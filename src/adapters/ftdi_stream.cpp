#include "adapters/ftdi_stream.h"

#include <algorithm>
#include <cstring>

#include "adapters/delay.h"
#include "adapters/ftdi.h"

namespace {

const unsigned kTxBuffer = 384;      // FT245BM transmit buffer: replies waiting for a read
const unsigned kWriteMax = 4096;     // bytes of one write
const unsigned kWrites = 8;          // writes in flight at most
const unsigned kReadMax = 62 * 128;  // replies one read takes at most: whole reply packets
const unsigned long long kGiveUpNs = 3000000000ULL;  // replies due but none come: cable gone
// The FT245 answers a read at once, with what it has, once its latency timer has run out
// since its last packet; a read sent within this time of the last one's end gets full packets.
const unsigned long long kFreshNs = 500000ULL;

}  // namespace

CFtdiStream::CFtdiStream(CFTDI* dev) : dev_(dev), writes_(kWrites), read_buf_(kReadMax) {
    for (Write& w : writes_) w.buf.reserve(kWriteMax);
}

CFtdiStream::~CFtdiStream() {
    if (!failed_) Drain();
}

void CFtdiStream::Put(const unsigned char* bytes, unsigned n, unsigned char* dst,
                      unsigned replies) {
    if (failed_ || n == 0) return;
    queued_.insert(queued_.end(), bytes, bytes + n);
    units_.push_back({n, replies});
    queued_replies_ += replies;
    if (replies) sinks_.push_back({dst, replies});  // null: the replies are dropped
}

// As many whole units per write as keep the replies due within the transmit buffer beyond
// what the read in flight takes.
void CFtdiStream::Submit_Writes() {
    while (!failed_ && unit_head_ < units_.size() && write_count_ < kWrites) {
        const unsigned long limit = kTxBuffer + (read_fresh_ ? read_size_ : 0);
        unsigned len = 0, replies = 0;
        size_t u = unit_head_;
        for (; u < units_.size() && len + units_[u].len <= kWriteMax &&
               due_ + replies + units_[u].replies <= limit;
             ++u) {
            len += units_[u].len;
            replies += units_[u].replies;
        }
        if (u == unit_head_) return;
        Write& w = writes_[(write_head_ + write_count_) % kWrites];
        w.buf.assign(queued_.begin() + static_cast<long>(byte_head_),
                     queued_.begin() + static_cast<long>(byte_head_ + len));
        if (FT_WriteSubmit(dev_->ft_handle, w.buf.data(), len, &w.t) != FT_OK) {
            Fail();
            return;
        }
        ++write_count_;
        due_ += replies;
        queued_replies_ -= replies;
        unit_head_ = u;
        byte_head_ += len;
    }
    if (unit_head_ == units_.size()) {
        queued_.clear();
        units_.clear();
        unit_head_ = byte_head_ = 0;
    }
}

// One read for the replies of what is sent and queued, up to kReadMax. Long after the last
// read, the FT245 would answer at once with what it has, maybe nothing: the read waits until
// the writes in flight are done and their replies are there.
void CFtdiStream::Submit_Read() {
    if (failed_ || read_) return;
    const unsigned long want = std::min<unsigned long>(due_ + queued_replies_, kReadMax);
    if (want == 0) return;
    const bool fresh = read_ended_ && delay_now_ns() - read_end_ns_ < kFreshNs;
    if (!fresh && write_count_ > 0) return;
    if (FT_ReadSubmit(dev_->ft_handle, read_buf_.data(), static_cast<DWORD>(want), &read_) !=
        FT_OK) {
        read_ = nullptr;
        Fail();
        return;
    }
    read_size_ = static_cast<unsigned>(want);
    read_fresh_ = fresh;
}

void CFtdiStream::Deliver(const unsigned char* src, unsigned n) {
    while (n > 0 && !sinks_.empty()) {
        Sink& s = sinks_.front();
        const unsigned k = std::min(n, s.n);
        if (s.dst) {
            memcpy(s.dst, src, k);
            s.dst += k;
        }
        s.n -= k;
        src += k;
        n -= k;
        if (s.n == 0) sinks_.pop_front();
    }
}

// A read that ends on a short packet brings what was ready; the rest comes with the next.
void CFtdiStream::Wait_Read() {
    DWORD got = 0;
    const FT_STATUS status = FT_TransferDone(dev_->ft_handle, read_, &got);
    read_ = nullptr;
    read_size_ = 0;
    read_ended_ = true;
    read_end_ns_ = delay_now_ns();
    if (status != FT_OK || got > due_) {
        Fail();
        return;
    }
    Deliver(read_buf_.data(), got);
    due_ -= got;
    if (got > 0) {
        empty_reads_ = false;
    } else if (!empty_reads_) {
        empty_reads_ = true;
        empty_since_ = delay_now_ns();
    } else if (delay_now_ns() - empty_since_ >= kGiveUpNs) {
        Fail();
    }
}

void CFtdiStream::Wait_Write() {
    Write& w = writes_[write_head_];
    DWORD put = 0;
    const FT_STATUS status = FT_TransferDone(dev_->ft_handle, w.t, &put);
    w.t = nullptr;
    write_head_ = (write_head_ + 1) % kWrites;
    --write_count_;
    if (status != FT_OK || put != w.buf.size()) Fail();
}

bool CFtdiStream::Send(bool wait) {
    while (!failed_) {
        Submit_Writes();
        Submit_Read();
        Submit_Writes();  // the read in flight makes room for more
        const bool sent = unit_head_ == units_.size();
        if (sent && (!wait || due_ + queued_replies_ == 0)) break;
        if (!sent && write_count_ == kWrites)  // every write slot taken
            Wait_Write();
        else if (read_)
            Wait_Read();
        else if (write_count_)
            Wait_Write();
        else
            break;
    }
    return !failed_;
}

bool CFtdiStream::Drain() {
    Send(true);
    while (!failed_ && write_count_) Wait_Write();
    return !failed_;
}

// The cable has failed: nothing more goes out, and nothing in flight is waited for.
void CFtdiStream::Fail() {
    failed_ = true;
    dev_->transfer_failed = true;
    if (read_) FT_TransferCancel(dev_->ft_handle, read_);
    read_ = nullptr;
    read_size_ = 0;
    for (; write_count_ > 0; --write_count_, write_head_ = (write_head_ + 1) % kWrites)
        FT_TransferCancel(dev_->ft_handle, writes_[write_head_].t);
    queued_.clear();
    units_.clear();
    unit_head_ = byte_head_ = 0;
    sinks_.clear();
    due_ = queued_replies_ = 0;
}
