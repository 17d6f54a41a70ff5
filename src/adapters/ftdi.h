// One FTDI USB device, found by the beginning of its description and opened for raw
// byte transfers through the FT_* layer.
#pragma once

#include "adapters/d2xx.h"
#include "adapters/usb_cables.h"

class CCableLock;

class CFTDI {
public:
    CFTDI() = default;
    ~CFTDI();
    CFTDI(const CFTDI&) = delete;
    CFTDI& operator=(const CFTDI&) = delete;

    // 1 the library looks for these ids; -1 failure (reported).
    int Set_VIDPID(unsigned short vid, unsigned short pid);
    // Opens the cable `choice` names among those whose description begins with `name`,
    // holding `lock` on it first when there is one. 1 open and configured; 0 refused: the
    // choice names none or several, or the cable is busy (reported); -1 none there without a
    // choice, or a step failed (reported, except none there).
    int Open_ByName(const char* name, long baud, int usb_size);
    void FlushFIFO();
    // Bytes moved, or 0 when the library call fails. A call that fails or moves fewer
    // bytes than asked sets transfer_failed.
    int Read(unsigned char* buf, unsigned int n);
    int Write(unsigned char* buf, unsigned int n);
    // Drains, resets and closes the device; a device whose transfers failed is only closed.
    void Close();

    FT_HANDLE ft_handle = nullptr;
    const char* err_prefix = "\nError: Failed ";
    FT_STATUS ft_status = FT_OK;
    bool transfer_failed = false;
    UsbChoice choice;
    CCableLock* lock = nullptr;
    UsbCable opened;    // the cable Open_ByName opened
    size_t listed = 0;  // and how many USB-Blasters it found

private:
    // Reads and drops whatever the device has queued; false when the query fails.
    bool Drain();
};
