// Dump, memory display, unlock, and runs that go wrong: busy chip, refused data files and
// dump files, failed dumps, image write-back, interruption.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

class Ops : public ::testing::TestWithParam<Cable> {
protected:
    void SetUp() override {
        image = Pattern(kW25X10.total, 11);
        dir.Configure(GetParam(), "W25X10");
        dir.WriteBytes("flash.bin", image);
    }
    std::string Pre(const std::string& out) const {
        return Preamble(out, GetParam(), kW25X10) + "\n";
    }

    TargetDir dir;
    std::vector<uint8_t> image;
};

// The tables of a memory display as "FIRST-LAST:N" (labels of the first and last row, bytes in
// the last row), once every byte shown has been found equal to the image at its row's address.
std::vector<std::string> Tables(const std::string& out, const std::vector<uint8_t>& image) {
    std::vector<std::string> tables;
    const std::string rule = std::string(57, '-') + "\n";
    for (size_t at = out.find(rule); at != std::string::npos; at = out.find(rule, at)) {
        at += rule.size();
        std::string first, last;
        int cells = 0;
        for (size_t end; (end = out.find('\n', at)) != std::string::npos && end - at == 58 &&
                         out[at + 6] == ':';
             at = end + 1) {
            const std::string row = out.substr(at, end - at);
            last = row.substr(0, 6);
            if (first.empty()) first = last;
            cells = 0;
            for (int col = 0, pos = 8; col < 16; ++col, pos += 3) {
                if (col == 8) pos += 2;
                const std::string cell = row.substr(pos, 2);
                if (cell == "  ") continue;
                ++cells;
                const size_t addr = std::stoul(last, nullptr, 16) + col;
                if (addr >= image.size() || std::stoul(cell, nullptr, 16) != image[addr])
                    return {"byte at " + last + Fmt("+%d", col) + " is not the image's"};
            }
        }
        tables.push_back(first + "-" + last + Fmt(":%d", cells));
    }
    return tables;
}

// One table per page, rows labelled from the first address; two pages without -al=; never
// past the chip's last byte. The literal run "show" holds a whole table as printed.
TEST_P(Ops, ShowMemoryTablesPerPage) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"-s"}, {"000000-0000F0:16", "000100-0001F0:16"}},
        {{"-s", "-al=0x13"}, {"000000-000010:4"}},
        {{"-s", "-ab=0x1000", "-al=0x11FF"}, {"001000-0010F0:16", "001100-0011F0:16"}},
        {{"-s", "-ab=0x1005"}, {"001005-0010F5:16", "001105-0011F5:16"}},
        {{"-s", "-ab=0x1FFF0"}, {"01FFF0-01FFF0:16"}},
        {{"-s", "-ab=0x1FF00", "-al=0x20000"}, {"01FF00-01FFF0:16"}},
    };
    for (const auto& [args, tables] : cases) {
        RunResult r = dir.Run(args);
        EXPECT_EQ(Tables(r.out, image), tables) << args.back();
        EXPECT_EQ(r.status, 1);
    }
}

// A failed dump removes a file only when it created it: one that was there before stays
// with what was written, under each of its names.
TEST_P(Ops, FailedDumpRemovesOnlyAFileItCreated) {
    RunResult r = dir.Run({"-d", "nosuchdir/d.bin"});
    EXPECT_EQ(r.out, Pre(r.out) + "\nError: can`t create file nosuchdir/d.bin\n\n");
    EXPECT_EQ(r.status, 255);
    r = dir.Run({"-d", "/dev/full"});
    EXPECT_EQ(r.out, Pre(r.out) + "Error: cannot write block 0 to file\n\n");
    EXPECT_EQ(r.status, 255);
    struct stat st;
    EXPECT_EQ(stat("/dev/full", &st), 0);

    dir.Write("old.bin", "an earlier dump");
    ASSERT_EQ(link(dir.Path("old.bin").c_str(), dir.Path("other.bin").c_str()), 0);
    dir.LimitFileSize(0x8000);  // the disk fills after 128 pages
    const std::string full =
        "Reading dump:\t\t0x00000100 (0%)\r...\rReading dump:\t\t0x00008000 (25%)\r"
        "Error: cannot write block 128 to file\n";
    r = dir.Run({"-d", "new.bin"});
    EXPECT_EQ(Squeeze(r.out), Squeeze(Pre(r.out) + full + "\n"));
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(dir.Exists("new.bin"));
    r = dir.Run({"-d", "old.bin"});
    EXPECT_EQ(Squeeze(r.out), Squeeze(Pre(r.out) + full +
                                      "\"old.bin\" existed before this dump: left as it is now, "
                                      "with an incomplete dump\n\n"));
    EXPECT_EQ(r.status, 255);
    const std::vector<uint8_t> written(image.begin(), image.begin() + 0x8000);
    EXPECT_TRUE(dir.ReadBytes("old.bin") == written);
    EXPECT_TRUE(dir.ReadBytes("other.bin") == written);
}

// Refused before the file or the chip is touched: a dump onto the emulated chip's image or
// onto the data file (it would be truncated first), under any of their names; a data file that
// is no regular file (a FIFO without a writer does not hold the run up) or shorter than the
// range to write, even by one byte; a write with no file named.
TEST_P(Ops, FilesRefusedBeforeAnythingIsTouched) {
    const std::vector<uint8_t> data = Pattern(0x100, 4);
    dir.WriteBytes("data.bin", data);
    ASSERT_EQ(link(dir.Path("flash.bin").c_str(), dir.Path("image.lnk").c_str()), 0);
    ASSERT_EQ(mkdir(dir.Path("dir").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0644), 0);
    const std::string image_dump = " is the emulated chip's image: dump refused\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-d", "flash.bin"}, "\nError: dump file \"flash.bin\"" + image_dump},
        {{"-d", "./flash.bin"}, "\nError: dump file \"./flash.bin\"" + image_dump},
        {{"-d", "image.lnk", "-ab=0x100"}, "\nError: dump file \"image.lnk\"" + image_dump},
        {{"-v", "data.bin", "-d", "./data.bin"},
         "\nError: dump file \"./data.bin\" is the data file \"data.bin\": dump refused\n"},
        {{"-e", "-w", "-v", "dir", "-ab=0x1000", "-al=0x11FF"},
         "\n\nError: \"dir\" is not a regular file.\n"},
        {{"-e", "-w", "-v", "fifo", "-ab=0x1000", "-al=0x11FF"},
         "\n\nError: \"fifo\" is not a regular file.\n"},
        {{"-e", "-w", "-ab=0x1000"},
         "\nError: -w needs a data file name: -w filename -ab=address_begin\n"},
        {{"-e", "-w", "-v", "data.bin", "-ab=0x1000", "-al=0x1100"},  // one byte too many
         "\nError: range 0x1000..0x1100 is longer than \"data.bin\" (0x100 Bytes): write "
         "refused\n"},
    };
    for (const auto& [args, refusal] : cases) {
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kW25X10) + refusal);
        EXPECT_EQ(r.status, 255);
    }
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == image);
    EXPECT_TRUE(dir.ReadBytes("data.bin") == data);
}

// The status register lives with the image: an unlock lasts, and emulate_status= counts
// again only when its value changes.
TEST_P(Ops, UnlockClearsProtectionOrReportsWhyNotAndLasts) {
    const std::string unlocked = "Unlocking...\nStatus = 00h, device is unlocked now.\n\n";
    const std::tuple<const char*, const char*, std::string, int> runs[] = {
        {"emulate_status=0x9C\n", "", "Status = 9Eh, WE bit is enabled\n" + unlocked, 1},
        {"emulate_status=0x9C\n", "", "Status = 02h, WE bit is enabled\n" + unlocked, 1},
        {"emulate_status=0x9C\n", "emulate_fault=no_wel\n", "Status = 00h, WE bit is disabled\n\n",
         255},
        {"emulate_status=0x1C\n", "emulate_fault=no_wel\n", "Status = 1Ch, WE bit is disabled\n\n",
         255},
        // Status writes that do not take: WP# held low by the board with SRP set (with the
        // BP bits, or with only bit 5 beside it), and a part that ignores the command.
        {"emulate_status=0x9C\n", "emulate_fault=wp_low\n",
         "Status = 9Eh, WE bit is enabled\nUnlocking...\n"
         "Status = 9Ch, unlock failed, set WP# pin level high\n.\n",
         255},
        {"emulate_status=0xA0\n", "emulate_fault=wp_low\n",
         "Status = A2h, WE bit is enabled\nUnlocking...\n"
         "Status = A0h, unlock failed, set WP# pin level high\n.\n",
         255},
        {"emulate_status=0x0C\n", "emulate_fault=no_wrsr\n",
         "Status = 0Eh, WE bit is enabled\nUnlocking...\n"
         "Status = 0Eh, unlock failed, set WP# pin level high\n.\n",
         255},
    };
    for (const auto& [status, fault, text, rc] : runs) {
        dir.Configure(GetParam(), "W25X10", std::string(status) + fault);
        RunResult r = dir.Run({"-u"});
        EXPECT_EQ(r.out, Pre(r.out) + text) << status << fault;
        EXPECT_EQ(r.status, rc);
    }
}

// Per-block locks: the global unlock, judged from the block-protection register. A chip that
// ignores 0x98 stays locked, whatever its status register says.
TEST_P(Ops, UnlockOfPerBlockLocks) {
    const std::string by_name = "\nOperation by chip name.\nDevice name:\t\"SST26VF016B\"" +
                                std::string("\nSearch chip in:\tflash_db.cfg - OK\n") +
                                CommandSetup(kSST26VF016B) + kSST26VF016B.geometry + "\n";
    const std::tuple<const char*, int, const char*> cases[] = {
        {"SST26VF016B", 1, "Status = 00h, device is unlocked now.\n\n"},
        {"W25X10", 255,
         "\nWarning: the chip answers id 0xEF 0x3011 0x0000, the record taken by -n=SST26VF016B "
         "has 0xBF 0x2641\nStatus = 02h, WE bit is enabled\nUnlocking...\n"
         "Status = 02h, unlock failed, set WP# pin level high\n.\n"},
    };
    for (const auto& [chip, status, last] : cases) {
        std::remove(dir.Path("flash.bin").c_str());
        dir.Configure(GetParam(), chip);
        RunResult r = dir.Run({"-n=SST26VF016B", "-u"});
        const std::string unlocked =
            status == 1 ? "Status = 02h, WE bit is enabled\nUnlocking...\n" : "";
        EXPECT_EQ(r.out, Banner(r.out) + Detect(GetParam(), chip) + by_name + unlocked + last);
        EXPECT_EQ(r.status, status);
    }

    // Locked at power-up, the part would take erase and program frames and ignore them; so
    // would one whose only lock is bit 0, in the last byte of the register.
    std::remove(dir.Path("flash.bin").c_str());
    dir.WriteBytes("data.bin", Pattern(0x100, 3));
    for (const char* fault : {"one_block_locked", "none"}) {
        dir.Configure(GetParam(), "SST26VF016B",
                      "emulate_stats=stats.json\nemulate_fault=" + std::string(fault) + "\n");
        for (const char* op : {"-e", "-w"}) {
            RunResult r = dir.Run({op, "data.bin", "-ab=0x1000"});
            EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kSST26VF016B) +
                                 "\n\nError: the block-protection register locks blocks, " +
                                 (op[1] == 'e' ? "erase" : "write") + " refused; -u clears it\n\n")
                << fault;
            EXPECT_EQ(r.status, 255);
        }
    }
    const std::vector<uint8_t> stats = dir.ReadBytes("stats.json");
    EXPECT_EQ(std::string(stats.begin(), stats.end()).find("\"0x20\""), std::string::npos);
    EXPECT_EQ(std::string(stats.begin(), stats.end()).find("\"0x02\""), std::string::npos);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == std::vector<uint8_t>(kSST26VF016B.total, 0xFF));

    // The chip stays powered between runs: once unlocked, the program sequence goes through.
    EXPECT_EQ(dir.Run({"-u"}).status, 1);
    const std::vector<uint8_t> kept = dir.ReadBytes("flash.bin.status");
    EXPECT_EQ(std::string(kept.begin(), kept.end()),
              "status=0x00 emulate_status=0x00 blocks=unlocked\n");
    EXPECT_EQ(dir.Run({"-e", "-w", "-v", "data.bin", "-ab=0x1000"}).status, 1);
    std::vector<uint8_t> programmed(kSST26VF016B.total, 0xFF);
    const std::vector<uint8_t> data = Pattern(0x100, 3);
    std::copy(data.begin(), data.end(), programmed.begin() + 0x1000);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == programmed);
}

// A chip that stays busy past a wait's time-out: a hung one, and slow ones that are ready
// again after 5 s (page programs: a 4 s wait), 21 s (erase units: 20 s) or 25 s (a status
// write, a head program after an erase: 20 s). Nothing is sent while it is busy, nothing it did not
// take is reported done, and the run fails; the image holds exactly what the chip took.
TEST_P(Ops, ChipBusyPastTheTimeOut) {
    const std::string timeout = "\nError: Wait_WriteBusy exit by timeout";
    const std::vector<uint8_t> data = Pattern(0x300, 3);
    dir.WriteBytes("data.bin", data);
    std::vector<uint8_t> blank = image;  // erased where the data goes
    std::fill(blank.begin() + 0x1000, blank.begin() + 0x2000, 0xFF);
    std::vector<uint8_t> first_page = blank, first_unit = image, page_erased = image;
    std::copy(data.begin(), data.begin() + 0x100, first_page.begin() + 0x1000);
    std::fill(first_unit.begin() + 0x1000, first_unit.begin() + 0x2000, 0xFF);
    std::fill(page_erased.begin() + 0x1000, page_erased.begin() + 0x1100, 0xFF);
    std::vector<uint8_t> page_written = page_erased;
    std::copy(data.begin(), data.begin() + 0x100, page_written.begin() + 0x1000);
    const std::tuple<const char*, std::vector<std::string>, const std::vector<uint8_t>*,
                     std::string, const std::vector<uint8_t>*>
        cases[] = {
            // The erase command is taken and never ends; the tail can't be programmed back,
            // so it goes to a file.
            {"busy",
             {"-e", "-w", "-v", "data.bin", "-ab=0x1000"},
             &image,
             "\nStatus:\t\t0x02h\tWE enabled\nFile: \"data.bin\"\tsize: 0x300 Bytes, Occupy "
             "Sectors: 1\nRead data Tail:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
                 timeout + timeout + timeout +
                 "\nError: the tail bytes 0x00001300-0x00001FFF were not programmed back after "
                 "their "
                 "unit's erase; saved in tamrel-tail-0x00001300.bin, put them back with: tamrel "
                 "-w tamrel-tail-0x00001300.bin -ab=0x1300\n\n",
             &first_unit},
            {"slow:5000",
             {"-w", "data.bin", "-ab=0x1000"},
             &blank,
             "\nRead data Tail:\tS1\tOK Tail empty\nFile: \"data.bin\"\tsize: 0x300 Bytes"
             "\nRequire Sector:\t\t1 x 4096 Bytes\nWrite data:\t\t0x00001100 (33%)\r" +
                 timeout + "\n",
             &first_page},
            // The page is taken, the tail's first page program times out.
            {"slow:5000",
             {"-w", "data.bin", "-ab=0x1000", "-al=0x10FF"},
             &page_erased,
             "\nRead data Tail:\tS1\tOK\nFile: \"data.bin\"\tsize: 0x300 Bytes"
             "\nRequire Sector:\t\t1 x 4096 Bytes\nWrite data:\t\t0x00001100 (100%)\r" +
                 timeout + "\n",
             &page_written},
            {"slow:21000",
             {"-e", "-ab=0x1000", "-al=0x2FFF"},
             &image,
             "\nStatus:\t\t0x02h\tWE enabled\n\rErase Sector:\t1->1\tOK" + timeout + "\n",
             &first_unit},
            // The head's program times out 24 s after the erase; the chip is ready again
            // before the run ends, but the head was never taken.
            {"slow:25000",
             {"-e", "-ab=0x1080", "-al=0x1FFF"},
             &image,
             "\nStatus:\t\t0x02h\tWE enabled\nRead data Head:\tS1\tOK\n\rErase Sector:\t1->1\tOK" +
                 timeout + timeout +
                 "\n\nError: the head bytes 0x00001000-0x0000107F were not programmed back after "
                 "their unit's erase; saved in tamrel-head-0x00001000.bin, put them back with: "
                 "tamrel -w tamrel-head-0x00001000.bin -ab=0x1000\n\n",
             &first_unit},
            {"slow:25000",
             {"-u"},
             &image,
             "Status = 9Eh, WE bit is enabled\nUnlocking...\n" + timeout +
                 "Status = 03h, unlock failed, set WP# pin level high\n.\n",
             &image},
        };
    for (const auto& [fault, args, before, text, after] : cases) {
        SCOPED_TRACE(fault);
        dir.WriteBytes("flash.bin", *before);
        const std::string status = args[0] == "-u" ? "emulate_status=0x9C\n" : "";
        dir.Configure(GetParam(), "W25X10", status + "emulate_fault=" + fault + "\n");
        std::remove(dir.Path("flash.bin.status").c_str());
        RunResult r = dir.Run(args);
        EXPECT_EQ(r.out, Pre(r.out) + text);
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == *after);
        // Bytes that were not put back stay in the journal too.
        const bool rescued = text.find("not programmed back") != std::string::npos;
        EXPECT_EQ(dir.Journals().size(), rescued ? 1u : 0u);
        dir.ClearJournals();
    }
    // The rescued tail holds the bytes the chip lost, and the command given puts them back.
    EXPECT_TRUE(dir.ReadBytes("tamrel-tail-0x00001300.bin") ==
                std::vector<uint8_t>(image.begin() + 0x1300, image.begin() + 0x2000));
    EXPECT_TRUE(dir.ReadBytes("tamrel-head-0x00001000.bin") ==
                std::vector<uint8_t>(image.begin() + 0x1000, image.begin() + 0x1080));
    dir.WriteBytes("flash.bin", first_unit);
    dir.Configure(GetParam(), "W25X10");
    EXPECT_EQ(dir.Run({"-w", "tamrel-tail-0x00001300.bin", "-ab=0x1300"}).status, 1);
    std::vector<uint8_t> put_back = image;
    std::fill(put_back.begin() + 0x1000, put_back.begin() + 0x1300, 0xFF);
    EXPECT_TRUE(dir.ReadBytes("flash.bin") == put_back);
}

// The image is written back before the exit status is given: a failed write-back fails the run.
TEST_P(Ops, ImageThatCannotBeWrittenBackFailsTheRun) {
    dir.LimitFileSize(0x10000);
    RunResult r = dir.Run({"-e"});
    EXPECT_EQ(r.out, Pre(r.out) +
                         "\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait..."
                         "\nErase done\n\nError: can`t write emulate_image flash.bin: File too "
                         "large\n");
    EXPECT_EQ(r.status, 255);
}

// Ctrl-C or SIGTERM after a given number of frames, before the first erase command, during
// the erase and during the write: every byte outside the requested range must survive.
TEST_P(Ops, InterruptKeepsEverythingOutsideTheRange) {
    const std::vector<uint8_t> data = Pattern(0x2800, 9);
    dir.WriteBytes("data.bin", data);
    for (const char* signal : {"SIGINT", "SIGTERM"}) {
        for (int frames : {6, 10, 120}) {
            for (const char* only_changed : {"-w", "-c"}) {  // also read first, changed units
                SCOPED_TRACE(Fmt("%s after %d frames %s", signal, frames, only_changed));
                dir.WriteBytes("flash.bin", image);
                dir.Configure(GetParam(), "W25X10",
                              Fmt("emulate_interrupt_after=%d\nemulate_interrupt_signal=%s\n",
                                  frames, signal));
                RunResult r = dir.Run({"-e", "-w", only_changed, "-v", "data.bin", "-ab=0x1080"});
                EXPECT_EQ(r.status, 255);
                const std::string line =
                    "\nInterrupted: operation stopped, adapter powered down.\n";
                EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), line.size())), line);
                const std::vector<uint8_t> after = dir.ReadBytes("flash.bin");
                ASSERT_EQ(after.size(), image.size());
                EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x1080, after.begin()));
                EXPECT_TRUE(
                    std::equal(image.begin() + 0x3880, image.end(), after.begin() + 0x3880));
                EXPECT_TRUE(dir.Journals().empty());  // the kept bytes read back
            }
        }
    }
}

// A chip erase runs on by itself: an interrupt ends the wait for it at once.
TEST_P(Ops, InterruptDuringChipEraseStopsWaiting) {
    dir.Configure(GetParam(), "S25FL128Sxxxxxx1",
                  "emulate_interrupt_after=5\nemulate_stats=stats.json\n");
    std::remove(dir.Path("flash.bin").c_str());
    RunResult r = dir.Run({"-e"});
    EXPECT_EQ(r.out, Preamble(r.out, GetParam(), kS25FL128S1) +
                         "\n\nStatus:\t\t0x02h\tWE enabled\nChip full erase, please wait...\n"
                         "\nInterrupted: operation stopped, adapter powered down.\n");
    EXPECT_EQ(r.status, 255);
    // One status poll after the interrupt, not the dozen a 16 MiB erase would take.
    const std::vector<uint8_t> stats = dir.ReadBytes("stats.json");
    EXPECT_NE(std::string(stats.begin(), stats.end()).find("\"0x05\":2,"), std::string::npos);
}

// The cable is pulled after N frames (the emulated target's drop): the operation stops at the
// next frame with the cable's error, reports nothing more as done, powers down and fails; the
// image holds exactly what reached the chip, and a dump file begun is removed.
TEST_P(Ops, LostCableStopsTheOperationAtTheNextFrame) {
    const std::string lost =
        GetParam() == Cable::Lpt
            ? "\nError: cable \"LPT Byte Blaster\" lost: a parallel port access failed, "
              "operation stopped\n"
            : "\nError: cable \"USB-Blaster\" lost: a USB transfer failed or came back short, "
              "operation stopped\n";
    // Bytes kept from a unit whose erase went out, and that could not be put back.
    const std::string rescued =
        "\nError: the head bytes 0x00001000-0x0000107F were not programmed back after their "
        "unit's erase; saved in tamrel-head-0x00001000.bin, put them back with: tamrel -w "
        "tamrel-head-0x00001000.bin -ab=0x1000\n"
        "\nError: the tail bytes 0x00001100-0x00001FFF were not programmed back after their "
        "unit's erase; saved in tamrel-tail-0x00001100.bin, put them back with: tamrel -w "
        "tamrel-tail-0x00001100.bin -ab=0x1100\n";
    dir.WriteBytes("same.bin",
                   std::vector<uint8_t>(image.begin() + 0x1000, image.begin() + 0x9000));
    const std::vector<uint8_t> data = Pattern(0x2000, 5);
    dir.WriteBytes("data.bin", data);
    std::vector<uint8_t> erased = image, programmed = image;
    std::fill(erased.begin() + 0x1000, erased.begin() + 0x2000, 0xFF);
    for (int i = 0; i < 0x100; ++i) programmed[0x1000 + i] &= data[i];  // bits only go to 0
    // Frames: the id read, then the operation's. A read takes 16 KiB (64 pages) per frame.
    const std::tuple<std::vector<std::string>, int, std::string, const std::vector<uint8_t>*,
                     std::string>
        cases[] = {
            {{"-d", "d.bin"},
             2,
             "Reading dump:\t\t0x00000100 (0%)\r...\rReading dump:\t\t0x00004000 (12%)\r",
             &image,
             ""},
            {{"-v", "same.bin", "-ab=0x1000"},
             2,
             "\nFile: \"same.bin\"\tsize: 0x8000 Bytes\nVerify Sectors:\t\t8 x 4096 Bytes\n"
             "Verify data:\t\t0x00001100 (0%)\r...\rVerify data:\t\t0x00005000 (50%)\r",
             &image,
             ""},
            // Write enable, status, then per unit: status, write enable, erase.
            {{"-e", "-ab=0x1000", "-al=0x4FFF"},
             6,
             "\nStatus:\t\t0x02h\tWE enabled\n\rErase Sector:\t1->1\tOK",
             &erased,
             ""},
            // Write enable, status, head read, tail read, then the unit's erase.
            {{"-e", "-ab=0x1080", "-al=0x10FF"},
             8,
             "\nStatus:\t\t0x02h\tWE enabled\nRead data Head:\tS1\tOK\nRead data Tail:\tS1\tOK"
             "\n\rErase Sector:\t1->1\tOK",
             &erased,
             rescued},
            // Status, the latch check (write enable, status, write disable), then per page:
            // status, write enable, program.
            {{"-w", "data.bin", "-ab=0x1000"},
             8,
             "\nFile: \"data.bin\"\tsize: 0x2000 Bytes\nRequire Sector:\t\t2 x 4096 Bytes\n"
             "Write data:\t\t0x00001100 (3%)\r",
             &programmed,
             ""},
        };
    for (const auto& [args, frames, done, after, rescue] : cases) {
        SCOPED_TRACE(args[0]);
        dir.WriteBytes("flash.bin", image);
        dir.Configure(GetParam(), "W25X10", Fmt("emulate_drop_after=%d\n", frames));
        RunResult r = dir.Run(args);
        EXPECT_EQ(Squeeze(r.out), Squeeze(Pre(r.out) + done + lost + rescue + "\n"));
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(dir.ReadBytes("flash.bin") == *after);
        EXPECT_FALSE(dir.Exists("d.bin"));
        EXPECT_EQ(dir.Journals().size(), rescue.empty() ? 0u : 1u);
        dir.ClearJournals();
    }
    EXPECT_TRUE(dir.ReadBytes("tamrel-head-0x00001000.bin") ==
                std::vector<uint8_t>(image.begin() + 0x1000, image.begin() + 0x1080));
    EXPECT_TRUE(dir.ReadBytes("tamrel-tail-0x00001100.bin") ==
                std::vector<uint8_t>(image.begin() + 0x1100, image.begin() + 0x2000));
}

INSTANTIATE_TEST_SUITE_P(Cables, Ops, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
