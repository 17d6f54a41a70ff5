// SFDP tables of real parts, broken and edited variants of them, and the tables the emulated
// chips answer: the record each gives, or the reason it is refused.
#include "chipdb/sfdp.h"

#include <gtest/gtest.h>

#include <functional>

#include "emulator/sfdp_table.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Hex bytes; blanks are ignored and "ff*24" stands for 24 bytes of 0xFF.
Bytes Hex(const std::string& text) {
    Bytes b;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const uint8_t v = static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16));
        i += 2;
        size_t n = 1;
        if (i < text.size() && text[i] == '*') {
            size_t used = 0;
            n = std::stoul(text.substr(i + 1), &used);
            i += 1 + used;
        }
        b.insert(b.end(), n, v);
    }
    return b;
}

// SFDP areas of real parts up to the end of the last table the parser reads (datasheet and
// device facts). N25Q256A and MX25L25635F carry JESD216 1.0 tables of nine DWORDs, which do
// not say how a part above 16 MiB takes 4-byte addresses.
struct RealPart {
    const char* name;
    uint8_t mnf;
    uint16_t jedec;
    Bytes sfdp;
    const char* record_tail;  // the record after "name=SFDP-... extid=0 ", or the refusal
};

const char kNoWay10[] =
    "32 MiB needs 4-byte addresses and a table of 9 DWORDs does not say how the part takes "
    "them: add a flash_db.cfg record with addr4= from its datasheet";

const RealPart kParts[] = {
    {"N25Q256A", 0x20, 0xBA19,
     Hex("53464450 000100ff 00000109 300000ff ff*32 e520fbff ffffff0f 29eb276b 083b27bb "
         "ffffffff ffff27bb ffff29eb 0c2010d8 00000000"),
     kNoWay10},
    {"MX25L25635F", 0xC2, 0x2019,
     Hex("53464450 000101ff 00000109 300000ff c2000104 600000ff ff*24 e520f3ff ffffff0f "
         "44eb086b 083b04bb feffffff ffff00ff ffff44eb 0c200f52 10d800ff"),
     kNoWay10},
    {"MX66L1G45G", 0xC2, 0x201B,
     Hex("53464450 060102ff 00060110 300000ff c2000104 100100ff 84000102 c00000ff ff*16 "
         "e520fbff ffffff3f 44eb086b 083b04bb feffffff ffff00ff ffff44eb 0c200f52 10d800ff "
         "d649c500 85df04e3 44036738 30b030b0 f7bdd55c 4a9e29ff f050f985 ff*80 7fefffff "
         "215cdcff"),
     "page=256 block=0x10000 sector=0x10000 volime=0x8000000 "
     "erase=0x20:4K,0x52:32K,0xD8:64K,0x21:4K,0x5C:32K,0xDC:64K unit=sector addr4=opcodes"},
    {"W25Q512JV", 0xEF, 0x4020,
     Hex("53464450 060101ff 00060110 800000ff 84000102 d00000ff 03000102 f00000ff ff*96 "
         "e520fbff ffffff1f 44eb086b 083b42bb feffffff ffff0000 ffff40eb 0c200f52 10d80000 "
         "3602a600 82ea14e2 e9637633 7a757a75 f7a2d55c 19f74dff e970f9a5 ff*16 ff0af0ff "
         "21ffdcff"),
     "page=256 block=0x10000 sector=0x10000 volime=0x4000000 "
     "erase=0x20:4K,0x52:32K,0xD8:64K,0x21:4K,0xDC:64K unit=sector addr4=opcodes"},
    // Says 3-byte addresses only, yet is 32 MiB; its 16th DWORD names the 4-byte opcodes.
    {"IS25WP256", 0x9D, 0x7019,
     Hex("53464450 060101ff 00060110 300000ff 9d050103 80000002 ff*24 e520f9ff ffffff0f "
         "44eb086b 083b80bb feffffff ffff00ff ffff44eb 0c200f52 10d800ff 234ac900 82d811ce "
         "cccd6846 7a757a75 f7aed55c 4a422cff f030faa9"),
     "page=256 block=0x10000 sector=0x10000 volime=0x2000000 "
     "erase=0x20:4K,0x52:32K,0xD8:64K,0x21:4K,0x5C:32K,0xDC:64K unit=sector addr4=opcodes"},
};

// What the chip answers from address 0: the table, then 0xFF.
Bytes ReadLikeTheTool(const Bytes& table) {
    Bytes read;
    for (uint32_t want;
         (want = Sfdp_Wanted(read.data(), static_cast<uint32_t>(read.size()))) > read.size();) {
        while (read.size() < want)
            read.push_back(read.size() < table.size() ? table[read.size()] : 0xFF);
    }
    return read;
}

// "name=..." when accepted, else the reason.
std::string Parse(const Bytes& b, uint8_t mnf = 0xEF, uint16_t jedec = 0x4099) {
    SfdpGeometry geo;
    std::string why;
    if (Sfdp_Parse(b.data(), static_cast<uint32_t>(b.size()), &geo, &why) != 1) return why;
    return Sfdp_Record(geo, mnf, jedec, 0);
}

TEST(Sfdp, RealPartsOfFourMakersGiveTheirRecords) {
    for (const RealPart& p : kParts) {
        SCOPED_TRACE(p.name);
        char head[96];
        snprintf(head, sizeof head, "name=SFDP-%02X%04X mnfid=0x%02X jedec=0x%04X extid=0 ", p.mnf,
                 p.jedec, p.mnf, p.jedec);
        const std::string tail = p.record_tail;
        EXPECT_EQ(tail.rfind("page=", 0) == 0 ? head + tail : tail, Parse(p.sfdp, p.mnf, p.jedec));
        // Read as the tool reads, in header, parameter-header and table steps, nothing is
        // missing and nothing is read past the last table.
        EXPECT_EQ(p.sfdp, ReadLikeTheTool(p.sfdp));
    }
}

TEST(Sfdp, ExtendedIdInTheRecord) {
    SfdpGeometry geo;
    std::string why;
    const Bytes& b = kParts[2].sfdp;
    ASSERT_EQ(1, Sfdp_Parse(b.data(), static_cast<uint32_t>(b.size()), &geo, &why));
    EXPECT_NE(std::string::npos, Sfdp_Record(geo, 0x01, 0x0219, 0x4D01).find(" extid=0x4D01 "));
    EXPECT_NE(std::string::npos, Sfdp_Record(geo, 0x01, 0x0219, 0x00FF).find(" extid=0 "));
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Broken and edited tables: the N25Q256A (1.0, table at 0x30), MX66L1G45G (1.6 with the
// 4-byte address table at 0xC0) and W25Q512JV (1.6, table at 0x80, 4-byte table at 0xD0).
TEST(Sfdp, BrokenTablesAreRefusedWithTheirReasonAndEditsTakeEffect) {
    const Bytes& n25q = kParts[0].sfdp;
    const Bytes& mx66 = kParts[2].sfdp;
    const Bytes& w25q = kParts[3].sfdp;
    const std::string small = "name=SFDP-EF4099 mnfid=0xEF jedec=0x4099 extid=0 ";
    const std::tuple<const char*, const Bytes*, std::function<void(Bytes&)>, std::string> cases[] =
        {
            {"short", &n25q, [](Bytes& b) { b.resize(7); }, "only 7 bytes read, the header has 8"},
            {"signature", &n25q, [](Bytes& b) { b[3] = 'Q'; }, "no \"SFDP\" signature"},
            {"revision", &n25q, [](Bytes& b) { b[5] = 2; },
             "SFDP revision 2.0 is not a JESD216 1.x one"},
            {"headers", &n25q, [](Bytes& b) { b[6] = 32; },
             "33 parameter headers run past the 84 bytes read"},
            {"no basic table", &n25q, [](Bytes& b) { b[15] = 0; },
             "no basic flash parameter table"},
            {"table revision", &n25q, [](Bytes& b) { b[10] = 2; },
             "basic flash parameter table revision 2.0 is not a 1.x one"},
            {"table length", &n25q, [](Bytes& b) { b[11] = 8; },
             "basic flash parameter table has 8 DWORDs, JESD216 gives it 9"},
            {"past the end", &n25q, [](Bytes& b) { b.resize(0x50); },
             "basic flash parameter table at 0x30 (36 bytes) runs past the 80 bytes read"},
            {"pointer", &n25q, [](Bytes& b) { b[14] = 0xFF; },
             "basic flash parameter table at 0xFF0030 (36 bytes) runs past the 84 bytes read"},
            {"zero density", &n25q, [](Bytes& b) { Put32(b, 0x34, 0); },
             "density of 1 bits is no power-of-two number of bytes"},
            {"odd density", &n25q, [](Bytes& b) { Put32(b, 0x34, 0x00FFFFFE); },
             "density of 16777215 bits is no power-of-two number of bytes"},
            {"4 GiB", &n25q, [](Bytes& b) { Put32(b, 0x34, 0x80000023); },
             "density of 2^35 bits is above the 2 GiB a 32-bit size holds"},
            {"erased density", &n25q, [](Bytes& b) { Put32(b, 0x34, 0xFFFFFFFF); },
             "density of 2^2147483647 bits is above the 2 GiB a 32-bit size holds"},
            {"erase size 0", &n25q, [](Bytes& b) { Put32(b, 0x4C, 0), Put32(b, 0x50, 0); },
             "no erase types"},
            {"small erase", &n25q, [](Bytes& b) { b[0x4C] = 8; },
             "erase type 1 of 256 bytes is below 4 KiB"},
            {"large erase", &n25q, [](Bytes& b) { b[0x4E] = 26; },
             "erase type 2 of 2^26 bytes is larger than the chip"},
            {"no opcode", &n25q, [](Bytes& b) { b[0x4F] = 0xFF; },
             "erase type 2 has no opcode (0xFF)"},
            {"4-byte opcodes only", &n25q,
             [](Bytes& b) { b[0x4D] = 0x21, b[0x4F] = 0xDC, Put32(b, 0x34, 0x00FFFFFF); },
             "no erase type has the opcode the tool sends for its size"},
            {"address field", &n25q, [](Bytes& b) { b[0x32] |= 0x06; },
             "address bytes field holds the reserved value 3"},
            {"3-byte only", &n25q, [](Bytes& b) { b[0x32] = 0xF9; },
             "32 MiB needs 4-byte addresses and the table names no way to send them"},
            // A 1.0 table says only "64 bytes or more" of the page.
            {"2 MiB, 3-byte", &n25q, [](Bytes& b) { b[0x32] = 0xF9, Put32(b, 0x34, 0x00FFFFFF); },
             small + "page=64 block=0x10000 sector=0x10000 volime=0x200000 erase=0x20:4K,0xD8:64K "
                     "unit=sector"},
            {"byte writes", &n25q, [](Bytes& b) { b[0x30] = 0xE1, Put32(b, 0x34, 0x00FFFFFF); },
             "page=1 "},
            {"page 8 KiB", &mx66, [](Bytes& b) { b[0x58] = 0xD5; },
             "page of 8192 bytes is larger than the smallest erase of 4096 bytes"},
            {"page 512", &mx66, [](Bytes& b) { b[0x58] = 0x95; }, "page=512 "},
            {"one opcode, two sizes", &mx66, [](Bytes& b) { b[0x51] = 0x21; },
             "opcode 0x21 is given for erases of 65536 and 4096 bytes"},
            {"4-byte table cut", &mx66, [](Bytes& b) { b.resize(0xC4); },
             "4-byte address table at 0xC0 runs past the 196 bytes read"},
            // Non-uniform sectors (a sector map header added): only the uniform 4 KiB erase.
            {"sector map", &mx66,
             [](Bytes& b) {
                 b[6] = 3, std::copy_n(Hex("81000102a00000ff").begin(), 8, b.begin() + 0x20);
             },
             "block=0x1000 sector=0x1000 volime=0x8000000 erase=0x20:4K,0x21:4K unit=sector"},
            {"sector map, no 4 KiB", &mx66,
             [](Bytes& b) {
                 b[6] = 3, b[0x30] |= 3,
                 std::copy_n(Hex("81000102a00000ff").begin(), 8, b.begin() + 0x20);
             },
             "non-uniform sectors and no 4 KiB erase valid over the whole chip"},
            // The W25Q512JV has no 4-byte 32 KiB erase; without its 64 KiB one too, the unit
            // falls to 4 KiB.
            {"4-byte erase types", &w25q, [](Bytes& b) { b[0xD1] = 0x02; },
             "sector=0x1000 volime=0x4000000 erase=0x20:4K,0x52:32K,0xD8:64K,0x21:4K unit=sector "
             "addr4=opcodes"},
            // Without the 4-byte table the 16th DWORD says how: B7, or write enable then B7.
            {"B7", &w25q, [](Bytes& b) { b[6] = 0, b[0xBF] = 0x01; }, "unit=sector addr4=en4b"},
            {"06 B7", &w25q, [](Bytes& b) { b[6] = 0, b[0xBF] = 0x02; },
             "unit=sector addr4=wren_en4b"},
            {"no way", &w25q, [](Bytes& b) { b[6] = 0, b[0xBF] = 0x40; },
             "64 MiB needs 4-byte addresses and the table names no way to send them"},
        };
    for (const auto& [what, base, edit, expected] : cases) {
        Bytes b = *base;
        edit(b);
        const std::string got = Parse(b);
        if (expected.rfind("name=", 0) == 0 || expected.find('=') == std::string::npos)
            EXPECT_EQ(expected, got) << what;
        else
            EXPECT_NE(std::string::npos, got.find(expected)) << what << ": " << got;
    }
}

// The tables the emulated chips answer, parsed back; the first DWORDs worked out by hand.
TEST(Sfdp, EmulatedTablesDescribeThePlayedChip) {
    const Bytes w25q80 = Build_Sfdp_Table(
        0x100000, 256, {{0x20, 0x1000}, {0x52, 0x8000}, {0xD8, 0x10000}}, FourByte::None);
    EXPECT_EQ(Hex("53464450 060100ff 00060110 300000ff"),
              Bytes(w25q80.begin(), w25q80.begin() + 16));
    EXPECT_EQ(Hex("e52080ff ffff7f00"), Bytes(w25q80.begin() + 0x30, w25q80.begin() + 0x38));
    EXPECT_EQ(
        "name=SFDP-EF4099 mnfid=0xEF jedec=0x4099 extid=0 page=256 block=0x10000 sector=0x10000 "
        "volime=0x100000 erase=0x20:4K,0x52:32K,0xD8:64K unit=sector",
        Parse(w25q80));
    const std::pair<Bytes, std::string> cases[] = {
        {Build_Sfdp_Table(0x1000000, 256, {{0x20, 0x1000}, {0xD8, 0x8000}}, FourByte::None),
         "page=256 block=0x1000 sector=0x1000 volime=0x1000000 erase=0x20:4K,0xD8:32K "
         "unit=sector"},
        {Build_Sfdp_Table(0x2000000, 256, {{0x20, 0x1000}}, FourByte::ModeNeedsWel),
         "page=256 block=0x1000 sector=0x1000 volime=0x2000000 erase=0x20:4K unit=sector "
         "addr4=wren_en4b"},
        {Build_Sfdp_Table(0x4000000, 512, {{0xD8, 0x40000}}, FourByte::Opcodes),
         "page=512 block=0x40000 sector=0x40000 volime=0x4000000 erase=0xD8:256K,0xDC:256K "
         "unit=sector "
         "addr4=opcodes"},
    };
    for (const auto& [table, tail] : cases) {
        const std::string got = Parse(table);
        EXPECT_EQ(tail, got.substr(std::min(got.size(), got.find("page="))));
    }
}

}  // namespace
