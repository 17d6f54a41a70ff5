// SFDP parser: the input is what a chip answers to 0x5A from address 0. An accepted table
// must describe a chip the tool can drive, and its record must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chipdb/manufacturer.h"
#include "chipdb/sfdp.h"
#include "run/tamrel.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool Power_Of_Two(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

void Check_Geometry(const SfdpGeometry& g) {
    Check(Power_Of_Two(g.total_size) && g.total_size <= 0x80000000u);
    Check(g.erase_count >= 1 && g.erase_count <= 8);
    const bool opcodes4 = g.addr4 && !strcmp(g.addr4, "opcodes");
    uint8_t unit_opcode = 0;
    for (int i = 0; i < g.erase_count; ++i) {
        const SfdpErase& e = g.erase[i];
        Check(Power_Of_Two(e.size) && e.size >= 0x1000 && e.size <= g.total_size);
        Check(e.opcode != 0x00 && e.opcode != 0xFF);
        if (e.size == g.unit_size && e.opcode == Erase_Opcode(e.size)) unit_opcode = e.opcode;
    }
    Check(unit_opcode != 0);
    // With 4-byte opcodes the unit's 4-byte erase is listed too.
    bool unit4_listed = !opcodes4;
    for (int i = 0; i < g.erase_count; ++i) {
        if (g.erase[i].size == g.unit_size && g.erase[i].opcode != unit_opcode) unit4_listed = true;
    }
    Check(unit4_listed);
    uint32_t smallest = g.erase[0].size;
    for (int i = 1; i < g.erase_count; ++i)
        smallest = g.erase[i].size < smallest ? g.erase[i].size : smallest;
    Check(Power_Of_Two(g.page_size) && g.page_size <= smallest);
    if (g.total_size > 0x1000000u) Check(g.addr4 != nullptr);
    if (g.addr4)
        Check(!strcmp(g.addr4, "opcodes") || !strcmp(g.addr4, "en4b") ||
              !strcmp(g.addr4, "wren_en4b"));
}

// The printed record, taken by the database parser, gives the same geometry, and the
// record checks and the erase setup take it: a range erase has its unit and command.
void Check_Record(const SfdpGeometry& g) {
    const std::string line = "\n" + Sfdp_Record(g, 0xC8, 0x4099, 0x0000) + "\n";
    Setup_struct setup;
    PGM_setup_ini(&setup);
    CTAMREL pgm(&setup);
    Check(DB_Parser(line.c_str(), &pgm) == 1);
    Check(setup.device_name == "SFDP-C84099" && setup.mnf_id == 0xC8);
    Check(setup.page_size == g.page_size && setup.block_size == g.unit_size &&
          setup.sector_size == g.unit_size && setup.total_size == g.total_size);
    CManufacturer(&setup).configure_chip_setup();
    setup.operation = OP_ERASE;
    setup.do_erase = 1;
    setup.has_addr_begin = 1;
    Check(pgm.FLASH_Check_Parameters() == 1);
    Check(setup.erase_size == g.unit_size && setup.cmd_erase == Erase_Opcode(g.unit_size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x2000) return 0;
    const uint32_t len = static_cast<uint32_t>(size);

    // Read as the tool reads: each step asks for more, never for less than it has.
    std::vector<uint8_t> read;
    for (int steps = 0;; ++steps) {
        const uint32_t have = static_cast<uint32_t>(read.size());
        const uint32_t want = Sfdp_Wanted(read.data(), have);
        Check(want >= have && steps <= 3);
        if (want == have || want > 0x1000) break;
        while (read.size() < want) read.push_back(read.size() < size ? data[read.size()] : 0xFF);
    }

    SfdpGeometry geo;
    std::string why;
    const int r = Sfdp_Parse(data, len, &geo, &why);
    Check(r == 1 || r == 0);
    if (r == 1) {
        Check(why.empty());
        Check_Geometry(geo);
        Check_Record(geo);
    } else {
        Check(!why.empty() && why.find('\n') == std::string::npos);
    }
    return 0;
}
