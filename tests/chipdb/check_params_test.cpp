#include "chipdb/fake_chip.h"

namespace {

const char kGeometry[] =
    "\nPage size:\t0x100, (256) Bytes\nBlock size:\t0x1000, (4) Kb"
    "\nSector size:\t0x10000, (64) Kb\nBlock  numbers:\t1024 \nSector numbers:\t64 "
    "\nTotal Size:\t4 MB";

class CheckParams : public ChipTest {
protected:
    // A W25Q32 as identification leaves it, and the request `op` with the options given.
    int Check(uint8_t op, const char* file, int64_t begin, int64_t last) {
        PGM_setup_ini(&setup);
        setup.mnf_id = 0xEF, setup.erase_size = 4096, setup.cmd_erase = 0x20;
        setup.page_size = 256, setup.has_page_size = 1;
        setup.block_size = 4096, setup.has_block_size = 1;
        setup.sector_size = 0x10000, setup.has_sector_size = 1;
        setup.total_size = 0x400000, setup.has_total_size = 1;
        setup.operation = op;
        setup.do_erase = op == OP_ERASE, setup.do_write = op == OP_WRITE;
        setup.do_verify = op == OP_VERIFY, setup.do_dump = op == OP_DUMP;
        if (file) setup.file_name = file, setup.has_file_name = 1;
        if (begin >= 0) setup.addr_begin = begin, setup.has_addr_begin = 1;
        if (last >= 0) setup.addr_last = last, setup.has_addr_last = 1;
        if (edit) edit(&setup);
        Write("data.bin", std::string(0x1000, 'x'));
        Write("empty.bin", "");
        int r = 0;
        out = Output([&] { r = pgm.FLASH_Check_Parameters(); });
        return r;
    }
    void (*edit)(Setup_struct*) = nullptr;
    std::string out;
};

TEST_F(CheckParams, WorkedExampleClampAndDataFile) {
    EXPECT_EQ(1, Check(OP_NONE, nullptr, -1, 0x7FFFFFFF));
    EXPECT_EQ(kGeometry, out);
    EXPECT_EQ(0x3FFFFFu, setup.addr_last);
    EXPECT_EQ(nullptr, setup.data_file);
    EXPECT_EQ(1, Check(OP_WRITE, "data.bin", 0x3FF000, -1));  // ends on the last byte
    EXPECT_EQ(0x1000u, setup.file_size);
    EXPECT_NE(nullptr, setup.data_file);
}

// Every refusal, in check order; the documented ones end the output exactly.
TEST_F(CheckParams, Refusals) {
    const struct {
        void (*edit)(Setup_struct*);
        uint8_t op;
        const char* file;
        int64_t begin, last;
        const char* message;  // "" when the request passes
    } cases[] = {
        {[](Setup_struct* s) { s->block_size = 0; }, 0, nullptr, -1, -1,
         "\nDB Error: 'block=' not given.\n\n"},
        {[](Setup_struct* s) { s->has_sector_size = 0; }, 0, nullptr, -1, -1,
         "\nDB Error: 'sector=' not given.\n\n"},
        {[](Setup_struct* s) { s->total_size = 0; }, 0, nullptr, -1, -1,
         "\nDB Error: 'volime=' not given.\n\n"},
        {nullptr, 0, nullptr, 0x400000, 0x500000, "\nError: argument -ab > -al\n"},
        {nullptr, OP_DUMP, nullptr, -1, -1, "\nError: Not defined dump file\n"},
        {nullptr, 0, "nope.bin", -1, -1, "\n\nError: can`t open file: \"nope.bin\"\n"},
        {nullptr, 0, "empty.bin", -1, -1, "\n\nError: \"empty.bin\" file is empty.\n"},
        {[](Setup_struct* s) { s->page_size = 8192, s->has_block_size = 0; }, 0, nullptr, -1, -1,
         "\n\nflash_DB param error: Page or Block or Sector or Total size.\n"},
        {nullptr, OP_WRITE, nullptr, 0, -1, "Error: -w needs a data file"},
        {nullptr, OP_VERIFY, nullptr, 0, -1, "Error: -v needs a data file"},
        {nullptr, OP_SHOWMEM, nullptr, 0x400000, -1, "Error: -ab=0x400000 lies beyond"},
        {nullptr, OP_WRITE, "data.bin", 0x3FF001, -1, "runs past the chip's last address"},
        {nullptr, OP_ERASE, "data.bin", 0x3FFF00, -1, "runs past the chip's last address"},
        {nullptr, OP_WRITE, "data.bin", 0x3FFF00, 0x3FFFFF, ""},  // -al= ends the range
        {[](Setup_struct* s) { s->total_size = 0x2000000; }, OP_WRITE, "data.bin", 0xFFF800, -1,
         "Error: address 0x10007FF lies above 16 MiB"},
        {[](Setup_struct* s) { s->erase_size = 0; }, OP_WRITE, "data.bin", -1, -1,
         "Error: no erase unit"},
        {[](Setup_struct* s) { s->erase_size = 0; }, OP_ERASE, nullptr, 0x1000, -1,
         "Error: no erase unit"},
        {[](Setup_struct* s) { s->erase_size = 0; }, OP_ERASE, nullptr, -1, -1, ""},  // chip
        {[](Setup_struct* s) { s->cmd_erase = 0; }, OP_ERASE, nullptr, -1, 0x10, "range erase"},
    };
    for (const auto& k : cases) {
        edit = k.edit;
        const std::string msg = k.message;
        EXPECT_EQ(msg.empty() ? 1 : -1, Check(k.op, k.file, k.begin, k.last)) << msg << out;
        const size_t at = out.find(msg);
        EXPECT_NE(std::string::npos, at) << out;
        if (msg[0] == '\n' && at != std::string::npos) {
            EXPECT_EQ(out.size(), at + msg.size());
        }
    }
    edit = [](Setup_struct* s) { s->has_page_size = 0; };
    EXPECT_EQ(-1, Check(0, nullptr, -1, -1));
    EXPECT_EQ("\nDB Error: 'page=' not given.\n\n", out);
}

}  // namespace
