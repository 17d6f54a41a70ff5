// Block protection in the status register: the bits that make a chip ignore erase and
// program commands for part or all of its array. Their places differ by part (flash_db.cfg
// bp=), with a default by maker.
#pragma once

#include <cstdint>

// The protection bits of a maker's parts, for records without bp=.
uint8_t Maker_Protect_Mask(uint8_t mnf_id);

// Prints the refusal of `operation` ("erase", "write") and answers true when `status` has
// any of the protection bits `mask` set.
bool Refuse_Protected(uint8_t mask, unsigned char status, const char* operation);
