#include "flash/flash_alloc.h"

#include <cstdlib>

namespace {
FlashAllocFn g_alloc = nullptr;
}  // namespace

unsigned char* Flash_Alloc(size_t n) {
    void* p = g_alloc ? g_alloc(n) : malloc(n);
    return static_cast<unsigned char*>(p);
}

void Flash_Set_Alloc(FlashAllocFn fn) {
    g_alloc = fn;
}
