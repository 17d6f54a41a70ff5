// The chip database against a scripted chip: record scan, lookup by name, record values, erase
// setup per maker, the parameter check, and the repository's own flash_db.cfg.
#include <cstring>
#include <sstream>

#include "chipdb/alternatives.h"
#include "chipdb/fake_chip.h"
#include "run/cmdline.h"

namespace {

class ChipDb : public ChipTest {
protected:
    int Run(const std::string& db) {  // db "": no flash_db.cfg
        db.empty() ? void(std::remove("flash_db.cfg")) : Write("flash_db.cfg", db);
        int r = 0;
        return out = Output([&] { r = pgm.FLASH_Identify(); }), r;
    }
    std::string out;
};

// Which record the scan settles on for a chip answering EF 40 99 (in no shipped record) and
// `ext` and what it prints; the adapter ends off. The plain match is left to the whole runs.
TEST_F(ChipDb, RecordScanRules) {
    const std::string a = "name=A mnfid=0xEF jedec=0x4099 extid=0x1234 volime=1\n";
    const std::string b = "name=B mnfid=0xEF jedec=0x4099 extid=0 volime=1\n";
    const std::string c = "name=C mnfid=0xEF jedec=0x4099 volime=1\n";
    const std::string d = "name=D mnfid=0xEF jedec=0x4099 extid=any volime=1\n";
    const std::string e = "name=E mnfid=0xEF jedec=0x4099 extid=0x1234 volime=2\n";
    // Ids wider than their field whose low bits are the chip's: found, and refused.
    const std::string wide = "name=W mnfid=0x1000000EF jedec=0x4099 volime=1\n";
    const std::string wide_jedec = "name=W mnfid=0xEF jedec=0x100004099 volime=1\n";
    const std::tuple<std::string, uint16_t, std::string, const char*> cases[] = {
        {b, 0, "", "- \tIs not added to DB\nError: no usable SFDP"},  // first line: no record
        {"\n" + b, 0x00FF, "B", "- OK\n"},
        {"\n" + b, 0x0100, "", "\tIs not"},
        {"\n" + a + b, 0, "B", "- OK\n"},  // a record right below another is found
        {"\n" + c + "\n" + a, 0x1234, "C", "- OK, Warning: 'extid=' not defined!\n"},
        {"\n" + a + "\n" + d, 0xEF40, "D", "- OK\n"},  // any: no warning, whatever follows
        {"", 0, "", "- \nError: Can`t open file: flash_db.cfg\n"},
        {"\n" + wide, 0, "W!", "\nError: flash_db.cfg record W: mnfid=0x1000000EF does not fit"},
        {"\n" + wide_jedec, 0, "W!", "record W: jedec=0x100004099 does not fit its field"},
        // Records in a row that the chip answers stand for parts sharing the id; no SFDP
        // tables tell them apart here.
        {"\n" + a + "\n" + e + "\n" + b, 0x1234, "A",
         "Warning: the chip answers the id of A, E, and its SFDP tables do not tell which"},
    };
    for (const auto& [db, ext, name, printed] : cases) {
        setup = Setup_struct{}, chip.id[2] = 0x99, chip.id[3] = ext >> 8, chip.id[4] = ext & 0xFF;
        const bool refused = name.back() == '!';
        EXPECT_EQ(name.empty() || refused ? -1 : 1, Run(db)) << db;
        EXPECT_EQ(refused ? name.substr(0, name.size() - 1) : name, setup.device_name);
        EXPECT_NE(std::string::npos, out.find(printed)) << out;
        EXPECT_EQ(0, pgm.adapter_active);
    }
}

// The first record whose name begins with the text; only when none does, the first that
// begins with it regardless of case.
TEST_F(ChipDb, ByNameIsPrefixMatchWithoutTouchingTheChip) {
    const std::string db =
        "#\nname=mx25l64 mnfid=0x01 volime=1\nname=W25Q32BV mnfid=0xEF "
        "volime=0x400000\n\nname=W25Q32 mnfid=0xC2 volime=1\n"
        "name=MX25L64 mnfid=0xC8 volime=1\n";
    const std::pair<const char*, int> cases[] = {
        {"W25Q3", 0xEF}, {"W25Q32 ", 0xC2}, {"w25q32", 0xEF}, {"w25Q32 ", 0xC2},
        {"MX25L", 0xC8}, {"Mx25L", 0x01},   {"W25Q32X", 0},
    };
    for (const auto& [name, mnf_id] : cases) {
        setup = Setup_struct{}, setup.has_device_name = 1, setup.device_name = name;
        EXPECT_EQ(mnf_id ? 1 : -1, Run(db)) << name;
        EXPECT_EQ(mnf_id, setup.mnf_id) << name;
    }
    EXPECT_TRUE(chip.frames.empty());
}

// Absent keys take their defaults (block= and sector= without their flags); a number too wide
// for its field, or a word that is not one of its key's, refuses the record, naming record
// and key, instead of describing another chip.
TEST_F(ChipDb, ParserValueRules) {
    const std::string base = "\nname=X mnfid=0xEF page=0x100 volime=0x1000000 ";
    Output([&] { DB_Parser((base + "\n").c_str(), &pgm); });
    EXPECT_EQ(std::make_tuple(0xEF, 0x100, 1, 4096u, 0x10000u, 0, 0, 0xC7, ADDR4_NO, UNLOCK_WRSR),
              std::make_tuple(setup.mnf_id, setup.page_size, setup.freq, setup.block_size,
                              setup.sector_size, setup.has_block_size, setup.has_sector_size,
                              setup.cmd_chip_erase, setup.addr4_mode, setup.unlock_mode));
    EXPECT_EQ(std::make_tuple(0x1C, POLL_STATUS, 0, 0, 0),
              std::make_tuple(setup.record.protect_mask, setup.record.poll, setup.record.die_erase,
                              setup.record.ads_opcode, setup.record.ear_opcode));
    Output([&] {
        DB_Parser((base + "volime=0x1000001 chipers=0 unlock=ulbpr unit=sector bp=0x3C poll=fsr "
                          "diers=0xC4:8M ads=0x70:1 ear=0xC5\n")
                      .c_str(),
                  &pgm);
    });
    EXPECT_EQ(std::make_tuple(0, ADDR4_OPCODES, UNLOCK_ULBPR, UNIT_SECTOR),
              std::make_tuple(setup.cmd_chip_erase, setup.addr4_mode, setup.unlock_mode,
                              setup.unit_choice));
    const ChipRecord& rec = setup.record;
    EXPECT_EQ(std::make_tuple(0x3C, POLL_FSR, 0xC4, 0x800000u, 0x70, 1, 0xC5),
              std::make_tuple(rec.protect_mask, rec.poll, rec.die_erase, rec.die_size,
                              rec.ads_opcode, rec.ads_mask, rec.ear_opcode));
    Output([&] { DB_Parser("\nname=Y mnfid=0x20 volime=0x100 diers=0xC4:128\n", &pgm); });
    EXPECT_EQ(std::make_tuple(0x5C, 0), std::make_tuple(rec.protect_mask, setup.cmd_chip_erase));

    const std::pair<const char*, const char*> refused[] = {
        {"mnfid=0x1EF", "mnfid=0x1EF does not fit its field (0 to 0xFF)"},
        {"page=0x10100", "page=0x10100 does not fit its field (0 to 0xFFFF)"},
        {"page=-1", "page=-1 does not fit its field (0 to 0xFFFF)"},
        {"freq=0x10003", "freq=0x10003 does not fit its field (0 to 0xFFFF)"},
        {"jedec=0x14017", "jedec=0x14017 does not fit its field (0 to 0xFFFF)"},
        {"extid=65536", "extid=65536 does not fit its field (0 to 0xFFFF)"},
        {"chipers=0x1C7", "chipers=0x1C7 does not fit its field (0 to 0xFF)"},
        {"volime=0x100000000", "volime=0x100000000 does not fit its field (0 to 0xFFFFFFFF)"},
        {"sector=99999999999999999999",
         "sector=99999999999999999999 does not fit its field (0 to 0xFFFFFFFF)"},
        {"addr4=yes", "addr4=yes is not one of no|opcodes|en4b|wren_en4b"},
        {"unlock=0x98", "unlock=0x98 is not one of wrsr|ulbpr"},
        {"unit=page", "unit=page is not one of block|sector"},
        {"poll=status", "poll=status is not one of fsr"},
        // Numbers are read to their end.
        {"page=256K", "page=256K is not a whole number (decimal, 0x hex or 0 octal)"},
        {"mnfid=0xEFzz", "mnfid=0xEFzz is not a whole number (decimal, 0x hex or 0 octal)"},
        {"mnfid=0x1000000EF", "mnfid=0x1000000EF does not fit its field (0 to 0xFF)"},
        {"page=0x10000000000000100",
         "page=0x10000000000000100 does not fit its field (0 to 0xFFFF)"},
        {"erase=0x20:1KM",
         "erase=0x20:1KM: size 1KM is not a whole number of bytes with at most one K or M after "
         "it"},
        {"erase=0x20:4K,0xD8:0x40000000000004K",
         "erase=0x20:4K,0xD8:0x40000000000004K: size 0x40000000000004K does not fit 1 to "
         "0xFFFFFFFF bytes"},
        {"erase=0x20:4K,", "erase=0x20:4K, is not a list of opcode:size items"},
        {"erase=0x120:4K", "erase=0x120:4K is not a list of opcode:size items"},
        {"bp=0x9C",
         "bp=0x9C names bit 0, 1 or 7 (busy, write enable, status register protect), which "
         "protect no part of the array"},
        {"diers=0xC4", "diers=0xC4 is not OP:SIZE (e.g. diers=0xC4:32M)"},
        {"diers=0xC4:32MB", "diers=0xC4:32MB is not OP:SIZE (e.g. diers=0xC4:32M)"},
        {"chipers=0xC7 diers=0xC4:8M", "diers= is for a part without chip erase, yet chipers=0xC7"},
        {"ads=0x15:0x100", "ads=0x15:0x100 is not OP:MASK (e.g. ads=0x15:0x01)"},
        {"ear=0x1C5", "ear=0x1C5 does not fit its field (0 to 0xFF)"},
    };
    for (const auto& [key, msg] : refused) {
        int r = 0;
        out = Output([&] { r = DB_Parser((base + key + "\n").c_str(), &pgm); });
        EXPECT_EQ(-1, r) << key;
        EXPECT_EQ(std::string("\nDevice name:\t\"X\"\nError: flash_db.cfg record X: ") + msg + "\n",
                  out);
    }
}

// The command setup line shows the opcodes that go on the wire: the erase command that
// erases exactly the unit (none: 0x0), 4-byte twins above 16 MiB, the record's chip erase.
TEST_F(ChipDb, CommandSetupFollowsTheRecord) {
    const std::pair<const char*, const char*> cases[] = {
        {"block=4096", "Ers:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"block=8192", "Ers:0x40 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"block=0x4000", "Ers:0x0 Rd:0x3 Wr:0x2 ChipErs:0xC7"},  // no command erases 16 KiB
        {"block=0x8000", "Ers:0x52 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"block=0x10000", "Ers:0xD8 Rd:0x3 Wr:0x2 ChipErs:0xC7"},  // sector=: what 0xD8 erases
        {"block=0x20000", "Ers:0x0 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"volime=0x2000000", "Ers:0x21 Rd:0x13 Wr:0x12 ChipErs:0xC7"},
        {"block=0x10000 volime=0x2000000", "Ers:0xDC Rd:0x13 Wr:0x12 ChipErs:0xC7"},
        {"volime=0x2000000 addr4=wren_en4b", "Ers:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"mnfid=0xC8 unit=sector chipers=0", "Ers:0xD8 Rd:0x3 Wr:0x2 ChipErs: not used"},
        {"mnfid=0xC8 chipers=0x60", "Ers:0x0 Rd:0x3 Wr:0x2 ChipErs:0x60"},
        {"mnfid=0x01 unit=block", "Ers:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        // No unit by maker or unit=: the smallest size of erase= its opcode erases exactly.
        {"mnfid=0xC8 erase=0xD8:64K,0x20:4K", "Ers:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"mnfid=0xC8 erase=0x20:4K|64K,0x52:32K,0xD8:64K", "Ers:0x52 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"mnfid=0xC8 erase=0x20:4K,0xDC:64K volime=0x2000000 sector=0x40000",
         "Ers:0x21 Rd:0x13 Wr:0x12 ChipErs:0xC7"},
        {"mnfid=0xC8 erase=0x81:256,0xD8:32K", "Ers:0x0 Rd:0x3 Wr:0x2 ChipErs:0xC7"},
        {"mnfid=0x20 diers=0xC4:2M", "Ers:0xD8 Rd:0x3 Wr:0x2 ChipErs:0xC4 per die"},
        // Die erase has no 4-byte opcode: such a chip is erased unit by unit.
        {"volime=0x2000000 diers=0xC4:16M", "Ers:0x21 Rd:0x13 Wr:0x12 ChipErs: not used"},
        {"volime=0x2000000 addr4=en4b diers=0xC4:16M",
         "Ers:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC4 per die"},
    };
    for (const auto& [extra, line] : cases) {
        setup = Setup_struct{}, setup.has_device_name = 1, setup.device_name = "C";
        Run(std::string(
                "#\nname=C mnfid=0xEF page=256 block=4096 sector=0x10000 volime=0x400000 ") +
            extra + "\n");
        EXPECT_EQ(std::string("\nCMD Setup:\t") + line, out.substr(out.rfind('\n'))) << extra;
    }
}

// Every refusal and the passes next to them, for a chip named by a W25Q32 record (4 MiB, 4 KiB
// erase unit) with `extra` keys appended (the last key wins) and the rest of the command line.
// A message starting with "\n" must end the output; "" means the request passes.
TEST_F(ChipDb, ParameterRefusalsAndPasses) {
    Write("data.bin", std::string(0x1000, 'x')), Write("empty.bin", "");
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {" page=z", "-i", "\nDB Error: 'page=' not given.\n\n"},
        {" block=0", "-i", "\nDB Error: 'block=' not given.\n\n"},
        {" sector=z", "-i", "\nDB Error: 'sector=' not given.\n\n"},
        {" volime=0", "-i", "\nDB Error: 'volime=' not given.\n\n"},
        {"", "-s -ab=0x400000 -al=0x500000", "\nError: argument -ab > -al\n"},
        {"", "-d", "\nError: Not defined dump file\n"},
        {"", "-v nope.bin", "\n\nError: can`t open file: \"nope.bin\"\n"},
        {"", "-w empty.bin", "\n\nError: \"empty.bin\" file is empty.\n"},
        {" page=8192", "-i", "\n\nflash_DB param error: Page or Block or Sector or Total size.\n"},
        {"", "-w -ab=0", "Error: -w needs a data file"},
        {"", "-v -ab=0", "Error: -v needs a data file"},
        {"", "-s -ab=0x400000", "Error: -ab=0x400000 lies beyond"},
        {"", "-w data.bin -ab=0x3FF000", ""},  // ends on the last byte
        {"", "-w data.bin -ab=0x3FF001", "runs past the chip's last address"},
        {"", "-e data.bin -ab=0x3FFF00", "runs past the chip's last address"},
        {"", "-w data.bin -ab=0x3FFF00 -al=0x3FFFFF", ""},  // -al= ends the range
        // 3-byte addresses stop at 16 MiB; 4-byte ones reach the chip's last byte.
        {" volime=0x2000000 addr4=no", "-w data.bin -ab=0xFFF800", "0x10007FF lies above 16 MiB"},
        {" volime=0x2000000 addr4=no", "-d d.bin -ab=0xFFF000", "0x1FFFFFF lies above 16 MiB"},
        {" volime=0x2000000 addr4=no chipers=0", "-e", "0x1FFFFFF lies above 16 MiB"},
        {" volime=0x2000000", "-w data.bin -ab=0x1FFF000", ""},
        {" volime=0x2000000 addr4=en4b", "-d d.bin -ab=0xFFF000", ""},
        {" mnfid=0xC8", "-w data.bin", "Error: no erase unit"},  // a maker without unit rule
        {" mnfid=0xC8", "-v data.bin", "Error: no erase unit"},
        {" mnfid=0xC8", "-e -ab=0x1000", "Error: no erase unit"},
        {" mnfid=0xC8", "-e", ""},  // chip erase
        {" mnfid=0xC8 chipers=0", "-e", "and no erase unit is known for manufacturer id 0xC8"},
        {" mnfid=0xC8 unit=sector chipers=0", "-e", ""},  // unit by unit
        {" mnfid=0xC8 unit=block", "-w data.bin", ""},
        {" mnfid=0xC8 block=2048", "-i", ""},  // no unit: the block size erases nothing
        {" mnfid=0xC8 erase=0x20:4K", "-w data.bin", ""},
        {" mnfid=0xC8", "-v data.bin",
         "refused (chip erase -e, -d, -s, -i and -u still work); add the chip's erase commands "
         "to its flash_db.cfg record (e.g. erase=0x20:4K,0xD8:64K), or unit=block or "
         "unit=sector\n"},
        {" mnfid=0xC8 erase=0x20:8K", "-w data.bin", "Error: no erase unit"},
        {" chipers=0 diers=0xC4:3M", "-i", "diers= die of 0x300000 bytes is no power of two up to"},
        {" diers=0xC4:8M", "-e", "die of 0x800000 bytes is no power of two up to volime=0x400000"},
        {" diers=0xC4:2M", "-e", ""},
        {" volime=0x2000000 addr4=no diers=0xC4:8M", "-e", "0x1FFFFFF lies above 16 MiB"},
        // Geometry the operations cannot honour refuses every run, naming record and key.
        {" page=300", "-i",
         "\nError: flash_db.cfg record W25Q32: page=300 is not a power of two\n"},
        {" mnfid=0xC2 sector=0x50000 volime=0x500000", "-e -ab=0x1000",
         "\nError: flash_db.cfg record W25Q32: sector=0x50000 is not a power of two\n"},
        {" block=2048", "-i", "record W25Q32: block=0x800: no erase command erases exactly"},
        {" block=5000", "-i", "record W25Q32: block=0x1388: no erase command erases exactly"},
        {" block=0x1800", "-i", "block=0x1800: no erase command erases exactly that size"},
        {" block=0x3000", "-i", "block=0x3000: no erase command erases exactly that size"},
        {" block=0x4000", "-i", "block=0x4000: no erase command erases exactly that size"},
        {" block=0x20000", "-i", "block=0x20000: no erase command erases exactly that size"},
        {" block=0x10000 sector=0x20000", "-i", "block=0x10000: no erase command erases exactly"},
        {" block=8192", "-i", "erase= lists no 0x40 erasing 0x2000 bytes, the block= unit\n"},
        {" block=8192 erase=0x40:8K", "-i", ""},
        {" block=0x8000", "-i", ""},
        {" block=0x10000 erase=0xD8:64K", "-i", ""},
        {" block=0x20000 sector=0x20000 erase=0xD8:64K", "-i",
         "erase= lists no 0xD8 erasing 0x20000 bytes, the block= unit\n"},
        {" erase=0x20:4K|64K", "-i", "erase= lists no 0x20 erasing 0x1000 bytes"},
        {" erase=0xD8:64K", "-i", "erase= lists no 0x20 erasing 0x1000 bytes"},
        {" erase=0x20:4K,", "-i", "record W25Q32: erase=0x20:4K, is not a list of opcode:size"},
        {" mnfid=0xC2 erase=0xD8:64K|256K", "-i", "erase= lists no 0xD8 erasing 0x10000 bytes"},
        {" mnfid=0xC2 sector=0x40000 erase=0xD8:64K|256K", "-i", ""},  // the largest counts
        {" mnfid=0xC2 erase=0xD8:64K,0x20:4K,0xD8:256K", "-i", "lists no 0xD8 erasing 0x10000"},
        {" volime=0x3FF000", "-i", "volime=0x3FF000 is not a whole number of sector=0x10000"},
        {" block=0x8000 volime=0x3FC000 sector=0x4000 mnfid=0xC8", "-i",
         "volime=0x3FC000 is not a whole number of block=0x8000 units\n"},
        {" volime=0x2000000 erase=0x20:4K", "-i", "erase= lists no 0x21 erasing 0x1000 bytes"},
        {" volime=0x2000000 block=8192 erase=0x40:8K", "-i",
         "addr4=opcodes: the block= unit's erase command 0x40 has no 4-byte form\n"},
        {" volime=0x2000000 addr4=en4b block=8192 erase=0x40:8K", "-i", ""},
        {"", "-i -al=0x7FFFFFFF", ""},  // -al= past the end: clamped, see below
    };
    for (const auto& [extra, line, msg] : cases) {
        setup = Setup_struct{};
        std::ofstream("flash_db.cfg") << "#\nname=W25Q32 mnfid=0xEF page=256 block=4096 "
                                      << "sector=0x10000 volime=0x400000" << extra << "\n";
        std::string cmd = std::string("tamrel -n=W25Q32 ") + line;
        std::vector<char*> argv;
        for (char* w = strtok(cmd.data(), " "); w; w = strtok(nullptr, " ")) argv.push_back(w);
        CCMDP(&pgm).Parse(static_cast<int>(argv.size()), argv.data());
        int r = 0;
        out = Output([&] { pgm.FLASH_Identify(), r = pgm.FLASH_Check_Parameters(); });
        EXPECT_EQ(msg.empty() ? 1 : -1, r) << line << out;
        const size_t from = msg[0] == '\n' ? out.size() - std::min(out.size(), msg.size()) : 0;
        EXPECT_NE(std::string::npos, out.find(msg, from)) << line << out;
        if (setup.data_file) fclose(setup.data_file), setup.data_file = nullptr;
    }
    EXPECT_EQ(0x3FFFFFu, setup.addr_last);
}

// Of records that share an id, the chip's SFDP tables confirm those of their density, then of
// their page size where the table gives one, then of every erase size the table gives.
TEST_F(ChipDb, SfdpTablesTellSharedIdsApart) {
    std::vector<ChipRecord> records;
    for (const char* line : {"\nname=A mnfid=1 volime=0x400000 page=256 erase=0x20:4K,0xD8:64K\n",
                             "\nname=B mnfid=1 volime=0x800000 page=256 erase=0x20:4K,0xD8:64K\n",
                             "\nname=C mnfid=1 volime=0x800000 page=512 erase=0x20:4K,0xD8:64K\n",
                             "\nname=D mnfid=1 volime=0x800000 page=256 erase=0xD8:256K\n",
                             "\nname=E mnfid=1 volime=0x800000 page=256 erase=0xD8:64K|256K\n"}) {
        records.emplace_back();
        std::string why;
        ASSERT_EQ(1, Parse_Chip_Record(&pgm, line, &records.back(), &why)) << why;
    }
    const SfdpErase k4 = {0x1000, 0x20}, k64 = {0x10000, 0xD8}, k256 = {0x40000, 0xD8};
    const std::tuple<uint32_t, uint16_t, bool, std::vector<SfdpErase>, std::vector<int>> cases[] = {
        {0x400000, 256, true, {k4, k64}, {0}},
        {0x800000, 256, true, {k4, k64}, {1, 4}},  // E: some part erases 64 KiB
        {0x800000, 512, true, {k4, k64}, {2}},
        {0x800000, 256, true, {k256}, {3, 4}},
        {0x800000, 64, false, {k64}, {1, 2, 4}},  // a JESD216 1.0 table gives no page size
        {0x1000000, 256, true, {k4, k64}, {}},
    };
    for (const auto& [size, page, known, erase, left] : cases) {
        SfdpGeometry geo{};
        geo.total_size = size, geo.page_size = page, geo.page_known = known;
        for (const SfdpErase& e : erase) geo.erase[geo.erase_count++] = e;
        EXPECT_EQ(left, Sfdp_Confirms(records, geo)) << size << " " << page;
    }
    // A whole-chip erase is right for every part only when all erase the chip alike.
    records[4].chip_erase = 0x60;
    EXPECT_TRUE(Erase_Whole_Alike({records[1], records[2]}));
    EXPECT_FALSE(Erase_Whole_Alike({records[1], records[4]}));
    EXPECT_FALSE(Erase_Whole_Alike({records[0], records[1]}));  // sizes differ
}

// The repository's flash_db.cfg: every record is met by the id scan, and -n= or emulate=
// with a record's whole name takes that record. (Every record identified, programmed and
// dumped: tests/e2e/every_record_test.cpp.)
TEST_F(ChipDb, RepoFlashDbRecordsAreScannedAndNamedApart) {
    std::ifstream in(TAMREL_SOURCE_DIR "/flash_db.cfg", std::ios::binary);
    std::vector<std::string> names;
    bool after_record = true;  // the first line is never a record
    for (std::string line; std::getline(in, line); after_record = line.rfind("name=", 0) == 0) {
        if (line.rfind("name=", 0) != 0) continue;
        SCOPED_TRACE(line);
        EXPECT_FALSE(after_record) << "the scan skips this record";
        const std::string name = line.substr(5, line.find_first_of(" \t\r") - 5);
        for (const std::string& earlier : names) EXPECT_NE(0u, earlier.rfind(name, 0)) << earlier;
        names.push_back(name);
    }
    EXPECT_GT(names.size(), 300u);
}

}  // namespace
