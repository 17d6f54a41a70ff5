// Overlapped transfers on one FTDI device: queued bytes go out in writes that stay in flight
// together while one read collects the replies they cause, in order, into the places queued
// with them. Writes are held back so that no more replies can wait in the FT245 than its
// transmit buffer holds beyond what the read in flight takes; only one read is ever in
// flight, so no reply can land in another read's buffer.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "adapters/d2xx.h"

class CFTDI;

class CFtdiStream {
public:
    explicit CFtdiStream(CFTDI* dev);
    ~CFtdiStream();  // waits for what is in flight, or cancels it after a failure
    CFtdiStream(const CFtdiStream&) = delete;
    CFtdiStream& operator=(const CFtdiStream&) = delete;

    // Queues n bytes (one packet) of which `replies` cause a reply each, to go to dst.
    void Put(const unsigned char* bytes, unsigned n, unsigned char* dst, unsigned replies);
    // Sends what is queued; with `wait` also waits until every reply is in place. False once
    // a transfer failed or came back short (the device's transfer_failed is set then).
    bool Send(bool wait);
    // Sends everything and waits until every transfer is done.
    bool Drain();

private:
    struct Unit {
        unsigned len;
        unsigned replies;
    };
    struct Sink {
        unsigned char* dst;
        unsigned n;
    };
    struct Write {
        FT_TRANSFER t = nullptr;
        std::vector<unsigned char> buf;
    };

    void Submit_Writes();
    void Submit_Read();
    void Wait_Read();
    void Wait_Write();
    void Deliver(const unsigned char* src, unsigned n);
    void Fail();

    CFTDI* dev_;
    std::vector<unsigned char> queued_;  // bytes not yet submitted, unit after unit
    std::vector<Unit> units_;
    size_t unit_head_ = 0;
    size_t byte_head_ = 0;
    unsigned long queued_replies_ = 0;  // replies of the queued bytes
    unsigned long due_ = 0;             // replies of submitted bytes not yet read
    std::deque<Sink> sinks_;
    std::vector<Write> writes_;  // a ring of writes in flight
    size_t write_head_ = 0;
    size_t write_count_ = 0;
    FT_TRANSFER read_ = nullptr;
    unsigned read_size_ = 0;
    std::vector<unsigned char> read_buf_;
    // Only a read sent soon after the last one ended is sure to drain the transmit buffer
    // (the last may have ended on an empty packet): only such a read lets more writes go.
    bool read_fresh_ = false;
    bool read_ended_ = false;
    unsigned long long read_end_ns_ = 0;
    bool failed_ = false;
    bool empty_reads_ = false;  // the reads since empty_since_ brought nothing
    unsigned long long empty_since_ = 0;
};
