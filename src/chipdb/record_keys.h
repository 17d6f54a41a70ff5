// flash_db.cfg keys beyond the sizes: the words of addr4=, unlock= and unit=, and the
// erase= list of the chip's erase commands.
#pragma once

#include <cstdint>
#include <string>

// 1 with *value (an ADDR4_*, UNLOCK_* or UNIT_* value) when `word` is one of the words of
// `key`; 0 when it is not.
int Record_Word(const char* key, const std::string& word, uint8_t* value);
// The words of `key` as "a|b|c", for messages.
std::string Record_Words(const char* key);

// addr4= when a record has none: 4-byte opcodes for chips above 16 MiB.
uint8_t Default_Addr4(uint32_t total_size);

// erase= lists erase commands as opcode:size items ("0x20:4K,0xD8:64K"); where parts that
// share an id erase different sizes with one opcode, the sizes are joined by '|'
// ("0xD8:64K|256K"). 1 when `opcode` is listed and `size` is the largest size given for it
// in any item (a smaller one would let some part erase bytes outside the unit), 0 when not,
// -1 when the text is not such a list.
int Erase_List_Has(const std::string& list, unsigned char opcode, uint32_t size);
