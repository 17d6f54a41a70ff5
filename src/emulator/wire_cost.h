// Modeled time the wire takes, charged to the virtual clock so that the chip sees the
// cable's own speed.
//
// ByteBlaster: every ppdev ioctl costs about 1 us of port I/O.
//
// USB-Blaster: an FT245BM on a full-speed bus in front of the cable's shift logic. Bulk
// packets of 64 bytes, at most 19 per 1 ms frame, and every transfer the host makes (one
// write or read call) takes at least one frame. The chip takes OUT packets into a 128-byte
// receive buffer as the cable empties it; the cable runs each byte in turn (a shift data
// byte is eight clocks at 6 MHz) and queues its replies in a 384-byte transmit buffer.
// Replies go back in packets of 62 (plus two status bytes) as soon as 62 are ready, and a
// shorter packet only once the latency timer has run out since the last packet sent.
// When the transmit buffer is full the cable stalls: a write that needs room there while
// no read is pending times out and fails.
#pragma once

#include <cstdint>

const uint64_t kPortAccessNs = 1000ULL;

const uint64_t kUsbFrameNs = 1000000ULL;
const uint64_t kUsbPacketSlotNs = kUsbFrameNs / 19;  // 19 bulk packets per frame
const unsigned kUsbPacket = 64;
const unsigned kUsbReplyPacket = 62;
const unsigned kFt245RxBuffer = 128;
const unsigned kFt245TxBuffer = 384;
const uint64_t kFt245DefaultLatencyNs = 16000000ULL;  // until the host sets it
const uint64_t kCableShiftByteNs = 1334ULL;           // 8 clocks at 6 MHz
const uint64_t kCableByteNs = 167ULL;                 // a bit-bang byte or shift header
const uint64_t kUsbWriteTimeoutNs = 5000000000ULL;    // libusb bulk write timeout
const uint64_t kUsbReadGiveUpNs = 3000000000ULL;      // a read that waits for nothing
