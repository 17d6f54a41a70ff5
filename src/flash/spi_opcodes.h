// SPI NOR command opcodes and status register bits, as they travel on the wire. The
// command layer builds its frames from them and the chip model decodes them.
#pragma once

enum : unsigned char {
    SPI_WRITE_STATUS = 0x01,
    SPI_PAGE_PROGRAM = 0x02,
    SPI_READ = 0x03,
    SPI_WRITE_DISABLE = 0x04,
    SPI_READ_STATUS = 0x05,
    SPI_WRITE_ENABLE = 0x06,
    SPI_PAGE_PROGRAM_4B = 0x12,
    SPI_READ_4B = 0x13,
    SPI_ERASE_4K = 0x20,
    SPI_ERASE_4K_4B = 0x21,
    SPI_ERASE_8K = 0x40,
    SPI_ERASE_32K = 0x52,
    SPI_READ_SFDP = 0x5A,
    SPI_ERASE_32K_4B = 0x5C,
    SPI_CHIP_ERASE_ALT = 0x60,
    SPI_READ_FLAG_STATUS = 0x70,       // flag status register (stacked-die parts)
    SPI_READ_BLOCK_PROTECTION = 0x72,  // SST26 block-protection register
    SPI_GLOBAL_UNLOCK = 0x98,          // SST26 ULBPR: clears every block's write lock
    SPI_READ_JEDEC = 0x9F,
    SPI_ENTER_4BYTE = 0xB7,
    SPI_CHIP_ERASE = 0xC7,
    SPI_ERASE_SECTOR = 0xD8,
    SPI_ERASE_SECTOR_4B = 0xDC,
    SPI_EXIT_4BYTE = 0xE9,
};

enum : unsigned char {
    STATUS_BUSY = 0x01,
    STATUS_WEL = 0x02,
    STATUS_SRP = 0x80,
    FLAG_STATUS_READY = 0x80,  // flag status register: program or erase controller ready
};

// The 4-byte-address twin of a 3-byte-address command (read, program, erase); 0 when the
// command has none.
unsigned char Four_Byte_Opcode(unsigned char opcode);
