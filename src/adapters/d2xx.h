// A small D2XX-compatible layer: the FT_* operations the USB-Blaster needs, forwarded
// to a backend (libftdi1 for real cables, the emulated USB-Blaster, or test doubles).
#pragma once

#include <cstdint>

typedef void* FT_HANDLE;
typedef unsigned long FT_STATUS;
typedef uint32_t DWORD;
typedef unsigned long ULONG;
typedef unsigned char UCHAR;
typedef void* FT_TRANSFER;  // one submitted (overlapped) transfer

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
};

enum : DWORD { FT_LIST_NUMBER_ONLY = 0x80000000u };
enum : ULONG { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };

// Where a listed device is plugged in: its USB port path, the bus number and the port on
// each hub from the root ("1-1.4"), and the file that stands for it in locks (its usbfs
// node, /dev/bus/usb/001/004); empty when unknown.
struct FT_DEVICE_LOCATION {
    char path[32];
    char node[256];
};

class CD2xxBackend {
public:
    virtual ~CD2xxBackend() {}
    virtual FT_STATUS GetVIDPID(DWORD* vid, DWORD* pid) = 0;
    virtual FT_STATUS SetVIDPID(DWORD vid, DWORD pid) = 0;
    virtual FT_STATUS ListDevices(void* arg1, void* arg2, DWORD flags) = 0;
    virtual FT_STATUS CreateDeviceInfoList(DWORD* count) = 0;
    virtual FT_STATUS GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                          DWORD* loc_id, void* serial, void* description,
                                          FT_HANDLE* handle) = 0;
    virtual FT_STATUS Open(int index, FT_HANDLE* handle) = 0;
    virtual FT_STATUS Close(FT_HANDLE h) = 0;
    virtual FT_STATUS ResetDevice(FT_HANDLE h) = 0;
    virtual FT_STATUS SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) = 0;
    virtual FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) = 0;
    virtual FT_STATUS Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) = 0;
    virtual FT_STATUS Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) = 0;
    virtual FT_STATUS SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) = 0;
    virtual FT_STATUS SetLatencyTimer(FT_HANDLE h, UCHAR ms) = 0;
    virtual FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) = 0;
    virtual FT_STATUS SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch,
                               UCHAR error_en) = 0;
    virtual FT_STATUS SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size) = 0;
    virtual FT_STATUS Purge(FT_HANDLE h, ULONG mask) = 0;
    // True when the last device listing met a cable that this user may not open.
    virtual bool AccessDenied() const { return false; }
    // Of an entry of the last device listing; every entry has one, even when its
    // description can't be read.
    virtual FT_STATUS GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) {
        (void)index;
        (void)where;
        return FT_NOT_SUPPORTED;
    }

    // Overlapped transfers: several writes and one read in flight together, each moving in
    // order within its direction; buf stays the caller's until the transfer is done or
    // cancelled. A read ends early on a short packet. Backends without them say so.
    virtual bool CanSubmit() const { return false; }
    virtual FT_STATUS WriteSubmit(FT_HANDLE, const void*, DWORD, FT_TRANSFER*) {
        return FT_NOT_SUPPORTED;
    }
    virtual FT_STATUS ReadSubmit(FT_HANDLE, void*, DWORD, FT_TRANSFER*) { return FT_NOT_SUPPORTED; }
    // Waits for t and releases it; moved: the bytes it wrote or read.
    virtual FT_STATUS TransferDone(FT_HANDLE, FT_TRANSFER, DWORD* moved) {
        if (moved) *moved = 0;
        return FT_NOT_SUPPORTED;
    }
    // Stops t without waiting for its data and releases it.
    virtual FT_STATUS TransferCancel(FT_HANDLE, FT_TRANSFER) { return FT_NOT_SUPPORTED; }
};

// Selects the backend the FT_* calls go to; null restores the default (libftdi1 when
// built in, otherwise one that reports that USB support is missing).
void D2XX_SetBackend(CD2xxBackend* backend);
CD2xxBackend* D2XX_GetBackend();
bool D2XX_AccessDenied();
bool D2XX_CanSubmit();  // the backend has the overlapped calls

FT_STATUS FT_GetVIDPID(DWORD* vid, DWORD* pid);
FT_STATUS FT_SetVIDPID(DWORD vid, DWORD pid);
FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags);
FT_STATUS FT_CreateDeviceInfoList(DWORD* count);
FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* loc_id,
                                 void* serial, void* description, FT_HANDLE* handle);
FT_STATUS FT_Open(int index, FT_HANDLE* handle);
FT_STATUS FT_Close(FT_HANDLE h);
FT_STATUS FT_ResetDevice(FT_HANDLE h);
FT_STATUS FT_SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode);
FT_STATUS FT_GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes);
FT_STATUS FT_Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got);
FT_STATUS FT_Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put);
FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE h, UCHAR ms);
FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG baud);
FT_STATUS FT_SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch, UCHAR error_en);
FT_STATUS FT_SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size);
FT_STATUS FT_Purge(FT_HANDLE h, ULONG mask);
FT_STATUS FT_GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where);
FT_STATUS FT_WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t);
FT_STATUS FT_ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t);
FT_STATUS FT_TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved);
FT_STATUS FT_TransferCancel(FT_HANDLE h, FT_TRANSFER t);
