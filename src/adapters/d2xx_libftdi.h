// The FT_* layer on libftdi1. Every libftdi1 call goes through an FtdiCalls table so
// tests can stand in for the library.
#pragma once

#include <ftdi.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/d2xx.h"

struct FtdiCalls {
    ftdi_context* (*new_context)();
    void (*free_context)(ftdi_context*);
    int (*usb_find_all)(ftdi_context*, ftdi_device_list**, int vendor, int product);
    void (*list_free)(ftdi_device_list**);
    int (*usb_get_strings2)(ftdi_context*, libusb_device*, char* manufacturer, int mnf_len,
                            char* description, int desc_len, char* serial, int serial_len);
    int (*usb_open_dev)(ftdi_context*, libusb_device*);
    int (*usb_close)(ftdi_context*);
    int (*usb_reset)(ftdi_context*);
    int (*set_bitmode)(ftdi_context*, unsigned char mask, unsigned char mode);
    int (*read_data)(ftdi_context*, unsigned char* buf, int size);
    int (*write_data)(ftdi_context*, const unsigned char* buf, int size);
    int (*read_data_set_chunksize)(ftdi_context*, unsigned int chunksize);
    int (*write_data_set_chunksize)(ftdi_context*, unsigned int chunksize);
    int (*set_latency_timer)(ftdi_context*, unsigned char ms);
    int (*set_baudrate)(ftdi_context*, int baud);
    int (*set_event_char)(ftdi_context*, unsigned char ch, unsigned char enable);
    int (*set_error_char)(ftdi_context*, unsigned char ch, unsigned char enable);
    int (*tciflush)(ftdi_context*);
    int (*tcoflush)(ftdi_context*);
    int (*tcioflush)(ftdi_context*);
    uint8_t (*bus_number)(libusb_device*);
    uint8_t (*device_address)(libusb_device*);
    int (*port_numbers)(libusb_device*, uint8_t* ports, int len);
    ftdi_transfer_control* (*write_data_submit)(ftdi_context*, unsigned char* buf, int size);
    ftdi_transfer_control* (*read_data_submit)(ftdi_context*, unsigned char* buf, int size);
    int (*transfer_data_done)(ftdi_transfer_control*);  // releases the control block
    void (*transfer_data_cancel)(ftdi_transfer_control*, struct timeval* wait);  // and this
};

// The real libftdi1 functions.
const FtdiCalls& Ftdi_LibraryCalls();

class CLibftdiBackend : public CD2xxBackend {
public:
    // read_give_up_ms bounds FT_Read when no read timeout is set (FT_SetTimeouts 0).
    explicit CLibftdiBackend(const FtdiCalls& calls = Ftdi_LibraryCalls(),
                             unsigned read_give_up_ms = 3000);
    ~CLibftdiBackend() override;

    FT_STATUS GetVIDPID(DWORD* vid, DWORD* pid) override;
    FT_STATUS SetVIDPID(DWORD vid, DWORD pid) override;
    FT_STATUS ListDevices(void* arg1, void* arg2, DWORD flags) override;
    FT_STATUS CreateDeviceInfoList(DWORD* count) override;
    FT_STATUS GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* loc_id,
                                  void* serial, void* description, FT_HANDLE* handle) override;
    FT_STATUS Open(int index, FT_HANDLE* handle) override;
    FT_STATUS Close(FT_HANDLE h) override;
    FT_STATUS ResetDevice(FT_HANDLE h) override;
    FT_STATUS SetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) override;
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* rx_bytes) override;
    FT_STATUS Read(FT_HANDLE h, void* buf, DWORD n, DWORD* got) override;
    FT_STATUS Write(FT_HANDLE h, void* buf, DWORD n, DWORD* put) override;
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) override;
    bool AccessDenied() const override { return access_denied_; }
    FT_STATUS SetLatencyTimer(FT_HANDLE h, UCHAR ms) override;
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override;
    FT_STATUS SetChars(FT_HANDLE h, UCHAR event_ch, UCHAR event_en, UCHAR error_ch,
                       UCHAR error_en) override;
    FT_STATUS SetUSBParameters(FT_HANDLE h, ULONG in_size, ULONG out_size) override;
    FT_STATUS Purge(FT_HANDLE h, ULONG mask) override;
    FT_STATUS GetDeviceLocation(DWORD index, FT_DEVICE_LOCATION* where) override;
    // libftdi keeps one read buffer per device: a second read while one is in flight is
    // refused, and so are the synchronous reads, so no reply lands in the wrong place.
    bool CanSubmit() const override { return true; }
    FT_STATUS WriteSubmit(FT_HANDLE h, const void* buf, DWORD n, FT_TRANSFER* t) override;
    FT_STATUS ReadSubmit(FT_HANDLE h, void* buf, DWORD n, FT_TRANSFER* t) override;
    FT_STATUS TransferDone(FT_HANDLE h, FT_TRANSFER t, DWORD* moved) override;
    FT_STATUS TransferCancel(FT_HANDLE h, FT_TRANSFER t) override;

private:
    struct Device;
    struct Transfer;
    struct Entry {  // one line of the device info list
        bool ok;
        std::string description;
        std::string serial;
        std::string path;  // USB port path, "1-1.4"
        std::string node;  // /dev/bus/usb/BBB/DDD
    };
    Device* Find(FT_HANDLE h) const;
    // Lists the devices with the current ids in a fresh context; null on failure.
    ftdi_context* Enumerate(std::vector<libusb_device*>* devs, ftdi_device_list** list);
    static bool Node_Not_Accessible(const std::string& node);
    std::string Port_Path(libusb_device* dev) const;
    void Size_Read(Device* d, size_t due);

    FtdiCalls calls_;
    unsigned read_give_up_ms_;
    DWORD vid_ = 0x0403;  // FTDI's own ids until told otherwise
    DWORD pid_ = 0x6001;
    std::vector<Entry> entries_;
    bool access_denied_ = false;
    std::vector<std::unique_ptr<Device>> devices_;
};
