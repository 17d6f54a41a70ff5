#include "chipdb/sfdp.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "chipdb/manufacturer.h"
#include "flash/spi_opcodes.h"

namespace {

const uint32_t kHeaderSize = 8;       // signature, revision, header count, access protocol
const uint32_t kParamHeaderSize = 8;  // id, revision, length in DWORDs, pointer
const uint16_t kBasicTableId = 0xFF00;
const uint16_t kSectorMapId = 0xFF81;  // present only on chips with non-uniform sectors
const uint16_t kAddr4TableId = 0xFF84;
const uint32_t kBasicMinDwords = 9;       // JESD216 1.0
const uint64_t kMaxSize = 0x80000000ULL;  // the largest chip a 32-bit size holds
const uint32_t kAddr3Limit = 0x1000000;   // 3-byte addresses reach 16 MiB

struct ParamHeader {
    uint16_t id;  // MSB from byte 7, LSB from byte 0
    uint8_t minor;
    uint8_t major;
    uint32_t dwords;
    uint32_t ptr;
    uint32_t End() const { return ptr + 4 * dwords; }
};

uint32_t Dword(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Has_Signature(const uint8_t* bytes, uint32_t len) {
    return len >= kHeaderSize && memcmp(bytes, "SFDP", 4) == 0;
}

uint32_t Header_Count(const uint8_t* bytes) {
    return bytes[6] + 1u;  // the count is stored less one
}

uint32_t Headers_End(const uint8_t* bytes) {
    return kHeaderSize + kParamHeaderSize * Header_Count(bytes);
}

ParamHeader Param_Header(const uint8_t* bytes, uint32_t i) {
    const uint8_t* h = bytes + kHeaderSize + kParamHeaderSize * i;
    ParamHeader p;
    p.id = static_cast<uint16_t>(h[7] << 8 | h[0]);
    p.minor = h[1];
    p.major = h[2];
    p.dwords = h[3];
    p.ptr = static_cast<uint32_t>(h[4] | h[5] << 8 | h[6] << 16);
    return p;
}

// The basic table of the highest 1.x revision: later revisions only add DWORDs.
bool Find_Basic(const uint8_t* bytes, ParamHeader* basic, ParamHeader* any) {
    bool found = false, seen = false;
    for (uint32_t i = 0; i < Header_Count(bytes); ++i) {
        ParamHeader h = Param_Header(bytes, i);
        if (h.id != kBasicTableId) continue;
        if (!seen) *any = h;
        seen = true;
        if (h.major == 1 && (!found || h.minor > basic->minor)) *basic = h, found = true;
    }
    return found;
}

bool Find_Table(const uint8_t* bytes, uint16_t id, ParamHeader* table) {
    for (uint32_t i = 0; i < Header_Count(bytes); ++i) {
        ParamHeader h = Param_Header(bytes, i);
        if (h.id == id) return *table = h, true;
    }
    return false;
}

int Fail(std::string* why, const char* format, ...) __attribute__((format(printf, 2, 3)));
int Fail(std::string* why, const char* format, ...) {
    char text[200];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *why = text;
    return 0;
}

bool Is_Power_Of_Two(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// Density in bytes from the second DWORD: bits less one, or 2^N bits with bit 31 set.
// 0 when it is no whole, power-of-two number of bytes; above kMaxSize when too large.
uint64_t Density(uint32_t dword, std::string* text) {
    char buf[64];
    uint64_t bits = 0;
    if (dword & 0x80000000u) {
        const uint32_t n = dword & 0x7FFFFFFFu;
        snprintf(buf, sizeof buf, "2^%u bits", n);
        *text = buf;
        if (n > 34) return kMaxSize + 1;
        bits = 1ULL << n;
    } else {
        bits = static_cast<uint64_t>(dword) + 1;
        snprintf(buf, sizeof buf, "%llu bits", static_cast<unsigned long long>(bits));
        *text = buf;
    }
    if (bits % 8 != 0 || !Is_Power_Of_Two(bits)) return 0;
    return bits / 8;
}

}  // namespace

uint32_t Sfdp_Wanted(const uint8_t* bytes, uint32_t len) {
    if (len < kHeaderSize) return kHeaderSize;
    if (!Has_Signature(bytes, len)) return len;
    const uint32_t headers_end = Headers_End(bytes);
    if (len < headers_end) return headers_end;
    uint32_t want = len;
    ParamHeader h, any;
    if (Find_Basic(bytes, &h, &any)) want = std::max(want, h.End());
    if (Find_Table(bytes, kAddr4TableId, &h)) want = std::max(want, h.End());
    return want;
}

int Sfdp_Parse(const uint8_t* bytes, uint32_t len, SfdpGeometry* geo, std::string* why) {
    *geo = SfdpGeometry{};
    if (len < kHeaderSize) return Fail(why, "only %u bytes read, the header has 8", len);
    if (!Has_Signature(bytes, len)) return Fail(why, "no \"SFDP\" signature");
    if (bytes[5] != 1)
        return Fail(why, "SFDP revision %u.%u is not a JESD216 1.x one", bytes[5], bytes[4]);
    if (Headers_End(bytes) > len)
        return Fail(why, "%u parameter headers run past the %u bytes read", Header_Count(bytes),
                    len);

    ParamHeader basic{}, any{};
    if (!Find_Basic(bytes, &basic, &any)) {
        if (any.id != kBasicTableId) return Fail(why, "no basic flash parameter table");
        return Fail(why, "basic flash parameter table revision %u.%u is not a 1.x one", any.major,
                    any.minor);
    }
    if (basic.dwords < kBasicMinDwords)
        return Fail(why, "basic flash parameter table has %u DWORDs, JESD216 gives it %u",
                    basic.dwords, kBasicMinDwords);
    if (basic.End() > len)
        return Fail(why,
                    "basic flash parameter table at 0x%X (%u bytes) runs past the %u bytes read",
                    basic.ptr, 4 * basic.dwords, len);
    const uint8_t* table = bytes + basic.ptr;
    const uint32_t dw1 = Dword(table);
    geo->major = basic.major;
    geo->minor = basic.minor;

    std::string density_text;
    const uint64_t size = Density(Dword(table + 4), &density_text);
    if (size == 0)
        return Fail(why, "density of %s is no power-of-two number of bytes", density_text.c_str());
    if (size > kMaxSize)
        return Fail(why, "density of %s is above the 2 GiB a 32-bit size holds",
                    density_text.c_str());
    geo->total_size = static_cast<uint32_t>(size);

    // Erase types 1 to 4: a size exponent and an opcode each; exponent 0 means absent.
    struct Type {
        int index;
        SfdpErase erase;
    };
    Type types[4];
    int count = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t n = table[28 + 2 * i], opcode = table[29 + 2 * i];
        if (n == 0) continue;
        if (n < 12) return Fail(why, "erase type %d of %u bytes is below 4 KiB", i + 1, 1u << n);
        if (n > 31 || (1ULL << n) > size)
            return Fail(why, "erase type %d of 2^%u bytes is larger than the chip", i + 1, n);
        if (opcode == 0x00 || opcode == 0xFF)
            return Fail(why, "erase type %d has no opcode (0x%02X)", i + 1, opcode);
        types[count++] = {i, {1u << n, opcode}};
    }
    if (count == 0) return Fail(why, "no erase types");
    std::stable_sort(types, types + count,
                     [](const Type& a, const Type& b) { return a.erase.size < b.erase.size; });

    ParamHeader map;
    if (Find_Table(bytes, kSectorMapId, &map)) {
        // Non-uniform sectors: only an erase that works the same everywhere will do.
        const uint8_t opcode = static_cast<uint8_t>(dw1 >> 8);
        int keep = -1;
        for (int i = 0; i < count; ++i) {
            if (types[i].erase.size == 0x1000 && types[i].erase.opcode == opcode) keep = i;
        }
        if ((dw1 & 3) != 1 || keep < 0)
            return Fail(why, "non-uniform sectors and no 4 KiB erase valid over the whole chip");
        types[0] = types[keep];
        count = 1;
    }

    // Page size from the 11th DWORD where the table has it. Without it the first DWORD only
    // says "64 bytes or more" (or byte by byte): a larger page would wrap on a smaller one.
    uint32_t page = (dw1 & 0x04) ? 64 : 1;
    geo->page_known = basic.dwords >= 11;
    if (geo->page_known) page = 1u << ((Dword(table + 40) >> 4) & 0x0F);
    if (page > types[0].erase.size)
        return Fail(why, "page of %u bytes is larger than the smallest erase of %u bytes", page,
                    types[0].erase.size);
    geo->page_size = static_cast<uint16_t>(page);

    // Addresses: DWORD 1 bits 18:17 say 3-byte only, 3 or 4, or 4-byte only.
    const uint32_t addr_bytes = (dw1 >> 17) & 3;
    if (addr_bytes == 3) return Fail(why, "address bytes field holds the reserved value 3");
    uint32_t erase4_types = 0x0F;  // erase types with a 4-byte opcode
    ParamHeader addr4_table;
    bool addr4_listed = false;
    if (size > kAddr3Limit || addr_bytes == 2) {
        if (Find_Table(bytes, kAddr4TableId, &addr4_table)) {
            if (addr4_table.dwords < 2)
                return Fail(why, "4-byte address table has %u DWORDs, it needs 2",
                            addr4_table.dwords);
            if (addr4_table.End() > len)
                return Fail(why, "4-byte address table at 0x%X runs past the %u bytes read",
                            addr4_table.ptr, len);
            const uint32_t support = Dword(bytes + addr4_table.ptr);
            if ((support & 0x01) && (support & 0x40)) {  // read 0x13 and page program 0x12
                geo->addr4 = "opcodes";
                erase4_types = (support >> 9) & 0x0F;
                addr4_listed = true;
            }
        }
        if (!geo->addr4 && basic.dwords >= 16) {
            const uint32_t enter = Dword(table + 60) >> 24;
            geo->addr4 = (enter & 0x20)   ? "opcodes"
                         : (enter & 0x01) ? "en4b"
                         : (enter & 0x02) ? "wren_en4b"
                                          : nullptr;
        }
        // Never guess: a part without the opcode or mode guessed ignores every command.
        if (!geo->addr4 && (addr_bytes == 0 || basic.dwords >= 16))
            return Fail(why,
                        "%u MiB needs 4-byte addresses and the table names no way to send them",
                        geo->total_size >> 20);
        if (!geo->addr4)
            return Fail(why,
                        "%u MiB needs 4-byte addresses and a table of %u DWORDs does not say how "
                        "the part takes them: add a flash_db.cfg record with addr4= from its "
                        "datasheet",
                        geo->total_size >> 20, basic.dwords);
    }

    // The erase unit: the largest type whose opcode is the one the tool sends for its size
    // (and, with 4-byte opcodes, that has the 4-byte twin the tool sends instead). The list
    // names the 4-byte opcodes after the 3-byte ones.
    const bool opcodes4 = geo->addr4 && !strcmp(geo->addr4, "opcodes");
    int listed4 = 0;
    for (int i = 0; i < count; ++i) {
        const SfdpErase& e = types[i].erase;
        geo->erase[i] = e;
        uint8_t op4 = Four_Byte_Opcode(e.opcode);
        if (opcodes4) {
            if (!((erase4_types >> types[i].index) & 1)) op4 = 0;
            if (addr4_listed && op4 != 0) op4 = bytes[addr4_table.ptr + 4 + types[i].index];
            if (op4 != 0 && op4 != 0xFF) geo->erase[count + listed4++] = {e.size, op4};
        }
        if (Erase_Opcode(e.size) != e.opcode) continue;
        if (opcodes4 && (op4 == 0 || op4 != Four_Byte_Opcode(e.opcode))) continue;
        geo->unit_size = e.size;
    }
    geo->erase_count = count + listed4;
    // A chip erases one size per opcode; a table that gives one opcode two sizes is garbled.
    for (int i = 0; i < geo->erase_count; ++i) {
        for (int j = i + 1; j < geo->erase_count; ++j) {
            const SfdpErase &a = geo->erase[i], &b = geo->erase[j];
            if (a.opcode == b.opcode && a.size != b.size)
                return Fail(why, "opcode 0x%02X is given for erases of %u and %u bytes", a.opcode,
                            a.size, b.size);
        }
    }
    if (geo->unit_size == 0)
        return Fail(why, "no erase type has the opcode the tool sends for its size");
    return 1;
}

std::string Sfdp_Record(const SfdpGeometry& geo, uint8_t mnf_id, uint16_t jedec_id,
                        uint16_t ext_id) {
    char text[256];
    // extid=0 also matches chips that send 0xFF after the id
    char ext[16] = "0";
    if (ext_id != 0 && ext_id != 0x00FF) snprintf(ext, sizeof ext, "0x%04X", ext_id);
    std::string erase;
    for (int i = 0; i < geo.erase_count; ++i) {
        char item[24];
        snprintf(item, sizeof item, "%s0x%02X:%uK", i ? "," : "", geo.erase[i].opcode,
                 geo.erase[i].size >> 10);
        erase += item;
    }
    snprintf(text, sizeof text,
             "name=SFDP-%02X%04X mnfid=0x%02X jedec=0x%04X extid=%s page=%u block=0x%X "
             "sector=0x%X volime=0x%X erase=",
             mnf_id, jedec_id, mnf_id, jedec_id, ext, geo.page_size, geo.unit_size, geo.unit_size,
             geo.total_size);
    std::string record = text + erase + " unit=sector";
    if (geo.addr4) record += std::string(" addr4=") + geo.addr4;
    return record;
}
