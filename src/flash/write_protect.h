// Block protection in the status register: the bits that make a chip ignore erase and
// program commands for part or all of its array. Their places differ by maker.
#pragma once

#include <cstdint>

// Prints the refusal of `operation` ("erase", "write") and answers true when `status`
// shows any part of the array protected on a chip of maker `mnf_id`.
bool Refuse_Protected(uint8_t mnf_id, unsigned char status, const char* operation);
