// SPI flash command layer: every command frame is built here and goes out through the
// adapter's WR_BLOCK. Addressed commands carry 3 address bytes, or 4 on chips driven with
// 4-byte addresses (flash_db.cfg addr4=).
#include <cstdio>
#include <cstring>

#include "adapters/delay.h"
#include "flash/spi_opcodes.h"
#include "run/console.h"
#include "run/interrupt.h"
#include "run/tamrel.h"

namespace {

const unsigned char STATUS_FILLER = 0x00;
const unsigned long long kFirstPauseUs = 100;  // first pause after a busy reading
const unsigned long long kPauseShare = 32;     // later pauses: this share of the time waited

// One chip-select frame; without a cable nothing is clocked and buf keeps what it held.
void send_frame(CInterface* adapter, unsigned char* buf, long total_len, long read_len) {
    if (adapter) adapter->WR_BLOCK(buf, total_len, read_len);
}

bool uses_4byte_mode(const Setup_struct* s) {
    return s->addr4_mode == ADDR4_EN4B || s->addr4_mode == ADDR4_WREN_EN4B;
}

}  // namespace

void CTAMREL::FLASH_Read_JEDEC(unsigned char* buf) {
    buf[0] = SPI_READ_JEDEC;
    send_frame(adapter, buf, 6, 5);
}

unsigned char CTAMREL::Get_StatusReg() {
    unsigned char frame[2] = {SPI_READ_STATUS, STATUS_FILLER};
    send_frame(adapter, frame, 2, 2);
    return frame[1];  // byte 0 was clocked in while the opcode went out
}

unsigned char CTAMREL::Read_Register(unsigned char opcode) {
    unsigned char frame[2] = {opcode, STATUS_FILLER};
    send_frame(adapter, frame, 2, 2);
    return frame[1];
}

void CTAMREL::Write_Enable() {
    unsigned char frame[1] = {SPI_WRITE_ENABLE};
    send_frame(adapter, frame, 1, 0);
}

void CTAMREL::Write_Disable() {
    unsigned char frame[1] = {SPI_WRITE_DISABLE};
    send_frame(adapter, frame, 1, 0);
}

unsigned int CTAMREL::Command_Length() const {
    return setup->addr4_mode == ADDR4_NO ? 4 : 5;
}

// Opcode and address, most significant byte first: the low 24 bits, or all 32 with the
// 4-byte twin of the opcode where the chip has dedicated 4-byte commands.
unsigned int CTAMREL::Put_Command(unsigned char* frame, unsigned char opcode,
                                  unsigned long addr) const {
    const unsigned int len = Command_Length();
    frame[0] = setup->addr4_mode == ADDR4_OPCODES ? Four_Byte_Opcode(opcode) : opcode;
    for (unsigned int i = 1; i < len; i++)
        frame[i] = static_cast<unsigned char>(addr >> (8 * (len - 1 - i)));
    return len;
}

// A part without 4-byte opcodes enters its 4-byte mode before its first addressed
// command, and where it shows the mode (ads=) it must show it taken: a part still in 3-byte
// mode would take the fourth address byte as data. 1 when frames went out (a write enable
// given before must be given again), 0 when none did, -1 when the mode did not take.
int CTAMREL::Enter_4Byte_Mode() {
    if (addr4_failed) return -1;
    if (addr4_entered || !uses_4byte_mode(setup)) return 0;
    const bool wren = setup->addr4_mode == ADDR4_WREN_EN4B;
    if (wren) Write_Enable();
    unsigned char frame[1] = {SPI_ENTER_4BYTE};
    send_frame(adapter, frame, 1, 0);
    if (wren) Write_Disable();
    addr4_entered = 1;
    const ChipRecord& r = setup->record;
    if (r.ads_opcode == 0) return 1;
    const unsigned char shown = Read_Register(r.ads_opcode);
    if (Cable_Lost() || (shown & r.ads_mask) == r.ads_mask) return 1;
    addr4_failed = 1;
    printf(
        "\nError: the chip did not enter its 4-byte address mode (0x%02X reads 0x%02X, bits "
        "0x%02X clear): operation stopped\n",
        r.ads_opcode, shown, r.ads_mask & ~shown & 0xFF);
    return -1;
}

// Back to the power-up 3-byte mode, so the board still boots from the chip. Parts that keep
// an extended address register (ear=) may leave it set: 3-byte addresses would then reach
// the upper 16 MiB.
void CTAMREL::Leave_4Byte_Mode() {
    if (!addr4_entered) return;
    addr4_entered = 0;
    // A busy chip ignores the command.
    if (Wait_WriteBusy(200, 20) != 1 && !Cable_Lost()) {
        printf(
            "\nError: the chip is still busy and stays in its 4-byte address mode: power-cycle "
            "the board before it boots from the chip\n");
        return;
    }
    const bool wren = setup->addr4_mode == ADDR4_WREN_EN4B;
    if (wren) Write_Enable();
    unsigned char frame[2] = {SPI_EXIT_4BYTE, 0x00};
    send_frame(adapter, frame, 1, 0);
    if (wren) Write_Disable();
    if (setup->record.ear_opcode == 0) return;
    Write_Enable();
    frame[0] = setup->record.ear_opcode;
    send_frame(adapter, frame, 2, 0);
    Write_Disable();
}

void CTAMREL::Read_Block(unsigned long addr, unsigned long len) {
    if (Enter_4Byte_Mode() < 0) return;
    const unsigned int head = Put_Command(io_buf, SPI_READ, addr);
    // A frame never runs past io_buf: the command bytes plus the reply.
    if (len > IO_BUF_SIZE - head) len = IO_BUF_SIZE - head;
    send_frame(adapter, io_buf, static_cast<long>(len + head), static_cast<long>(len));
    memmove(io_buf, io_buf + head, len);
}

unsigned char* CTAMREL::Program_Data() {
    return io_buf + Command_Length();
}

void CTAMREL::Program_Page(unsigned long addr, unsigned long n) {
    const int entered = Enter_4Byte_Mode();
    if (entered < 0) return;
    if (entered > 0) Write_Enable();
    const unsigned int head = Put_Command(io_buf, SPI_PAGE_PROGRAM, addr);
    send_frame(adapter, io_buf, static_cast<long>(n + head), 0);
}

// Parts read ready from their flag status register (poll=fsr) take the plain loop, whose
// status wait reads it.
bool CTAMREL::Pipelined_Programs() {
    return adapter && adapter->QUEUES_BLOCKS() && setup->record.poll != POLL_FSR;
}

// A status read frame clocked on for `polls` bytes reads the register again with each byte.
void CTAMREL::Program_Page_Confirmed(unsigned long addr, unsigned long n, unsigned char* latch,
                                     unsigned char* started, unsigned long starts,
                                     unsigned long gap, unsigned char* polled,
                                     unsigned long polls) {
    if (Enter_4Byte_Mode() < 0) return;  // frames of its own, before the write enable below
    unsigned char wren[1] = {SPI_WRITE_ENABLE};
    adapter->QUEUE_BLOCK(wren, 1, 0);
    latch[0] = SPI_READ_STATUS;
    latch[1] = STATUS_FILLER;
    adapter->QUEUE_BLOCK(latch, 2, 2);
    const unsigned int head = Put_Command(io_buf, SPI_PAGE_PROGRAM, addr);
    adapter->QUEUE_BLOCK(io_buf, static_cast<long>(n + head), 0);
    started[0] = SPI_READ_STATUS;
    memset(started + 1, STATUS_FILLER, starts);
    adapter->QUEUE_BLOCK(started, static_cast<long>(starts + 1), static_cast<long>(starts + 1));
    adapter->QUEUE_IDLE(static_cast<long>(gap));
    polled[0] = SPI_READ_STATUS;
    memset(polled + 1, STATUS_FILLER, polls);
    adapter->QUEUE_BLOCK(polled, static_cast<long>(polls + 1), static_cast<long>(polls + 1));
    adapter->FLUSH_BLOCKS();
}

void CTAMREL::Erase_Unit(unsigned long addr) {
    Erase_Command(setup->cmd_erase, addr);
}

void CTAMREL::Erase_Command(unsigned char opcode, unsigned long addr) {
    const int entered = Enter_4Byte_Mode();
    if (entered < 0) return;
    if (entered > 0) Write_Enable();
    unsigned char frame[5];
    const unsigned int len = Put_Command(frame, opcode, addr);
    send_frame(adapter, frame, static_cast<long>(len), 0);
}

// Die erase has no 4-byte twin: 4 address bytes only in the chip's 4-byte mode.
void CTAMREL::Die_Erase(unsigned long addr) {
    const int entered = Enter_4Byte_Mode();
    if (entered < 0) return;
    if (entered > 0) Write_Enable();
    unsigned char frame[5];
    const unsigned int len = Command_Length();
    Put_Command(frame, 0, addr);
    frame[0] = setup->record.die_erase;
    send_frame(adapter, frame, static_cast<long>(len), 0);
}

void CTAMREL::Chip_Erase() {
    unsigned char frame[1] = {setup->cmd_chip_erase};
    send_frame(adapter, frame, 1, 0);
}

void CTAMREL::Write_Status(unsigned char value) {
    unsigned char frame[2] = {SPI_WRITE_STATUS, value};
    send_frame(adapter, frame, 2, 0);
}

void CTAMREL::Global_Unlock() {
    unsigned char frame[1] = {SPI_GLOBAL_UNLOCK};
    send_frame(adapter, frame, 1, 0);
}

void CTAMREL::Read_Block_Protection(unsigned long len) {
    if (len > IO_BUF_SIZE - 1) len = IO_BUF_SIZE - 1;
    io_buf[0] = SPI_READ_BLOCK_PROTECTION;
    send_frame(adapter, io_buf, static_cast<long>(len + 1), static_cast<long>(len));
    memmove(io_buf, io_buf + 1, len);
}

void CTAMREL::Read_SFDP(unsigned long addr, unsigned long len) {
    if (len > IO_BUF_SIZE - 5) len = IO_BUF_SIZE - 5;
    // Opcode, 24-bit address, and a dummy byte while the chip turns its output on.
    const unsigned char head[5] = {SPI_READ_SFDP, static_cast<unsigned char>(addr >> 16),
                                   static_cast<unsigned char>(addr >> 8),
                                   static_cast<unsigned char>(addr), 0x00};
    memcpy(io_buf, head, sizeof head);
    send_frame(adapter, io_buf, static_cast<long>(len + sizeof head), static_cast<long>(len));
    memmove(io_buf, io_buf + sizeof head, len);
}

unsigned long CTAMREL::Read_Frame_Len() const {
    const unsigned long page = setup->page_size ? setup->page_size : 1;
    const unsigned long pages = kReadFrameBytes > page ? kReadFrameBytes / page : 1;
    const unsigned long len = pages * page;
    return len < IO_BUF_SIZE - 4 ? len : page;
}

// Gives up after the same total pause as `polls` pauses of pause_ms, but polls again soon
// after a busy reading: each pause is a 32nd of the time waited so far (at least
// kFirstPauseUs, at most pause_ms), so the chip is seen ready at most about 3 % of its busy
// time late, whatever a status reading costs on the cable.
int CTAMREL::Wait_WriteBusy(int polls, int pause_ms, bool interruptible) {
    const unsigned long long pause_us = pause_ms > 0 ? pause_ms * 1000ULL : 0;
    unsigned long long left_us = polls > 0 ? static_cast<unsigned long long>(polls) * pause_us : 0;
    int readings_left = pause_us == 0 ? polls : 0;  // no pause: count the readings instead
    const unsigned long long start_ns = delay_now_ns();
    // Stacked-die parts (poll=fsr) must have their flag status register read after each
    // program and erase: they take no new command before.
    const bool fsr = setup->record.poll == POLL_FSR;
    for (bool first = true; left_us > 0 || readings_left > 0; first = false) {
        if (interruptible && !first && Interrupt_Pending()) return 0;
        const bool busy = fsr ? (Read_Register(SPI_READ_FLAG_STATUS) & FLAG_STATUS_READY) == 0
                              : (Get_StatusReg() & STATUS_BUSY) != 0;
        if (Cable_Lost()) return 0;  // the cable has said so; nothing to wait for
        if (!busy) return 1;
        unsigned long long pause = (delay_now_ns() - start_ns) / (1000 * kPauseShare);
        if (pause < kFirstPauseUs) pause = kFirstPauseUs;
        if (pause > pause_us) pause = pause_us;
        if (pause > left_us) pause = left_us;
        delay_ms(static_cast<unsigned int>(pause / 1000));
        delay_us(static_cast<unsigned int>(pause % 1000));
        Progress_Tick();  // a wait for a chip erase shows its time on a terminal
        left_us -= pause;
        if (readings_left > 0) --readings_left;
    }
    printf("\nError: Wait_WriteBusy exit by timeout");
    return 0;
}

bool CTAMREL::Cable_Lost() {
    return addr4_failed || (adapter && adapter->CABLE_LOST());
}

int CTAMREL::Check_WriteProtect() {
    if (Get_StatusReg() & STATUS_WEL) return 0;
    SetColor(14, 1);
    printf("\nError: Disable hardware \"Write protect\" pin!");
    SetColor(15, 0);
    printf("\n");
    return 1;
}
