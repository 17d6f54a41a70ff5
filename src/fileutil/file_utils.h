// Whole-file helpers by path: open, close, insert, overwrite, read, size, copy.
#pragma once

#include <cstddef>
#include <cstdio>

FILE* Open_file(const char* path);  // "rb+"; null after a message
int Close_file(FILE* stream);       // the fclose result
// Inserts n bytes at off (off may equal the length: append). 0, or -1 after a message.
// Both rewrite the file beside it and rename the new one over it only when it is complete,
// so a failure leaves the file as it was (a file with other hard links gets a new inode).
int Add_to_File(const char* path, const void* buf, int off, unsigned int n);
// Overwrites n bytes at off; the length stays. 0, or -1 after a message.
int Edit_File(const char* path, const void* buf, int off, unsigned int n);
// 1 when all n bytes from off arrived, else -1.
int Read_File(const char* path, void* buf, int off, unsigned int n);
// Size in bytes; 0 when the file cannot be opened, -1 when it does not fit 31 bits.
int Get_FileSize(const char* path);
// Copies src to dst in about 100 pieces. 1, or -1 (also when both name one file).
int Copy_File(const char* dst, const char* src);

// True when both paths lead to one existing file (same device and inode).
bool Same_File(const char* a, const char* b);

// Writes all n bytes to fd, again after EINTR and short writes. False on an error.
bool Write_All(int fd, const void* buf, size_t n);

// Piece size Copy_File uses for a source of `size` bytes.
long Copy_PieceSize(long size);
