#include "flash/spi_opcodes.h"

namespace {

const unsigned char kFourByteTwins[][2] = {
    {SPI_READ, SPI_READ_4B},
    {SPI_PAGE_PROGRAM, SPI_PAGE_PROGRAM_4B},
    {SPI_ERASE_4K, SPI_ERASE_4K_4B},
    {SPI_ERASE_32K, SPI_ERASE_32K_4B},
    {SPI_ERASE_SECTOR, SPI_ERASE_SECTOR_4B},
};

}  // namespace

unsigned char Four_Byte_Opcode(unsigned char opcode) {
    for (const auto& twin : kFourByteTwins)
        if (twin[0] == opcode) return twin[1];
    return 0;
}
