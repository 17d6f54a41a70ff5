// Several cables on one machine: the listing, the choice of a USB-Blaster, one run per cable,
// and boards programmed at the same time, each by its own run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "e2e/expected.h"
#include "e2e/target_dir.h"

namespace {

typedef std::vector<std::string> Args;
typedef std::vector<uint8_t> Bytes;

// USB-Blasters A1, B2, one without a serial and A1 again on ports 1-1 to 1-4, one on 1-5 that
// reports other ids; parallel ports at 0x378 and 0x278. Each cable has a board of its own.
std::string Bench(Cable cable) {
    return std::string(cable == Cable::Usb ? "port=usb\n" : "port=lpt\n") +
           "emulate=W25X10\nemulate_usb=A1:a.bin,B2:b.bin,:c.bin,A1:d.bin,X9:x.bin:0x16C0:0x06AD\n"
           "emulate_lpt=0x378:p.bin,0x278:q.bin\n";
}

const char kIds[] = "\nSet VID: 0x9FB, PID: 0x6001";

// What follows the emulated-target line in an identification of the W25X10.
std::string Identified(Cable cable) {
    return ::Identify(cable, kW25X10) + kW25X10.geometry + "\n" + kIdleStatus + "\n";
}

// A USB-Blaster run's identification on the board of `image`; `before` from the banner on.
std::string UsbIdentified(const std::string& image, const std::string& before = kIds) {
    return before + "\n\"Altera USB-Blaster\" detected\nEmulated target: W25X10, image " + image +
           Identified(Cable::Usb);
}

TEST(ManyCables, UsbBlasterChosenBySerialIndexOrPath) {
    TargetDir dir;
    const std::string present =
        "present: 0: serial A1, path 1-1; 1: serial B2, path 1-2; 2: serial (none), path 1-3; "
        "3: serial A1, path 1-4\n";
    struct Case {
        std::string config;  // lines after the bench
        Args args;
        std::string out;  // after the banner
        int status;
    };
    const Case cases[] = {
        {"",
         {"-i"},
         UsbIdentified("a.bin", std::string(kIds) +
                                    "\nUsing USB-Blaster serial A1, path 1-1; 3 more present "
                                    "(choose one with --usb-serial=, --usb-index= or "
                                    "--usb-path=; --list shows them)"),
         1},
        {"", {"-i", "--usb-serial=B2"}, UsbIdentified("b.bin"), 1},
        {"", {"--usb-index=2", "-i"}, UsbIdentified("c.bin"), 1},
        {"", {"--usb-path=1-4", "-i"}, UsbIdentified("d.bin"), 1},
        {"", {"--usb-serial=A1", "--usb-path=1-4", "-i"}, UsbIdentified("d.bin"), 1},
        {"usb_serial=B2\n", {"-i"}, UsbIdentified("b.bin"), 1},
        {"usb_serial=A1\nusb_path=1-4\n", {"-i"}, UsbIdentified("d.bin"), 1},
        {"# usb_serial=B2\n", {"-i", "--usb-path=1-1"}, UsbIdentified("a.bin"), 1},
        // The command line's choice replaces the whole of config.cfg's.
        {"usb_serial=B2\nusb_path=1-2\n", {"--usb-index=0", "-i"}, UsbIdentified("a.bin"), 1},
        {"",
         {"--usb-serial=Z9", "-i"},
         std::string(kIds) + "\nError: no USB-Blaster has serial Z9; " + present,
         255},
        {"",
         {"--usb-serial=A1", "-i"},
         std::string(kIds) +
             "\nError: 2 USB-Blasters have serial A1, choose one by --usb-index= or "
             "--usb-path=; " +
             present,
         255},
        {"usb_index=4\n",
         {"-i"},
         std::string(kIds) + "\nError: no USB-Blaster has index 4; " + present,
         255},
        // A compatible cable that reports other ids is found once config.cfg names them.
        {"usb_vid=0x16C0\nusb_pid=0x06AD\n",
         {"-i"},
         UsbIdentified("x.bin", "\nSet VID: 0x16C0, PID: 0x6AD"),
         1},
        {"usb_vid=0x16C0\nusb_pid=0x06AD\n",
         {"-i", "--usb-path=1-2"},
         "\nSet VID: 0x16C0, PID: 0x6AD\nError: no USB-Blaster has path 1-2; present: 0: "
         "serial X9, path 1-5\n",
         255},
    };
    // The listing wires no board: no image is made or read.
    dir.Write("config.cfg", Bench(Cable::Usb));
    EXPECT_EQ(dir.Run({"--list"}).status, 1);
    EXPECT_FALSE(dir.Exists("a.bin") || dir.Exists("p.bin"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config + c.args[0]);
        dir.Write("config.cfg", Bench(Cable::Usb) + c.config);
        RunResult r = dir.Run(c.args);
        EXPECT_EQ(r.out, Banner(r.out) + c.out);
        EXPECT_EQ(r.status, c.status);
    }
    // A USB-Blaster chosen on the command line is used where config.cfg names the ByteBlaster,
    // as -p= chooses the ByteBlaster.
    dir.Write("config.cfg", Bench(Cable::Lpt));
    RunResult r = dir.Run({"-i", "--usb-serial=B2"});
    EXPECT_EQ(r.out, Banner(r.out) + UsbIdentified("b.bin"));
}

class Cables : public ::testing::TestWithParam<Cable> {
protected:
    TargetDir dir;
};

// Waits until the run writing into the FIFO `fd` has written something: it holds its cable
// from before its first frame to its end, and can't end before the FIFO is read.
bool Writing(int fd) {
    for (int i = 0; i < 6000; ++i) {
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Bytes Drain(int fd) {
    Bytes got;
    fcntl(fd, F_SETFL, 0);  // blocking from here on: read to the writer's end
    uint8_t buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + n);
    return got;
}

// A run holds its cable from opening it to its end, a killed run included: another run on that
// cable is refused at once with nothing sent; the listing marks it in use; the run holding it
// reads its board undisturbed; other cables stay free.
TEST_P(Cables, OneRunPerCable) {
    const bool usb = GetParam() == Cable::Usb;
    dir.Write("config.cfg", Bench(GetParam()));
    const Bytes q = Pattern(0x20000, 3);
    dir.WriteBytes(usb ? "b.bin" : "q.bin", q);
    const std::string second = usb ? "--usb-serial=B2" : "-p=0x278";
    const std::string busy =
        usb ? std::string(kIds) +
                  "\nError: USB-Blaster serial B2, path 1-2 is in use by another process\n"
            : "\nError: parallel port /dev/parport1 (0x278) is in use by another process\n";
    const std::string listing =
        std::string(
            "\nUSB-Blasters (USB id 0x09FB:0x6001):\n  0: serial A1, path 1-1, \"USB-Blaster\"") +
        "\n  1: serial B2, path 1-2, \"USB-Blaster\"" + (usb ? ", in use" : "") +
        "\n  2: serial (none), path 1-3, \"USB-Blaster\"\n  3: serial A1, path 1-4, \"USB-Blaster\""
        "\nParallel ports:\n  /dev/parport0 at 0x378\n  /dev/parport1 at 0x278" +
        (usb ? "" : ", in use") + "\n";
    ASSERT_EQ(0, mkfifo(dir.Path("hold.fifo").c_str(), 0600));
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "drained");
        const int fifo = open(dir.Path("hold.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fifo, 0);
        const TargetDir::Started holder = dir.Start({second, "-d", "hold.fifo"});
        ASSERT_TRUE(Writing(fifo));
        RunResult r = dir.Run({second, "-e"});
        EXPECT_EQ(r.out, Banner(r.out) + busy);
        EXPECT_EQ(r.status, 255);
        r = dir.Run({"--list"});
        EXPECT_EQ(r.out, Banner(r.out) + listing);
        EXPECT_EQ(r.status, 1);
        r = dir.Run({usb ? "--usb-index=0" : "-p=0x378", "-i"});
        EXPECT_EQ(r.out, Banner(r.out) + (usb ? UsbIdentified("a.bin")
                                              : Detect(Cable::Lpt, "W25X10", "p.bin") +
                                                    Identified(Cable::Lpt)));
        if (killed) kill(holder.pid, SIGKILL);
        const Bytes dumped = Drain(fifo);
        close(fifo);
        r = dir.Wait(holder);
        EXPECT_EQ(r.status, killed ? 1000 + SIGKILL : 1);
        EXPECT_TRUE(killed || dumped == q);
    }
    // The killed run left nothing behind that holds the cable.
    RunResult r = dir.Run({second, "-i"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(dir.ReadBytes(usb ? "b.bin" : "q.bin") == q);
}

// Four boards programmed at once, each by its own run on its own cable (chosen by serial or by
// port address), each with its own image: every run prints what a run alone prints and ends
// with status 1, and every board holds its own image with its own data in place.
TEST_P(Cables, FourBoardsAtOnce) {
    const bool usb = GetParam() == Cable::Usb;
    const char* const addresses[] = {"0x378", "0x278", "0x3BC", "0x2BC"};
    std::string usb_list, lpt_list;
    for (int k = 0; k < 4; ++k) {
        const std::string board = "board" + std::to_string(k) + ".bin";
        usb_list += (k ? "," : "") + ("S" + std::to_string(k)) + ":" + board;
        lpt_list += (k ? "," : "") + std::string(addresses[k]) + ":" + board;
        dir.WriteBytes(board, Pattern(0x20000, 40 + k));
        dir.WriteBytes("data" + std::to_string(k) + ".bin", Pattern(0x1F80, 50 + k));
    }
    dir.Write("config.cfg", std::string(usb ? "port=usb\n" : "port=lpt\n") +
                                "emulate=W25X10\nemulate_usb=" + usb_list +
                                "\nemulate_lpt=" + lpt_list + "\n");
    std::vector<TargetDir::Started> runs;
    for (int k = 0; k < 4; ++k)
        runs.push_back(dir.Start(
            {"-e", "-w", "-v", "data" + std::to_string(k) + ".bin", "-ab=0x1040",
             usb ? "--usb-serial=S" + std::to_string(k) : "-p=" + std::string(addresses[k])}));
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const RunResult r = dir.Wait(runs[k]);
        // The lone program sequence's text with this run's board, data file and port.
        std::string expected = ExpectedFile("program." + CableName(GetParam()), r.out);
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"image flash.bin", "image board" + std::to_string(k) + ".bin"},
                 {"\"data.bin\"", "\"data" + std::to_string(k) + ".bin\""},
                 {"LPT port: 0x378h", "LPT port: " + std::string(addresses[k]) + "h"}})
            for (size_t at = 0; (at = expected.find(from, at)) != std::string::npos;
                 at += to.size())
                expected.replace(at, from.size(), to);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.status, 1);
        Bytes after = Pattern(0x20000, 40 + k);
        const Bytes data = Pattern(0x1F80, 50 + k);
        std::copy(data.begin(), data.end(), after.begin() + 0x1040);
        EXPECT_TRUE(dir.ReadBytes("board" + std::to_string(k) + ".bin") == after);
    }
}

// A range erase stopped hard on the second board of a bench leaves a journal whose put-back
// command names that cable: run as given it puts the bytes back on that board and no other.
TEST_P(Cables, PutBackCommandNamesTheCable) {
    const bool usb = GetParam() == Cable::Usb;
    const std::string choose = usb ? "--usb-serial=S1" : "-p=0x278";
    const std::string bench = std::string(usb ? "port=usb\n" : "port=lpt\n") +
                              "emulate=W25X10\nemulate_usb=S0:board0.bin,S1:board1.bin\n"
                              "emulate_lpt=0x378:board0.bin,0x278:board1.bin\n";
    const Bytes zero = Pattern(0x20000, 60), one = Pattern(0x20000, 61);
    std::vector<std::string> left;
    for (int k = 2; k < 80 && left.empty(); k += 2) {  // until a stop falls after an erase
        dir.WriteBytes("board0.bin", zero);
        dir.WriteBytes("board1.bin", one);
        dir.Write("config.cfg", bench + Fmt("emulate_kill_after=%d\n", k));
        EXPECT_EQ(dir.Run({"-e", "-ab=0x1080", "-al=0x2F7F", choose}).status, 1000 + SIGKILL);
        left = dir.Journals();
    }
    ASSERT_EQ(left.size(), 1u);
    dir.Write("config.cfg", bench);
    RunResult r = dir.Run({"-i", choose});
    const std::string command = "\ntamrel -r " + left[0] + " " + choose + "\n";
    EXPECT_NE(r.out.find(command), std::string::npos) << r.out;
    r = dir.Run({"-r", left[0], choose});
    EXPECT_EQ(r.status, 1) << r.out;
    const Bytes after = dir.ReadBytes("board1.bin");
    EXPECT_TRUE(std::equal(one.begin(), one.begin() + 0x1080, after.begin()));
    EXPECT_TRUE(std::equal(one.begin() + 0x2F80, one.end(), after.begin() + 0x2F80));
    EXPECT_TRUE(dir.ReadBytes("board0.bin") == zero);
    EXPECT_TRUE(dir.Journals().empty());
}

INSTANTIATE_TEST_SUITE_P(Both, Cables, ::testing::Values(Cable::Lpt, Cable::Usb),
                         [](const auto& p) { return p.param == Cable::Lpt ? "Lpt" : "Usb"; });

}  // namespace
