#include "adapters/d2xx.h"

#include <cstdio>

#ifdef TAMREL_HAVE_LIBFTDI1
#include "adapters/d2xx_libftdi.h"
#endif

namespace {

#ifndef TAMREL_HAVE_LIBFTDI1
// Built without libftdi1: every call fails, and the first calls of a device search
// say why.
class CNoUsbBackend : public CD2xxBackend {
public:
    FT_STATUS GetVIDPID(DWORD*, DWORD*) override { return Missing(); }
    FT_STATUS SetVIDPID(DWORD, DWORD) override { return FT_NOT_SUPPORTED; }
    FT_STATUS ListDevices(void*, void*, DWORD) override { return Missing(); }
    FT_STATUS CreateDeviceInfoList(DWORD*) override { return FT_NOT_SUPPORTED; }
    FT_STATUS GetDeviceInfoDetail(DWORD, DWORD*, DWORD*, DWORD*, DWORD*, void*, void*,
                                  FT_HANDLE*) override {
        return FT_NOT_SUPPORTED;
    }
    FT_STATUS Open(int, FT_HANDLE*) override { return FT_NOT_SUPPORTED; }
    FT_STATUS Close(FT_HANDLE) override { return FT_NOT_SUPPORTED; }
    FT_STATUS ResetDevice(FT_HANDLE) override { return FT_NOT_SUPPORTED; }
    FT_STATUS SetBitMode(FT_HANDLE, UCHAR, UCHAR) override { return FT_NOT_SUPPORTED; }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD*) override { return FT_NOT_SUPPORTED; }
    FT_STATUS Read(FT_HANDLE, void*, DWORD, DWORD* got) override {
        if (got) *got = 0;
        return FT_NOT_SUPPORTED;
    }
    FT_STATUS Write(FT_HANDLE, void*, DWORD, DWORD* put) override {
        if (put) *put = 0;
        return FT_NOT_SUPPORTED;
    }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_NOT_SUPPORTED; }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR) override { return FT_NOT_SUPPORTED; }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_NOT_SUPPORTED; }
    FT_STATUS SetChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) override { return FT_NOT_SUPPORTED; }
    FT_STATUS SetUSBParameters(FT_HANDLE, ULONG, ULONG) override { return FT_NOT_SUPPORTED; }
    FT_STATUS Purge(FT_HANDLE, ULONG) override { return FT_NOT_SUPPORTED; }

private:
    static FT_STATUS Missing() {
        printf(
            "\nError: USB cable support is not built in (libftdi1 was missing at build "
            "time)");
        return FT_NOT_SUPPORTED;
    }
};
#endif

CD2xxBackend* DefaultBackend() {
#ifdef TAMREL_HAVE_LIBFTDI1
    static CLibftdiBackend backend;
#else
    static CNoUsbBackend backend;
#endif
    return &backend;
}

CD2xxBackend* g_backend = nullptr;

CD2xxBackend* B() {
    return g_backend ? g_backend : DefaultBackend();
}

}  // namespace

void D2XX_SetBackend(CD2xxBackend* backend) {
    g_backend = backend;
}
CD2xxBackend* D2XX_GetBackend() {
    return B();
}

FT_STATUS FT_GetVIDPID(DWORD* vid, DWORD* pid) {
    return B()->GetVIDPID(vid, pid);
}
FT_STATUS FT_SetVIDPID(DWORD vid, DWORD pid) {
    return B()->SetVIDPID(vid, pid);
}
FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return B()->ListDevices(arg1, arg2, flags);
}
FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
    return B()->CreateDeviceInfoList(count);
}
FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* loc_id,
                                 void* serial, void* description, FT_HANDLE* handle) {
    return B()->GetDeviceInfoDetail(index, flags, type, id, loc_id, serial, description, handle);
}
FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
    return B()->Open(index, handle);
}
FT_STATUS FT_Close(FT_HANDLE h) {
    return B()->Close(h);
}
FT_STATUS FT_ResetDevice(FT_HANDLE h) {
    return B()->ResetDevice(h);
}
FT_STATUS FT_SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) {
    return B()->SetBitMode(h, mask, mode);
}
FT_STATUS FT_GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) {
    return B()->GetQueueStatus(h, rx_bytes);
}
FT_STATUS FT_Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) {
    return B()->Read(h, buf, n, got);
}
FT_STATUS FT_Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) {
    return B()->Write(h, buf, n, put);
}
FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) {
    return B()->SetTimeouts(h, read_ms, write_ms);
}
FT_STATUS FT_SetLatencyTimer(FT_HANDLE h, UCHAR ms) {
    return B()->SetLatencyTimer(h, ms);
}
FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG baud) {
    return B()->SetBaudRate(h, baud);
}
FT_STATUS FT_SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch, UCHAR error_en) {
    return B()->SetChars(h, event_ch, event_en, error_ch, error_en);
}
FT_STATUS FT_SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size) {
    return B()->SetUSBParameters(h, in_size, out_size);
}
FT_STATUS FT_Purge(FT_HANDLE h, ULONG mask) {
    return B()->Purge(h, mask);
}

FT_STATUS FT_GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) {
    return B()->GetDeviceLocation(index, where);
}

bool D2XX_AccessDenied() {
    return D2XX_GetBackend()->AccessDenied();
}

bool D2XX_CanSubmit() {
    return B()->CanSubmit();
}
FT_STATUS FT_WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t) {
    return B()->WriteSubmit(h, buf, n, t);
}
FT_STATUS FT_ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t) {
    return B()->ReadSubmit(h, buf, n, t);
}
FT_STATUS FT_TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) {
    return B()->TransferDone(h, t, moved);
}
FT_STATUS FT_TransferCancel(FT_HANDLE h, FT_TRANSFER t) {
    return B()->TransferCancel(h, t);
}
