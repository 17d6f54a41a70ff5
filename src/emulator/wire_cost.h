// Modeled time the wire takes, charged to the virtual clock so that the chip sees the
// cable's own speed: a ppdev ioctl costs about 1 us of port I/O; a USB-Blaster transfer is
// a full-speed bulk transfer, half of a 1 ms USB frame shared with its reply.
#pragma once

#include <cstdint>

const uint64_t kPortAccessNs = 1000ULL;
const uint64_t kUsbTransferNs = 500000ULL;
