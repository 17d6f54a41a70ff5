// Work buffers of the flash operations (saved heads and tails, the verify compare buffer).
// The allocator can be replaced so that tests can make an allocation fail.
#pragma once

#include <cstddef>

typedef void* (*FlashAllocFn)(size_t n);

// Returns a buffer to be released with free(), or null.
unsigned char* Flash_Alloc(size_t n);
// Installs fn (which must hand out malloc-compatible memory); null restores malloc.
void Flash_Set_Alloc(FlashAllocFn fn);
