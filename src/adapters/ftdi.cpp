#include "adapters/ftdi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adapters/cable_lock.h"
#include "adapters/delay.h"

CFTDI::~CFTDI() {
    Close();
}

int CFTDI::Set_VIDPID(unsigned short vid, unsigned short pid) {
    DWORD cur_vid = 0, cur_pid = 0;
    ft_status = FT_GetVIDPID(&cur_vid, &cur_pid);
    if (ft_status != FT_OK) {
        printf("%sCan`t get VID, PID", err_prefix);
        return -1;
    }
    if (cur_vid == vid && cur_pid == pid) return 1;
    ft_status = FT_SetVIDPID(vid, pid);
    if (ft_status != FT_OK) {
        printf("%sset VID: 0x%X, PID: 0x%X", err_prefix, unsigned(vid), unsigned(pid));
        return -1;
    }
    printf("\nSet VID: 0x%X, PID: 0x%X", unsigned(vid), unsigned(pid));
    return 1;
}

int CFTDI::Open_ByName(const char* name, long baud, int usb_size) {
    Close();
    std::vector<UsbCable> cables, unreadable;
    if (Usb_List(name, &cables, &unreadable) != 1) return -1;
    if (cables.empty() && choice.Any()) return -1;
    const int pick = Usb_Choose(cables, choice);
    if (pick < 0) return 0;
    const UsbCable& cable = cables[static_cast<size_t>(pick)];
    opened = cable;
    listed = cables.size();
    if (lock && lock->Take(cable.node) != 1) {
        printf("\nError: USB-Blaster %s is in use by another process\n",
               Usb_Cable_Text(cable).c_str());
        return 0;
    }

    ft_status = FT_Open(cable.device, &ft_handle);
    if (ft_status != FT_OK) {
        ft_handle = nullptr;  // nothing was opened
        printf("%sUSB open '%s'", err_prefix, name);
        return -1;
    }
    ft_status = FT_ResetDevice(ft_handle);
    if (ft_status != FT_OK) {
        printf("%sno device Reset", err_prefix);
        return -1;
    }
    ft_status = FT_SetBitMode(ft_handle, 0, 0);
    if (ft_status != FT_OK) {
        printf("%s can`t Reset", err_prefix);
        return -1;
    }
    if (!Drain()) {
        printf("%scan`t get Queue Status", err_prefix);
        return -1;
    }
    ft_status = FT_SetTimeouts(ft_handle, 0, 0);
    if (ft_status != FT_OK) {
        printf("%sto set Timeouts", err_prefix);
        return -1;
    }
    ft_status = FT_SetLatencyTimer(ft_handle, 2);
    if (ft_status != FT_OK) {
        printf("%sto set Latency Timer", err_prefix);
        return -1;
    }
    ft_status = FT_SetBaudRate(ft_handle, static_cast<ULONG>(baud));
    if (ft_status != FT_OK) {
        printf("%sto set Baud Rate", err_prefix);
        return -1;
    }
    ft_status = FT_SetChars(ft_handle, 0, 0, 0, 0);
    if (ft_status != FT_OK) {
        printf("%sdisable event and errors", err_prefix);
        return -1;
    }
    ft_status =
        FT_SetUSBParameters(ft_handle, static_cast<ULONG>(usb_size), static_cast<ULONG>(usb_size));
    if (ft_status != FT_OK) {
        printf("%sto set USB Block Size", err_prefix);
        return -1;
    }
    ft_status = FT_Purge(ft_handle, FT_PURGE_RX | FT_PURGE_TX);
    if (ft_status != FT_OK) {
        printf("%sclear FIFO", err_prefix);
        return -1;
    }
    fflush(stdout);
    delay_ms(100);
    return 1;
}

bool CFTDI::Drain() {
    DWORD queued = 0;
    ft_status = FT_GetQueueStatus(ft_handle, &queued);
    if (ft_status != FT_OK) return false;
    if (queued > 0) {
        unsigned char* scratch = static_cast<unsigned char*>(malloc(queued));
        if (scratch) {
            DWORD got = 0;
            FT_Read(ft_handle, scratch, queued, &got);
            free(scratch);
        }
    }
    return true;
}

void CFTDI::FlushFIFO() {
    if (!Drain()) printf("\nGetQueueStatus error!! :0x%luX\n", ft_status);
}

int CFTDI::Read(unsigned char* buf, unsigned int n) {
    DWORD got = 0;
    ft_status = FT_Read(ft_handle, buf, n, &got);
    if (ft_status != FT_OK) got = 0;
    if (got < n) transfer_failed = true;
    return static_cast<int>(got);
}

int CFTDI::Write(unsigned char* buf, unsigned int n) {
    DWORD put = 0;
    ft_status = FT_Write(ft_handle, buf, n, &put);
    if (ft_status != FT_OK) put = 0;
    if (put < n) transfer_failed = true;
    return static_cast<int>(put);
}

void CFTDI::Close() {
    if (!ft_handle) return;
    if (transfer_failed) {  // a cable gone or stalled answers nothing: don't wait on it
        FT_Close(ft_handle);
        ft_handle = nullptr;
        return;
    }
    if (!Drain()) printf("\nGetQueueStatus error!! :0x%luX\n", ft_status);
    ft_status = FT_ResetDevice(ft_handle);
    if (ft_status != FT_OK) printf("%sFTDI chip Reset", err_prefix);
    ft_status = FT_Close(ft_handle);
    if (ft_status != FT_OK) printf("%sclose FTDI driver", err_prefix);
    ft_handle = nullptr;
}
