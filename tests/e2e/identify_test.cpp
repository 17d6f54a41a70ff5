// Identification, status report, reset and configuration failures, on both cables.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

class Identify : public ::testing::TestWithParam<Cable> {
protected:
    TargetDir dir;
};

TEST_P(Identify, ChipInNoRecordGivesItsSfdpRecordAndInfoSaysSo) {
    dir.Configure(GetParam(), Played(kSfdpEF4099), PlayLines(kSfdpEF4099));
    RunResult r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kSfdpEF4099) + "\n" +
                         "\nGeometry:\tread from SFDP (the chip is not in flash_db.cfg)" +
                         kIdleStatus + "\n");
    EXPECT_EQ(r.status, 1);
    // The record, appended to the database right below its last record, is found like any
    // other.
    std::ofstream(dir.Path("flash_db.cfg"), std::ios::app) << kSfdpEF4099.sfdp_record << "\n";
    r = dir.Run({"-i"});
    EXPECT_NE(r.out.find("flash_db.cfg - OK\nDevice name:\t\"SFDP-EF4099\"\nCMD Setup:\tErs:0xD8 "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("SFDP ("), std::string::npos) << r.out;
}

// -n= takes the named record without asking the chip; once powered for the operation, a
// chip that answers another record's id gets one warning line, and the run goes on.
TEST_P(Identify, ByNameWarnsWhenTheChipAnswersAnotherId) {
    struct Case {
        const char* emulated;
        const char* fault;
        const ChipText& named;
        std::string warning;
    };
    const Case cases[] = {
        {"MX25L1005", "", kW25X10,
         "\nWarning: the chip answers id 0xC2 0x2011 0x0000, the record taken by -n=W25X10 has "
         "0xEF 0x3011\n"},
        {"MX25L1005", "", kMX25L1005, ""},
        {"MX25L1005", "emulate_fault=miso_low\n", kW25X10, ""},  // no answer: no warning
    };
    for (const Case& c : cases) {
        dir.Configure(GetParam(), c.emulated, c.fault);
        RunResult r = dir.Run({"-n=" + c.named.name, "-i"});
        const std::string expected =
            Banner(r.out) + Detect(GetParam(), c.emulated) + "\nOperation by chip name." +
            "\nDevice name:\t\"" + c.named.name + "\"\nSearch chip in:\tflash_db.cfg - OK\n" +
            Fmt("\nCMD Setup:\tErs:0x%X Rd:0x3 Wr:0x2 ChipErs:0xC7", c.named.erase_opcode) +
            c.named.geometry + "\n" + c.warning + kIdleStatus + "\n";
        EXPECT_EQ(r.out, expected) << c.named.name << " " << c.fault;
        EXPECT_EQ(r.status, 1);
    }
}

TEST_P(Identify, FailuresEndWithStatus255AndTheAdapterOff) {
    struct Case {
        std::string extra;
        std::vector<std::string> args;
        std::string tail;  // what follows the detection lines
    };
    const std::string spi = GetParam() == Cable::Lpt ? "SPI by LPT port: 0x378h" : "SPI by USB";
    const std::string winbond =
        "\n" + spi + ", SCK period: 1us\n\nFlash Memory Info:\nManufacturer:\t\"Winbond\"" +
        "\nJEDEC ID code:\t0x4099\nExtended ID:\t0x0000\n\n" +
        "\nSearch chip in:\tflash_db.cfg - \tIs not added to DB" +
        "\nError: no usable SFDP tables: ";
    const auto no_chip = [&](const char* level) {
        return "\n" + spi +
               ", SCK period: 1us\n\n\nError: Can`t read the FLASH mem device!              "
               "\nProbably, pin`s connection is wrong.\nNo chip answers (every id byte reads " +
               level + "): check the wiring, the board's power and the cable.\n\n";
    };
    const Case cases[] = {
        {"",
         {"-n=NOSUCHCHIP", "-i"},
         "\nOperation by chip name.\nCan't find chip in 'flash_db.cfg'\n"},
        // No chip: every id byte reads the idle level of MISO.
        {"emulate_fault=miso_low\n", {"-i"}, no_chip("0x00")},
        {"emulate_fault=miso_high\n", {"-i"}, no_chip("0xFF")},
        {"emulate_sfdp=0xEF4099,nosfdp.bin\n", {"-i"}, winbond + "no \"SFDP\" signature\n"},
        {"emulate_sfdp=0xEF4099,noerase.bin\n", {"-e", "-ab=0x1000"}, winbond + "no erase types\n"},
        // -x powers the cable once and stops the run.
        {"", {"-x", "-i"}, "\nAdapter Reset...\n\n Done"},
    };
    dir.Write("nosfdp.bin", "Some chips answer 0x5A with their memory, or not at all.");
    // Header and a JESD216 1.0 basic table of a 1 MiB part whose erase types are all absent.
    dir.Write("noerase.bin", std::string("SFDP\x00\x01\x00\xFF\x00\x00\x01\x09\x10\x00\x00\xFF"
                                         "\xE5\x20\xF1\xFF\xFF\xFF\x7F\x00",
                                         24) +
                                 std::string(28, '\0'));
    for (const Case& c : cases) {
        dir.Configure(GetParam(), "W25X10", c.extra);
        RunResult r = dir.Run(c.args);
        EXPECT_EQ(r.out, Banner(r.out) + Detect(GetParam(), "W25X10") + c.tail) << c.extra;
        EXPECT_EQ(r.status, 255);
    }
}

// Without a cable the USB-Blaster run names the missing cable and stops; on the parallel port,
// whose loop-back inputs then read high, the run goes on through the port's own pins.
TEST_P(Identify, NoCableOnThePort) {
    dir.Configure(GetParam(), "W25X10", "emulate_fault=no_cable\n");
    RunResult r = dir.Run({"-i"});
    if (GetParam() == Cable::Usb) {
        EXPECT_EQ(r.out, Banner(r.out) +
                             "\nSet VID: 0x9FB, PID: 0x6001\nCan't find 'Altera USB-Blaster'"
                             "\nAdapter or driver is not insatalled on PC\n");
        EXPECT_EQ(r.status, 255);
        return;
    }
    EXPECT_EQ(r.out, Banner(r.out) +
                         "\nLPT port opened.\n\nCan't find any adapters\nUsing only LPT pins for "
                         "output:\nSPI=LPT: CS=D1 SCK=D0 MOSI=D6 MISO=BUSY CPU_RESET=D4 "
                         "WP_DISABLE=D3\nEmulated target: W25X10, image flash.bin" +
                         ::Identify(Cable::Lpt, kW25X10) + kW25X10.geometry + "\n" + kIdleStatus +
                         "\n");
    EXPECT_EQ(r.status, 1);
}

TEST_P(Identify, RecordWithoutSizeIsRejected) {
    dir.Write("flash_db.cfg",
              "# test chips\nname=NOSIZE mnfid=0xEF jedec=0x3011 page=256\n\n"
              "name=W25X10 mnfid=0xEF jedec=0x3011 page=256 block=4096 "
              "sector=0x10000 volime=0x20000\n");
    dir.Configure(GetParam(), "W25X10");
    RunResult r = dir.Run({"-n=NOSIZE", "-i"});
    EXPECT_EQ(r.out, Banner(r.out) + Detect(GetParam(), "W25X10") +
                         "\nOperation by chip name.\nDevice name:\t\"NOSIZE\"" +
                         "\nflash_db.cfg file: 'volime' syntax error\n");
    EXPECT_EQ(r.status, 255);
}

TEST_P(Identify, FailedRunLeavesTheImageUntouched) {
    dir.Configure(GetParam(), "W25X10");
    std::vector<uint8_t> image = Pattern(0x20000, 7);
    dir.WriteBytes("flash.bin", image);
    // -w without a data file is refused by the parameter check.
    RunResult r = dir.Run({"-w", "-ab=0x100"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(dir.ReadBytes("flash.bin"), image);
    // An image of the wrong size is refused and kept as it is.
    dir.WriteBytes("flash.bin", Pattern(100, 1));
    r = dir.Run({"-i"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(dir.ReadBytes("flash.bin"), Pattern(100, 1));
}

// Refused before the cable is opened: no emulated target is built, so no image appears.
TEST_P(Identify, RefusedBeforeTheCableOpens) {
    const std::string whole =
        ": expected -ab=N with N a whole number (decimal, 0x hex or 0 octal)\n";
    const std::string id = ": give the chip id as 0xMMDDDD, or 0xMMDDDD,FILE\n";
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"W25X10", {"-e", "-ab=0x1O000", "-al=0x1FFFF"}, "\nError: argument -ab=0x1O000" + whole},
        {"W25X10", {"-e", "data.bin", "-ab", "0x10000"}, "\nError: argument -ab" + whole},
        // Switches glued behind one dash would run as the first one alone.
        {"W25X10",
         {"-i", "-eWv", "data.bin", "-ab=0x10000"},
         "\nError: argument -eWv: one switch per argument, write -e -W -v\n"},
        {"W25X10\nemulate_status=0x9Czz",
         {"-i"},
         "\nError: config.cfg: emulate_status=0x9Czz: expected emulate_status=N with N a whole "
         "number (decimal, 0x hex or 0 octal)\n"},
        {"W25X10\nemulate_status=0x100",
         {"-i"},
         "\nError: config.cfg: emulate_status=0x100 is out of range (0 to 255)\n"},
        {"NOSUCHCHIP",
         {"-i"},
         "\nError: emulate=NOSUCHCHIP: no record in flash_db.cfg has a name beginning with it"},
        {"W25X10\nemulate_sfdp=EF4099", {"-i"}, "\nError: emulate_sfdp=EF4099" + id},
        {"W25X10\nemulate_sfdp=0x1EF4099", {"-i"}, "\nError: emulate_sfdp=0x1EF4099" + id},
        {"W25X10\nemulate_sfdp=0xEF4099,", {"-i"}, "\nError: emulate_sfdp=0xEF4099," + id},
        {"W25X10\nemulate_sfdp=0xEF4099,none.bin",
         {"-i"},
         "\nError: can`t read emulate_sfdp file none.bin: No such file or directory\n"},
        {"W25X10\nemulate_usb=A1:a.bin,B2",
         {"-i"},
         "\nError: emulate_usb=A1:a.bin,B2: \"B2\" is not SERIAL:FILE or SERIAL:FILE:VID:PID (a "
         "serial of at most 15 characters)\n"},
        {"W25X10\nemulate_lpt=0x10000:a.bin",
         {"-i"},
         "\nError: emulate_lpt=0x10000:a.bin: \"0x10000:a.bin\" is not ADDRESS:FILE (an address "
         "of at most 0xFFFF)\n"},
        {"W25X10\nemulate_usb=A1:.\nemulate_lpt=0x378:.",
         {"-i"},
         "\nError: emulate_image . is not a regular file"},
        {"W25X10\nemulate_interrupt_signal=SIGKILL",
         {"-i"},
         "\nError: emulate_interrupt_signal=SIGKILL is not one of SIGINT, SIGTERM"},
    };
    for (const auto& [config, args, error] : cases) {
        dir.Configure(GetParam(), config + "\n");
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Banner(r.out) + error);
        EXPECT_EQ(r.status, 255);
        EXPECT_FALSE(dir.Exists("flash.bin"));
    }
}

// An interrupt raised during the id read stops the database scan before its first record:
// the run ends there with the interrupted line.
TEST_P(Identify, InterruptStopsTheDatabaseScan) {
    dir.Configure(GetParam(), "W25X10", "emulate_interrupt_after=1\n");
    RunResult r = dir.Run({"-i"});
    const std::string id = ::Identify(GetParam(), kW25X10);
    EXPECT_EQ(r.out, Banner(r.out) + Detect(GetParam(), "W25X10") +
                         id.substr(0, id.find(" - ") + 3) +
                         "\nInterrupted: operation stopped, adapter powered down.\n");
    EXPECT_EQ(r.status, 255);
}

// A flash_db.cfg of the user's own is searched before the installed one: its records win for
// their names and ids, every other chip comes from the installed file, which a line names
// where a record is first taken from it. Names match regardless of case when none matches
// with it.
TEST_P(Identify, OwnRecordsBeforeTheInstalledOnes) {
    dir.Install();
    dir.Write("flash_db.cfg",
              "# my chips\nname=MYCHIP mnfid=0xEF jedec=0x3011 extid=any page=256 block=4096 "
              "sector=0x10000 volime=0x40000\nname=NEWCHIP mnfid=0xEF jedec=0x4098 extid=any "
              "page=256 block=4096 sector=0x10000 volime=0x20000\n");
    const ChipText mine = {"MYCHIP",
                           "Winbond",
                           0x3011,
                           0,
                           true,
                           "\nPage size:\t0x100, (256) Bytes\nBlock size:\t0x1000, (4) Kb"
                           "\nSector size:\t0x10000, (64) Kb\nBlock  numbers:\t64 "
                           "\nSector numbers:\t4 \nTotal Size:\t0 MB",
                           0x40000,
                           0x20};
    const ChipText fresh = {"NEWCHIP", "Winbond", 0x4098, 0, true, kW25X10.geometry, 0x20000, 0x20};
    const std::string installed = "\nUsing " + dir.Path("inst/share/tamrel/flash_db.cfg");
    const auto by_id = [&](const ChipText& c, bool from_installed) {
        std::string s = ::Identify(GetParam(), c);
        if (from_installed) s.insert(s.find("\nSearch chip in:"), installed);
        return s + c.geometry;
    };
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        // MYCHIP answers the id of the installed W25X10, which is emulated.
        {"W25X10", {"-i"}, installed + Detect(GetParam(), "W25X10") + by_id(mine, false)},
        {"NEWCHIP",
         {"-n=w25x10", "-i"},
         Detect(GetParam(), "NEWCHIP") + "\nOperation by chip name." + installed +
             "\nDevice name:\t\"w25x10\"\nSearch chip in:\tflash_db.cfg - OK\n" +
             CommandSetup(kW25X10) + kW25X10.geometry +
             "\n\nWarning: the chip answers id 0xEF 0x4098 0x0000, the record taken by -n=w25x10 "
             "has 0xEF 0x3011"},
        {"newchip", {"-i"}, Detect(GetParam(), "newchip") + by_id(fresh, false)},
        {"NEWCHIP\nemulate_sfdp=0xEF4016",
         {"-i"},
         Detect(GetParam(), "NEWCHIP") + by_id(kW25Q32, true)},
    };
    for (const auto& [chip, args, text] : cases) {
        dir.Configure(GetParam(), chip);
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Banner(r.out) + text + "\n" + kIdleStatus + "\n") << chip << args[0];
        EXPECT_EQ(r.status, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, Identify, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

TEST(Startup, NoArgumentsPrintsUsageAndNoConfigIsAnError) {
    TargetDir dir;
    RunResult r = dir.Run({});
    EXPECT_EQ(r.out, ExpectedFile("usage", r.out));
    EXPECT_EQ(r.status, 1);
    r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Banner(r.out) + "\nError: Can`t open file: config.cfg\n");
    EXPECT_EQ(r.status, 255);
    r = dir.Run({"-ewv", "fw.bin"});  // refused before any file is looked for
    EXPECT_EQ(r.out,
              Banner(r.out) + "\nError: argument -ewv: one switch per argument, write -e -w -v\n");
    EXPECT_EQ(r.status, 255);
    dir.Write("config.cfg", "# nothing configured\n");
    r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Banner(r.out) + "\nIs not set config for any LPT or USB adapters.");
    EXPECT_EQ(r.status, 255);
    // A comment never sets the cable; a setting in another spelling is named.
    dir.Write("config.cfg", "# to use the USB cable, write port=usb\nport = usb\n");
    r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Banner(r.out) +
                         "\nIs not set config for any LPT or USB adapters.\nconfig.cfg: the line "
                         "\"port = usb\" sets no cable; write it as port=usb\n");
    EXPECT_EQ(r.status, 255);
}

// --list-chips lists the records of the files a run searches, in their order, with ids, size
// and file, reading no config.cfg; a filter keeps the names that hold it regardless of case.
// A file is read once, however it is reached.
TEST(Startup, ChipListing) {
    TargetDir dir;
    dir.Install();
    const std::string installed = dir.Path("inst/share/tamrel/flash_db.cfg");
    const std::string w25x1 = "\nChips in " + installed +
                              ":\n  W25X10  0xEF 0x3011         128 KiB"
                              "\n  W25X16  0xEF 0x3015           2 MiB\n";
    dir.Write("flash_db.cfg",
              "# mine\nname=MYCHIP mnfid=0xEF jedec=0x3011 extid=any page=256 sector=0x10000 "
              "volime=0x40000\nname=OddChip mnfid=0x1F jedec=0x0100 extid=0x0100 page=264 "
              "sector=0x10000 volime=135296\nname=BADCHIP mnfid=0xEF page=0x10100 volime=1\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--list-chips", "chip"},
         "\nChips in flash_db.cfg:"
         "\n  MYCHIP   0xEF 0x3011         256 KiB"
         "\n  OddChip  0x1F 0x0100 0x0100  135296 bytes"
         "\n  BADCHIP                      not usable: flash_db.cfg record BADCHIP: page=0x10100 "
         "does not fit its field (0 to 0xFFFF)"
         "\nChips in " +
             installed + ":\n  none\n"},
        {{"-i", "--list-chips=W25X1"}, "\nChips in flash_db.cfg:\n  none" + w25x1},
    };
    for (const auto& [args, text] : cases) {
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Banner(r.out) + text) << args[0];
        EXPECT_EQ(r.status, 1);
    }
    std::filesystem::remove(dir.Path("flash_db.cfg"));
    std::filesystem::create_directories(dir.Path("xdg/tamrel"));
    std::filesystem::create_symlink(installed, dir.Path("xdg/tamrel/flash_db.cfg"));
    RunResult r = dir.Run({"--list-chips", "w25x1"});
    EXPECT_EQ(r.out, Banner(r.out) + "\nChips in " + dir.Path("xdg/tamrel/flash_db.cfg") + ":" +
                         w25x1.substr(w25x1.find('\n', 1)));
    std::filesystem::remove(dir.Path("xdg/tamrel/flash_db.cfg"));
    std::filesystem::remove(installed);
    r = dir.Run({"--list-chips"});
    EXPECT_EQ(r.out, Banner(r.out) + "\nError: Can`t open file: flash_db.cfg\n");
    EXPECT_EQ(r.status, 255);
}

// --help, -h and -? print the usage text with the switches added since, --version the banner,
// reading no file; unknown arguments are named and the run goes on.
TEST(Startup, HelpVersionAndUnknownArguments) {
    TargetDir dir;
    for (const char* arg : {"--help", "-h", "-?"}) {
        RunResult r = dir.Run({"-i", arg});
        EXPECT_EQ(r.out, ExpectedFile("help", r.out)) << arg;
        EXPECT_EQ(r.status, 1);
    }
    RunResult r = dir.Run({"--version", "-i"});
    EXPECT_EQ(r.out, Banner(r.out) + "\n");
    EXPECT_EQ(r.status, 1);

    dir.Configure(Cable::Usb, "W25X10");
    r = dir.Run({"-i", "stray", "-q", "-hfoo"});
    EXPECT_EQ(r.out, Banner(r.out) +
                         "\nWarning: unknown argument \"stray\" ignored"
                         "\nWarning: unknown argument \"-q\" ignored"
                         "\nWarning: unknown argument \"-hfoo\" ignored" +
                         Detect(Cable::Usb, "W25X10") + ::Identify(Cable::Usb, kW25X10) +
                         kW25X10.geometry + "\n" + kIdleStatus + "\n");
    EXPECT_EQ(r.status, 1);
}

// The emulated parallel port sits at 0x378; -p= overrides lptaddr=.
TEST(Startup, ParallelPortIsChosenByItsAddress) {
    TargetDir dir;
    dir.Configure(Cable::Lpt, "W25X10");
    dir.Write("config.cfg", "port=lpt\nlptaddr=0x278\nemulate=W25X10\nemulate_image=flash.bin\n");
    RunResult r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Banner(r.out) +
                         "\nError: no parallel port at I/O address 0x278; ports found: "
                         "/dev/parport0 at 0x378\n");
    EXPECT_EQ(r.status, 255);
    r = dir.Run({"-p=0x378", "-i"});
    EXPECT_EQ(r.out, Preamble(r.out, Cable::Lpt, kW25X10) + "\n" + kIdleStatus + "\n");
    EXPECT_EQ(r.status, 1);
    // With port=usb the USB-Blaster is used, and named, whatever -p= says.
    dir.Configure(Cable::Usb, "W25X10");
    r = dir.Run({"-p=0x278", "-i"});
    EXPECT_EQ(r.out, Preamble(r.out, Cable::Usb, kW25X10) + "\n" + kIdleStatus + "\n");
    EXPECT_EQ(r.status, 1);
}

// Success 1 and failure 255 unless posix codes are asked for (0 and 1); the environment
// wins over config.cfg, and the output stays the same.
TEST(Startup, ExitCodesForScripts) {
    TargetDir dir;
    const std::vector<std::string> ok = {"-i"}, help = {"-h"}, bad = {"-n=NOSUCHCHIP", "-i"};
    const std::tuple<const char*, const char*, std::vector<std::string>, int> cases[] = {
        {"", "", ok, 1},
        {"", "", bad, 255},
        {"posix", "", ok, 0},
        {"posix", "", help, 0},
        {"posix", "", bad, 1},
        {"", "exit_codes=posix\n", ok, 0},
        {"", "exit_codes=posix\n", bad, 1},
        {"classic", "exit_codes=posix\n", ok, 1},
        {"classic", "exit_codes=posix\n", bad, 255},
    };
    dir.Configure(Cable::Usb, "W25X10");
    const std::string ok_out = dir.Run(ok).out, bad_out = dir.Run(bad).out;
    for (const auto& [env, config, args, status] : cases) {
        SCOPED_TRACE(std::string(env) + " " + config + args[0]);
        dir.Configure(Cable::Usb, "W25X10", config);
        dir.env = {{"XDG_CONFIG_HOME", dir.Path("xdg")}, {"TAMREL_EXIT_CODES", env}};
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, args == ok ? ok_out : args == bad ? bad_out : r.out);
    }
    dir.env = {{"XDG_CONFIG_HOME", dir.Path("xdg")}, {"TAMREL_EXIT_CODES", "POSIX"}};
    RunResult r = dir.Run(ok);
    EXPECT_EQ(r.out,
              Banner(r.out) + "\nError: TAMREL_EXIT_CODES=POSIX: expected posix or classic\n");
    EXPECT_EQ(r.status, 255);
}

// Files missing from the current folder come from $XDG_CONFIG_HOME/tamrel, or else from
// ~/.config/tamrel, each named once; one in the current folder still comes first.
TEST(Startup, ConfigAndDatabaseFromTheUserConfigFolder) {
    TargetDir dir;
    dir.Configure(Cable::Usb, "W25X10");
    const std::string tail = Detect(Cable::Usb, "W25X10") + ::Identify(Cable::Usb, kW25X10) +
                             kW25X10.geometry + "\n" + kIdleStatus + "\n";
    namespace fs = std::filesystem;
    fs::create_directories(dir.Path("xdg/tamrel"));
    fs::rename(dir.Path("config.cfg"), dir.Path("xdg/tamrel/config.cfg"));
    fs::rename(dir.Path("flash_db.cfg"), dir.Path("xdg/tamrel/flash_db.cfg"));
    RunResult r = dir.Run({"-i"});
    EXPECT_EQ(r.out, Banner(r.out) + "\nUsing " + dir.Path("xdg/tamrel/config.cfg") + "\nUsing " +
                         dir.Path("xdg/tamrel/flash_db.cfg") + tail);
    EXPECT_EQ(r.status, 1);

    fs::create_directories(dir.Path("home/.config"));
    fs::rename(dir.Path("xdg/tamrel"), dir.Path("home/.config/tamrel"));
    fs::copy_file(dir.Path("home/.config/tamrel/config.cfg"), dir.Path("config.cfg"));
    dir.env = {{"XDG_CONFIG_HOME", ""}, {"HOME", dir.Path("home")}, {"TAMREL_EXIT_CODES", ""}};
    r = dir.Run({"-i"});
    EXPECT_EQ(r.out,
              Banner(r.out) + "\nUsing " + dir.Path("home/.config/tamrel/flash_db.cfg") + tail);
    EXPECT_EQ(r.status, 1);
}

}  // namespace
