// The chip bytes each operation covers, the erase units around them, and the erase commands
// that clear those units. Every operation takes its range from here, so none can disagree.
#pragma once

#include <vector>

#include "run/setup.h"

// Chip bytes [first, end).
struct Span {
    unsigned long first;
    unsigned long end;
};

// A chip erase: no range and no data file named.
bool Erases_Whole_Chip(const Setup_struct* s);

// Erase, and the head and tail it keeps: -al= ends it; else the data file's size; else the
// chip's end.
Span Erase_Span(const Setup_struct* s);
// Write: the data file from -ab=; -al= shortens it, and with -al= alone never past the file.
Span Write_Span(const Setup_struct* s);
// Verify: the data file from -ab=, or up to -al= (chip bytes the file lacks are differences).
Span Verify_Span(const Setup_struct* s);
// Dump: the whole chip, from -ab= to the chip's end, or up to -al=.
Span Dump_Span(const Setup_struct* s);
// Memory display: two pages from -ab=, or up to -al=; never past the chip's last byte.
Span Show_Span(const Setup_struct* s);

// The erase units a span touches (unit > 0) and the bytes of its first and last unit that
// lie outside it.
struct Units {
    unsigned long size;
    unsigned long first, last;  // unit numbers
    unsigned long head_addr, head_len;
    unsigned long tail_addr, tail_len;
};
Units Units_Of(Span span, unsigned long unit);

// One erase frame of a range erase: `units` record units from `addr`, cleared by `opcode`
// (the chip erase opcode when `chip` is set).
struct EraseStep {
    unsigned char opcode;
    unsigned long addr;
    unsigned long units;
    bool chip;
};
// Covers units u.first..u.last, in order, with the largest command that erases exactly an
// aligned part of them: the chip erase when they are the whole chip and the part has one,
// else the commands erase= lists (0xD8 at sector= without it), else the record's unit.
std::vector<EraseStep> Erase_Plan(const Setup_struct* s, const Units& u);
