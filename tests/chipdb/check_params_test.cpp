#include "chipdb/fake_chip.h"

namespace {

const char kGeometry[] =
    "\nPage size:\t0x100, (256) Bytes\nBlock size:\t0x1000, (4) Kb"
    "\nSector size:\t0x10000, (64) Kb\nBlock  numbers:\t1024 \nSector numbers:\t64 "
    "\nTotal Size:\t4 MB";

class CheckParams : public ChipTest {
  protected:
    void SetUp() override {
        ChipTest::SetUp();
        Write("data.bin", std::string(0x1000, 'x'));
        Write("empty.bin", "");
    }
    // A W25Q32 record as the identification leaves it.
    void Chip() {
        PGM_setup_ini(&setup);
        setup.mnf_id = 0xEF;
        setup.page_size = 256, setup.has_page_size = 1;
        setup.block_size = 4096, setup.has_block_size = 1;
        setup.sector_size = 0x10000, setup.has_sector_size = 1;
        setup.total_size = 0x400000, setup.has_total_size = 1;
        setup.erase_size = 4096, setup.cmd_erase = 0x20;
    }
    void Program(uint8_t op, const char* file) {
        setup.operation = op;
        setup.do_erase = op == OP_ERASE;
        setup.do_write = op == OP_WRITE;
        setup.do_verify = op == OP_VERIFY;
        if (file) setup.file_name = file, setup.has_file_name = 1;
    }
    void Begin(uint32_t a) { setup.addr_begin = a, setup.has_addr_begin = 1; }
    void Last(uint32_t a) { setup.addr_last = a, setup.has_addr_last = 1; }
    int Check() {
        int r = 0;
        out = Output([&] { r = pgm.FLASH_Check_Parameters(); });
        return r;
    }
    std::string out;
};

TEST_F(CheckParams, WorkedExampleAndClamp) {
    Chip();
    Last(0x7FFFFFFF);
    EXPECT_EQ(1, Check());
    EXPECT_EQ(kGeometry, out);
    EXPECT_EQ(0x3FFFFFu, setup.addr_last);
    EXPECT_EQ(nullptr, setup.data_file);

    Chip();
    Program(OP_WRITE, "data.bin");
    Begin(0x3FF000);  // the file ends exactly on the chip's last byte
    EXPECT_EQ(1, Check());
    EXPECT_EQ(0x1000u, setup.file_size);
    EXPECT_NE(nullptr, setup.data_file);
}

// Each documented refusal, its exact message, in the order of the checks.
TEST_F(CheckParams, DocumentedFailures) {
    struct Case {
        const char* what;
        void (*edit)(Setup_struct*);
        const char* tail;  // printed after the geometry lines shown so far
    };
    const Case cases[] = {
        {"no page=", [](Setup_struct* s) { s->has_page_size = 0; },
         "\nDB Error: 'page=' not given.\n\n"},
        {"block=0", [](Setup_struct* s) { s->block_size = 0; },
         "\nDB Error: 'block=' not given.\n\n"},
        {"no sector=", [](Setup_struct* s) { s->has_sector_size = 0; },
         "\nDB Error: 'sector=' not given.\n\n"},
        {"no volime=", [](Setup_struct* s) { s->total_size = 0; },
         "\nDB Error: 'volime=' not given.\n\n"},
        {"-ab > -al",
         [](Setup_struct* s) {
             s->has_addr_begin = s->has_addr_last = 1, s->addr_begin = 0x400000;
             s->addr_last = 0x500000;
         },
         "\nError: argument -ab > -al\n"},
        {"dump without name", [](Setup_struct* s) { s->do_dump = 1; },
         "\nError: Not defined dump file\n"},
        {"missing file", [](Setup_struct* s) { s->file_name = "nope.bin", s->has_file_name = 1; },
         "\n\nError: can`t open file: \"nope.bin\"\n"},
        {"empty file", [](Setup_struct* s) { s->file_name = "empty.bin", s->has_file_name = 1; },
         "\n\nError: \"empty.bin\" file is empty.\n"},
        {"page above block", [](Setup_struct* s) { s->page_size = 8192, s->has_block_size = 0; },
         "\n\nflash_DB param error: Page or Block or Sector or Total size.\n"},
    };
    for (const Case& k : cases) {
        Chip();
        k.edit(&setup);
        EXPECT_EQ(-1, Check()) << k.what;
        EXPECT_EQ(k.tail, out.substr(out.size() - std::min(out.size(), strlen(k.tail)))) << k.what;
    }
    Chip();
    setup.has_block_size = 0;  // no block lines, 4096 still checked
    EXPECT_EQ(1, Check());
    EXPECT_EQ(std::string::npos, out.find("Block"));
}

// Refusals of ranges and setups that would touch bytes nobody named.
TEST_F(CheckParams, UnsafeRequestsRefused) {
    struct Case {
        const char* what;
        uint8_t op;
        const char* file;
        int64_t begin, last;  // -1: not given
        uint8_t mnf_erase;    // erase_size 0 when set
        const char* message;  // "" when the check passes
    };
    const Case cases[] = {
        {"write without file", OP_WRITE, nullptr, 0, -1, 0, "Error: -w needs a data file"},
        {"verify without file", OP_VERIFY, nullptr, 0, -1, 0, "Error: -v needs a data file"},
        {"-ab beyond chip", OP_DUMP, nullptr, 0x400000, -1, 0, "Error: -ab=0x400000 lies"},
        {"file past end", OP_WRITE, "data.bin", 0x3FF001, -1, 0, "runs past the chip's last"},
        {"erase by file past end", OP_ERASE, "data.bin", 0x3FFF00, -1, 0, "runs past"},
        {"-al decides the end", OP_WRITE, "data.bin", 0x3FFF00, 0x3FFFFF, 0, ""},
        {"no unit: write", OP_WRITE, "data.bin", -1, -1, 1, "Error: no erase unit"},
        {"no unit: range erase", OP_ERASE, nullptr, 0x1000, -1, 1, "Error: no erase unit"},
        {"no unit: chip erase", OP_ERASE, nullptr, -1, -1, 1, ""},
        {"no unit: dump", OP_DUMP, nullptr, 0x1000, -1, 1, ""},
    };
    for (const Case& k : cases) {
        Chip();
        Program(k.op, k.file);
        if (k.op == OP_DUMP) setup.do_dump = 1, setup.dump_name = "d.bin";
        if (k.begin >= 0) Begin(static_cast<uint32_t>(k.begin));
        if (k.last >= 0) Last(static_cast<uint32_t>(k.last));
        if (k.mnf_erase) setup.mnf_id = 0xC8, setup.erase_size = 0, setup.cmd_erase = 0;
        EXPECT_EQ(*k.message ? -1 : 1, Check()) << k.what;
        if (*k.message) {
            EXPECT_NE(std::string::npos, out.find(k.message)) << k.what << out;
        }
        EXPECT_EQ(0u, out.find(kGeometry)) << k.what;
    }
}

TEST_F(CheckParams, AddressesAbove16MiBRefused) {
    Chip();
    setup.total_size = 0x2000000;  // a 32 MiB record
    Program(OP_WRITE, "data.bin");
    Begin(0xFFF800);
    EXPECT_EQ(-1, Check());
    EXPECT_NE(std::string::npos, out.find("\nError: address 0x10007FF lies above 16 MiB"));

    Begin(0xFFF000);
    EXPECT_EQ(1, Check());
}

}  // namespace
