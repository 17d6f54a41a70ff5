// flash_db.cfg keys beyond the sizes: the words of addr4=, unlock=, unit= and poll=, the
// numbers of a record, and the erase= list of the chip's erase commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 1 with *value (an ADDR4_*, UNLOCK_*, UNIT_* or POLL_* value) when `word` is one of the
// words of `key`; 0 when it is not.
int Record_Word(const char* key, const std::string& word, uint8_t* value);
// The words of `key` as "a|b|c", for messages.
std::string Record_Words(const char* key);

// addr4= when a record has none: 4-byte opcodes for chips above 16 MiB.
uint8_t Default_Addr4(uint32_t total_size);

// A number in C notation at the start of `text` (optional sign, then 0x hex, leading-0
// octal or decimal). len 0: no number. The value is kept modulo 2^64, so its low bits are
// those of the number as written however long it is; `wide` when it needs more than 64 bits.
struct RecordNumber {
    size_t len;
    uint64_t value;
    bool negative;
    bool wide;
};
RecordNumber Record_Number(const char* text);

// erase= lists erase commands as opcode:size items ("0x20:4K,0xD8:64K"); where parts that
// share an id erase different sizes with one opcode, the sizes are joined by '|'
// ("0xD8:64K|256K").
struct EraseItem {
    uint8_t opcode;
    std::vector<uint32_t> sizes;  // as written
    uint32_t Largest() const;
};

// 1 with the items of `list`; 0 with why it is no such list in *why ("erase=... is not ...").
int Erase_List_Parse(const std::string& list, std::vector<EraseItem>* items, std::string* why);

// 1 when `opcode` is listed and `size` is the largest size given for it in any item (a
// smaller one would let some part erase bytes outside the unit), 0 when not.
int Erase_List_Has(const std::vector<EraseItem>& items, unsigned char opcode, uint32_t size);

// The largest size any item gives `opcode`; 0 when none lists it.
uint32_t Erase_List_Largest(const std::vector<EraseItem>& items, unsigned char opcode);
