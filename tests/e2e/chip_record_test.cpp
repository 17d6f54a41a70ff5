// Parts whose records say how they differ from the plain ones, on the emulated chip playing
// them: ids several parts share, protection bits, die erase and flag status, the 4-byte mode
// registers; chips known only by JESD216 1.0 tables; record numbers read to their end; a
// write enable latch that never sets; a part still busy in its 4-byte mode at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Test parts, each in its own record line.
const char kRecords[] =
    "\n# parts sharing one id: told apart by density, then by erase sizes\n"
    "name=SHAREA mnfid=0xEF jedec=0x40FD extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x100000 erase=0x20:4K,0xD8:64K\n"
    "\nname=SHAREB mnfid=0xEF jedec=0x40FD extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x200000 erase=0x20:4K,0xD8:64K\n"
    "\nname=SHAREC mnfid=0xEF jedec=0x40FD extid=any page=256 sector=0x40000 volime=0x200000 "
    "unit=sector erase=0xD8:256K\n"
    "\n# BP3 in bit 5\n"
    "name=BP3PART mnfid=0xEF jedec=0x40FA extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x100000 bp=0x3C erase=0x20:4K,0xD8:64K\n"
    "\n# two dies, no chip erase, flag status polled\n"
    "name=DIEPART mnfid=0x20 jedec=0xBAF0 extid=any page=256 sector=0x10000 volime=0x400000 "
    "diers=0xC4:2M poll=fsr erase=0x20:4K,0xD8:64K\n"
    "\n# 4-byte mode with the write enable latch, shown in a register, extended address register\n"
    "name=ADSPART mnfid=0xEF jedec=0x40F8 extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x2000000 addr4=wren_en4b ads=0x15:0x01 ear=0xC5 erase=0x20:4K,0xD8:64K\n"
    "\nname=ADSNOWREN mnfid=0xEF jedec=0x40F7 extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x2000000 addr4=en4b ads=0x15:0x01 ear=0xC5 erase=0x20:4K,0xD8:64K\n"
    "\nname=ADSNOEAR mnfid=0xEF jedec=0x40F6 extid=any page=256 block=4096 sector=0x10000 "
    "volime=0x2000000 addr4=wren_en4b erase=0x20:4K,0xD8:64K\n"
    "\n# a 128-byte page\n"
    "name=PAGE128 mnfid=0xEF jedec=0x40F5 extid=any page=128 block=4096 sector=0x10000 "
    "volime=0x200000 erase=0x20:4K,0xD8:64K\n"
    "\n# 32 MiB, 4-byte mode only\n"
    "name=MODEONLY mnfid=0xC2 jedec=0x20F4 extid=any page=256 sector=0x10000 volime=0x2000000 "
    "addr4=en4b erase=0x20:4K,0xD8:64K\n";

// The JESD216 1.0 basic table of a 32 MiB part (nine DWORDs at 0x30, 3- or 4-byte addresses).
std::string Table10() {
    std::string t = std::string("SFDP\x00\x01\x00\xFF\x00\x00\x01\x09\x30\x00\x00\xFF", 16) +
                    std::string(32, '\xFF') +
                    std::string(
                        "\xE5\x20\xFB\xFF\xFF\xFF\xFF\x0F\x29\xEB\x27\x6B\x08\x3B\x27\xBB"
                        "\xFF\xFF\xFF\xFF\xFF\xFF\x27\xBB\xFF\xFF\x29\xEB\x0C\x20\x10\xD8"
                        "\x00\x00\x00\x00",
                        36);
    return t;
}

// The same table of a 2 MiB part with 3-byte addresses only.
std::string Table10Small() {
    std::string t = Table10();
    t[0x32] = '\xF9';
    t.replace(0x34, 4, std::string("\xFF\xFF\xFF\x00", 4));  // 2^24 bits
    return t;
}

class ChipRecords : public ::testing::TestWithParam<Cable> {
protected:
    void SetUp() override {
        const Bytes db = dir.ReadBytes("flash_db.cfg");
        dir.Write("flash_db.cfg", std::string(db.begin(), db.end()) + kRecords);
        dir.Write("t10.bin", Table10());
        dir.Write("t10small.bin", Table10Small());
        dir.Write("nosfdp.bin", "");
    }
    // Runs `args` on `chip` (emulate= and extra lines) with `image` as its content.
    RunResult Run(const std::string& chip, const Bytes& image,
                  const std::vector<std::string>& args) {
        dir.Configure(GetParam(), chip, "emulate_stats=stats.json\n");
        dir.WriteBytes("flash.bin", image);
        std::remove(dir.Path("flash.bin.status").c_str());
        std::remove(dir.Path("stats.json").c_str());
        return dir.Run(args);
    }
    std::string Stats() const {
        const Bytes s = dir.ReadBytes("stats.json");
        return std::string(s.begin(), s.end());
    }
    // What a run prints up to and with the search line, for an emulated `played` part
    // answering `id` (maker line included).
    std::string Searched(const std::string& played, const std::string& maker, uint16_t jedec) {
        return Detect(GetParam(), played) + "\n" +
               (GetParam() == Cable::Lpt ? "SPI by LPT port: 0x378h" : "SPI by USB") +
               ", SCK period: 1us\n\nFlash Memory Info:\n" + maker +
               Fmt("\nJEDEC ID code:\t0x%04X\nExtended ID:\t0x0000\n\n", jedec) +
               "\nSearch chip in:\tflash_db.cfg - ";
    }

    TargetDir dir;
};

Bytes Put(Bytes image, uint32_t at, const Bytes& data) {
    std::copy(data.begin(), data.end(), image.begin() + at);
    return image;
}

// Records that share an id and differ: the chip's SFDP tables choose (density, then erase
// sizes); when it has none, a range operation is refused naming the candidates, and -n=
// takes one.
TEST_P(ChipRecords, SharedIdsAreToldApartOrRefused) {
    const Bytes image = Pattern(0x200000, 41), data = Pattern(0x300, 42);
    dir.WriteBytes("data.bin", data);
    const std::vector<std::string> sequence = {"-e", "-w", "-v", "data.bin", "-ab=0x13FE80"};
    for (const char* part : {"SHAREB", "SHAREC"}) {
        SCOPED_TRACE(part);
        RunResult r = Run(part, image, sequence);
        EXPECT_NE(r.out.find(std::string("\nDevice name:\t\"") + part + "\"\n"), std::string::npos)
            << r.out;
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(image, 0x13FE80, data));
    }

    const std::string no_sfdp = "SHAREB\nemulate_sfdp=0xEF40FD,nosfdp.bin";
    RunResult r = Run(no_sfdp, image, {"-w", "data.bin", "-ab=0x1000"});
    const std::string names = "SHAREA, SHAREB, SHAREC";
    EXPECT_EQ(r.out,
              Banner(r.out) + Searched("SHAREB", "Manufacturer:\t\"Winbond\"", 0x40FD) +
                  "OK\nDevice name:\t\"SHAREA\"\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 ChipErs:0xC7" +
                  "\nWarning: the chip answers the id of " + names +
                  ", and its SFDP tables do not tell which it is\nPage size:\t0x100, (256) Bytes"
                  "\nBlock size:\t0x1000, (4) Kb\nSector size:\t0x10000, (64) Kb\nBlock  numbers:"
                  "\t256 \nSector numbers:\t16 \nTotal Size:\t1 MB\nError: the chip answers the "
                  "id of " +
                  names +
                  ", parts that differ, and its SFDP tables do not tell which it is: range "
                  "erase, write and verify are refused; -n=NAME takes one of them\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
    r = Run(no_sfdp, image, {"-n=SHAREB", "-e", "-w", "-v", "data.bin", "-ab=0x13FE80"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(image, 0x13FE80, data));
}

// A record's bp= names its protection bits (here BP3 in bit 5): -e and -w are refused while
// one is set, and -u counts it; on a part without it, bit 5 alone (TB) protects nothing.
TEST_P(ChipRecords, ProtectionBitsOfTheRecord) {
    const Bytes image = Pattern(0x100000, 43);
    dir.WriteBytes("data.bin", Pattern(0x100, 44));
    const std::string part = "BP3PART\nemulate_status=0x20";
    const std::string pre = Searched("BP3PART", "Manufacturer:\t\"Winbond\"", 0x40FA) +
                            "OK\nDevice name:\t\"BP3PART\"\nCMD Setup:\tErs:0x20 Rd:0x3 Wr:0x2 "
                            "ChipErs:0xC7\nPage size:\t0x100, (256) Bytes\nBlock size:\t0x1000, "
                            "(4) Kb\nSector size:\t0x10000, (64) Kb\nBlock  numbers:\t256 "
                            "\nSector numbers:\t16 \nTotal Size:\t1 MB\n";
    const std::tuple<std::string, std::vector<std::string>, std::string, int> cases[] = {
        {part,
         {"-w", "data.bin", "-ab=0x1000"},
         pre + "\nError: status register 0x20: block protection bits 0x20 set, write refused; -u "
               "clears them\n\n",
         255},
        {part,
         {"-e", "-ab=0x1000", "-al=0x1FFF"},
         pre + "\nError: status register 0x22: block protection bits 0x20 set, erase refused; -u "
               "clears them\n\n",
         255},
        {part + "\nemulate_fault=no_wrsr",
         {"-u"},
         pre + "Status = 22h, WE bit is enabled\nUnlocking...\nStatus = 22h, unlock failed, set "
               "WP# pin level high\n.\n",
         255},
        {part,
         {"-u"},
         pre + "Status = 22h, WE bit is enabled\nUnlocking...\nStatus = 00h, device "
               "is unlocked now.\n\n",
         1},
    };
    for (const auto& [chip, args, out, status] : cases) {
        SCOPED_TRACE(chip + " " + args[0]);
        RunResult r = Run(chip, image, args);
        EXPECT_EQ(r.out, Banner(r.out) + out);
        EXPECT_EQ(r.status, status);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
    }
    // TB alone on a part whose protection bits are BP0-BP2.
    RunResult r =
        Run("W25X10\nemulate_status=0x20\nemulate_fault=no_wrsr", Pattern(0x20000, 1), {"-u"});
    const std::string tail =
        "Status = 22h, WE bit is enabled\nUnlocking...\nStatus = 22h, device "
        "is unlocked now.\n\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail);
    EXPECT_EQ(r.status, 1);
}

// A stacked-die part without chip erase is erased die by die, and its flag status register
// is polled after every program and erase (the emulated part takes no command before).
TEST_P(ChipRecords, DieEraseAndFlagStatus) {
    const Bytes image = Pattern(0x400000, 45), data = Pattern(0x300, 46);
    dir.WriteBytes("data.bin", data);
    RunResult r = Run("DIEPART", image, {"-e"});
    const std::string erase =
        "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait..."
        "\nErase done\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), erase.size())), erase);
    EXPECT_NE(r.out.find("\nCMD Setup:\tErs:0xD8 Rd:0x3 Wr:0x2 ChipErs:0xC4 per die\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Bytes(0x400000, 0xFF));
    EXPECT_NE(Stats().find("\"erases\":{\"2097152\":2}"), std::string::npos) << Stats();

    r = Run("DIEPART", image, {"-e", "-w", "-v", "data.bin", "-ab=0x1FFE80"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(image, 0x1FFE80, data));
    const std::string stats = Stats();
    EXPECT_NE(stats.find("\"0x70\":"), std::string::npos) << stats;
}

// A part entered into 4-byte mode with the latch set shows the mode in a register: a record
// that enters it without the latch sees it did not take and stops before any 4-byte frame.
// On leaving, the extended address register is written 0 where the record names it; the
// part leaves it at 1, so that 3-byte reads would reach the upper 16 MiB.
TEST_P(ChipRecords, FourByteModeRegisters) {
    Bytes image(0x2000000, 0xFF);
    const Bytes data = Pattern(0x100, 47);
    dir.WriteBytes("data.bin", data);
    RunResult r = Run("ADSPART", image, {"-n=ADSNOWREN", "-w", "data.bin", "-ab=0x1FFF000"});
    const std::string stopped =
        "\nError: the chip did not enter its 4-byte address mode (0x15 reads 0x00, bits 0x01 "
        "clear): operation stopped\n\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), stopped.size())), stopped)
        << r.out;
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
    for (const char* op : {"\"0x02\"", "\"0x03\""}) EXPECT_EQ(Stats().find(op), std::string::npos);

    // Record, the extended address register afterwards.
    for (const auto& [name, ear] : {std::make_pair("ADSPART", 0), {"ADSNOEAR", 1}}) {
        SCOPED_TRACE(name);
        r = Run("ADSPART", image, {std::string("-n=") + name, "-w", "data.bin", "-ab=0x1FFF000"});
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(image, 0x1FFF000, data));
        EXPECT_NE(Stats().find(Fmt("\"four_byte_mode\":false,\"extended_address\":%d,", ear)),
                  std::string::npos)
            << Stats();
    }
}

// A chip known only by a JESD216 1.0 table: above 16 MiB the table does not say how to reach
// past 16 MiB, so the run is refused; below, its page is taken as 64 bytes, which also
// programs a part with 128-byte pages right.
TEST_P(ChipRecords, Jesd216Version10Tables) {
    const Bytes data = Pattern(0x300, 48);
    dir.WriteBytes("data.bin", data);
    const Bytes big(0x2000000, 0xFF);
    RunResult r = Run("MODEONLY\nemulate_sfdp=0xC2FE19,t10.bin", big,
                      {"-e", "-w", "-v", "data.bin", "-ab=0x1000000"});
    EXPECT_EQ(r.out, Banner(r.out) + Searched("MODEONLY", "Manufacturer:\t\"Macronix\"", 0xFE19) +
                         "\tIs not added to DB\nError: no usable SFDP tables: 32 MiB needs "
                         "4-byte addresses and a table of 9 DWORDs does not say how the part "
                         "takes them: add a flash_db.cfg record with addr4= from its datasheet\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == big);

    const Bytes image = Pattern(0x200000, 49);
    r = Run("PAGE128\nemulate_sfdp=0xEFFE15,t10small.bin", image,
            {"-e", "-w", "-v", "data.bin", "-ab=0xFFEC0"});
    EXPECT_NE(r.out.find(" page=64 block=0x10000 "), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == Put(image, 0xFFEC0, data));
}

// A record whose numbers run past their end, or do not fit their field, is refused naming
// the record, the key and why, also when the scan meets it by its low bits.
TEST_P(ChipRecords, RecordNumbersAreReadToTheirEnd) {
    const std::string shipped = [this] {
        const Bytes db = dir.ReadBytes("flash_db.cfg");
        return std::string(db.begin(), db.end());
    }();
    const std::string w25x10 = " extid=any page=256 block=4096 sector=0x10000 volime=0x20000";
    const std::pair<std::string, std::string> cases[] = {
        {"name=BAD mnfid=0xEF jedec=0x3011" + w25x10 + " erase=0x20:1KM",
         "erase=0x20:1KM: size 1KM is not a whole number of bytes with at most one K or M after "
         "it"},
        {"name=BAD mnfid=0xEF jedec=0x3011" + w25x10 + " erase=0x20:0x40000000000004K",
         "erase=0x20:0x40000000000004K: size 0x40000000000004K does not fit 1 to 0xFFFFFFFF "
         "bytes"},
        {"name=BAD mnfid=0x1000000EF jedec=0x3011" + w25x10,
         "mnfid=0x1000000EF does not fit its field (0 to 0xFF)"},
        {"name=BAD mnfid=0xEF jedec=0xFFFFFFFF3011" + w25x10,
         "jedec=0xFFFFFFFF3011 does not fit its field (0 to 0xFFFF)"},
        {"name=BAD mnfid=0xEF jedec=0x3011" + w25x10 + "K",
         "volime=0x20000K is not a whole "
         "number (decimal, 0x hex or 0 octal)"},
    };
    const std::string id = ::Identify(GetParam(), kW25X10);
    for (const auto& [record, why] : cases) {
        SCOPED_TRACE(record);
        dir.Write("flash_db.cfg", "#\n" + record + "\n" + shipped);
        RunResult r = Run("W25X10", Pattern(0x20000, 3), {"-i"});
        EXPECT_EQ(r.out, Banner(r.out) + Detect(GetParam(), "W25X10") +
                             id.substr(0, id.find("\nDevice name:")) +
                             "\nDevice name:\t\"BAD\"\nError: flash_db.cfg record BAD: " + why +
                             "\n");
        EXPECT_EQ(r.status, 255);
    }
}

// -w checks the write enable latch as erase does: a chip whose latch never sets would take
// no page program.
TEST_P(ChipRecords, WriteEnableLatchThatNeverSets) {
    const Bytes image = Pattern(0x20000, 50);
    dir.WriteBytes("data.bin", Pattern(0x100, 51));
    RunResult r = Run("W25X10\nemulate_fault=no_wel", image, {"-w", "data.bin", "-ab=0x1000"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) +
                         "\n\nError: status register 0x00: the write enable latch does not set, "
                         "write refused (write-protect pin, wiring)\n\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
}

// A part in 4-byte mode that is still busy when the run ends ignores the exit: the run says
// that it stays in that mode and the board needs a power cycle, and ends the line.
TEST_P(ChipRecords, BusyInFourByteModeAtTheEnd) {
    dir.WriteBytes("data.bin", Pattern(0x100, 52));
    RunResult r = Run("W25Q256\nemulate_fault=busy", Bytes(0x2000000, 0xFF),
                      {"-w", "data.bin", "-ab=0x1000"});
    const std::string timeout = "\nError: Wait_WriteBusy exit by timeout";
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25Q256) +
                         "\n\nRead data Tail:\tS1\tOK Tail empty\nFile: \"data.bin\"\tsize: 0x100 "
                         "Bytes\nRequire Sector:\t\t1 x 4096 Bytes\nWrite data:\t\t0x00001100 "
                         "(100%)\r" +
                         timeout + "\n" + timeout +
                         "\nError: the chip is still busy and stays in its 4-byte address "
                         "mode: power-cycle the board before it boots from the chip\n");
    EXPECT_EQ(r.status, 255);
}

INSTANTIATE_TEST_SUITE_P(Cables, ChipRecords, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
