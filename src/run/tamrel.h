// The programmer object: setup record, current cable, transfer buffer, and every
// flash operation as a member. Members are implemented in the folder of their subsystem.
#pragma once

#include <cstdint>
#include <string>

#include "adapters/interface.h"
#include "run/setup.h"

enum : uint32_t { IO_BUF_SIZE = 0x10010 };  // 64 KiB plus room for the command bytes
// Page-by-page reads (dump, verify) read this many bytes per frame: fewer frames cost
// fewer USB round trips, and an interrupt still stops within a fraction of a second.
enum : uint32_t { kReadFrameBytes = 0x4000 };

class CTAMREL {
public:
    explicit CTAMREL(Setup_struct* setup);
    ~CTAMREL();
    CTAMREL(const CTAMREL&) = delete;
    CTAMREL& operator=(const CTAMREL&) = delete;

    // Power sequences (run/tamrel.cpp).
    void Adapter_ini();
    void Adapter_release();

    // Key file reader (config/key_reader.cpp). `line` receives the key and the rest of
    // its line, or is null when only presence matters.
    int Get_keyString(const char* path, std::string* line, const char* key, int& result);
    int Open_Key_File(const char* path);
    // Opens a key file for reading: through key_file_source when set, else from the disk.
    FILE* Key_File_Open(const char* path);
    void Close_Key_File();
    long Get_env_val(const char* text, const char* key, int* result);
    std::string Get_env_txt(const char* text, const char* key, int* result);

    // Chip database and identification (chipdb/).
    int Id_ByName();
    int FLASH_Identify();
    int FLASH_Check_Parameters();
    // By name, with the adapter powered: warns when the chip answers another record's id.
    void FLASH_Check_ByName();
    void FLASH_Info();

    // SPI command layer (flash/spi_commands.cpp).
    void FLASH_Read_JEDEC(unsigned char* buf);
    unsigned char Get_StatusReg();
    unsigned char Read_Register(unsigned char opcode);  // one byte after the opcode
    void Write_Enable();
    void Write_Disable();
    void Read_Block(unsigned long addr, unsigned long len);
    // Page program of n bytes that the caller has put at Program_Data().
    unsigned char* Program_Data();
    void Program_Page(unsigned long addr, unsigned long n);
    // Page programs whose write enable, program and status reads travel together: the cable
    // queues frames and readiness is bit 0 of the status register.
    bool Pipelined_Programs();
    // One page program of the n bytes at Program_Data() with the status readings that
    // confirm it, sent together: write enable, one status read (latch[1]), the program, a
    // status read of `starts` readings (started[1..starts]), `gap` byte times of idle clocks,
    // then `polls` status readings in one frame (polled[1..polls]).
    void Program_Page_Confirmed(unsigned long addr, unsigned long n, unsigned char* latch,
                                unsigned char* started, unsigned long starts, unsigned long gap,
                                unsigned char* polled, unsigned long polls);
    void Erase_Unit(unsigned long addr);  // cmd_erase at addr
    void Chip_Erase();                    // cmd_chip_erase
    void Die_Erase(unsigned long addr);   // diers= opcode at an address inside the die
    // An erase command of any size at addr.
    void Erase_Command(unsigned char opcode, unsigned long addr);
    void Write_Status(unsigned char value);
    void Global_Unlock();
    void Read_Block_Protection(unsigned long len);  // the bytes land in io_buf
    void Leave_4Byte_Mode();  // sends the exit when the chip was put in 4-byte mode
    // JESD216 parameter area: like Read_Block, with one dummy byte after the address.
    void Read_SFDP(unsigned long addr, unsigned long len);
    // Bytes a page-by-page read takes per frame: whole pages, at most kReadFrameBytes when
    // a page is smaller.
    unsigned long Read_Frame_Len() const;
    // 1 when the chip became ready. An interruptible wait gives up quietly (0) once an
    // interrupt is pending.
    int Wait_WriteBusy(int polls, int pause_ms, bool interruptible = false);
    int Check_WriteProtect();
    // True once the cable has reported a failed transfer, or the chip did not take its 4-byte
    // mode: stop before the next frame.
    bool Cable_Lost();

    // Flash operations (flash/). Results: 1 success, -1 failure.
    int FLASH_Dump();
    int FLASH_ShowMem();
    void Print_Buffer(const unsigned char* buf, unsigned long base, int len);
    int FLASH_Erase();
    // The write enable and status check before a range's first erase frame, with its
    // "Status:" line; -1 (after saying why) when the chip would not take an erase.
    int Erase_Permitted();
    int Save_Head_Tail();  // -1 when a buffer could not be had: nothing may be erased then
    int FLASH_Write_Head();
    // Puts the saved head and tail into this run's journal before their units are erased;
    // -1 (nothing may be erased) when it can't be written.
    int Journal_Head_Tail();
    // Reads the restored head and tail back and removes the journal once they match; -1
    // after an "Error:" line when they do not (the journal stays).
    int Confirm_Head_Tail();
    int FLASH_Write_Tail(unsigned long addr);
    // Saves to files the head and tail bytes whose unit was erased and that were not
    // programmed back (a chip that stayed busy, a lost cable), and says how to put them
    // back. -1 when there were such bytes, 1 when none.
    int Rescue_Head_Tail();
    int Check_DataEmpty(const unsigned char* buf, unsigned int len);
    int FLASH_Write();
    unsigned long Data_Align(unsigned long addr, int len, bool last);
    int FLASH_Verify();
    int FLASH_Unlock();
    // True, after the refusal of `operation`, when a chip with per-block locks (unlock=ulbpr)
    // has any block locked: it would ignore erase and program commands there.
    bool Refuse_Locked_Blocks(const char* operation);

    Setup_struct* setup;
    CInterface* adapter;
    unsigned char* io_buf;
    uint32_t key_pos;
    FILE* key_file;  // left open at key_file_pos by the last search of key_file_path
    std::string key_file_path;
    uint32_t key_file_pos;
    FILE* (*key_file_source)(const char* path);  // null: fopen; fuzzers serve text from memory
    unsigned char* head_buf;
    uint32_t head_len;
    uint32_t head_addr;
    unsigned char* tail_buf;
    uint32_t tail_len;
    uint32_t tail_addr;
    bool head_pending;  // its unit was erased and it is not yet programmed back
    bool tail_pending;
    // The journal holding head and tail from before their erase until they read back; "" none.
    std::string journal_path;
    const char* page_label;
    const char* block_label;
    const char* sector_label;
    const char* erase_label;
    int adapter_active;
    int addr4_entered;  // the chip is in its 4-byte address mode
    int addr4_failed;   // ads= showed the mode did not take: no addressed frame may go out

private:
    unsigned int Command_Length() const;
    unsigned int Put_Command(unsigned char* frame, unsigned char opcode, unsigned long addr) const;
    int Enter_4Byte_Mode();
};

int DB_Parser(const char* line, CTAMREL* pgm);
