#include "run/tamrel.h"

#include <cstdio>
#include <cstdlib>

CTAMREL::CTAMREL(Setup_struct* s)
    : setup(s),
      adapter(nullptr),
      io_buf(static_cast<unsigned char*>(malloc(IO_BUF_SIZE))),
      key_pos(0),
      key_file(nullptr),
      key_file_pos(0),
      key_file_source(nullptr),
      head_buf(nullptr),
      head_len(0),
      head_addr(0),
      tail_buf(nullptr),
      tail_len(0),
      tail_addr(0),
      head_pending(false),
      tail_pending(false),
      page_label("Page:\t"),
      block_label("Block:\t"),
      sector_label("Sector:\t"),
      erase_label(sector_label),
      adapter_active(0),
      addr4_entered(0),
      addr4_failed(0) {}

CTAMREL::~CTAMREL() {
    Adapter_release();
    Close_Key_File();
    free(io_buf);
    io_buf = nullptr;
    if (head_buf) {
        free(head_buf);
        head_buf = nullptr;
    }
    if (tail_buf) {
        free(tail_buf);
        tail_buf = nullptr;
    }
    if (setup->data_file) {
        fclose(setup->data_file);
        setup->data_file = nullptr;
    }
}

void CTAMREL::Adapter_ini() {
    if (adapter_active == 1 || adapter == nullptr) return;
    printf("\n");
    adapter->CLR_CPU_RESET();
    adapter->SET_WP_DISABLE();
    adapter->SET_CS();
    adapter->CLR_SCK();
    adapter->CLR_MOSI();
    adapter_active = adapter->ADAPTER_ON();
}

void CTAMREL::Adapter_release() {
    if (adapter_active == 0 || adapter == nullptr) return;
    printf("\n");
    Leave_4Byte_Mode();  // on every way out, failures and interrupts included
    adapter->SET_CS();
    adapter->CLR_SCK();
    adapter->CLR_MOSI();
    adapter->CLR_WP_DISABLE();
    adapter->SET_CPU_RESET();
    adapter_active = adapter->ADAPTER_OFF();
}
