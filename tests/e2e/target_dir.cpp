#include "e2e/target_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
// Longest any one run may take; the longest real one (a 64 MiB chip under ASan) takes seconds.
const unsigned kRunSeconds = 120;
}  // namespace

TargetDir::TargetDir() {
    char tmpl[] = "/tmp/tamrel-e2e-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    env = {{"XDG_CONFIG_HOME", dir_ + "/xdg"},
           {"XDG_STATE_HOME", dir_ + "/state"},
           {"TAMREL_EXIT_CODES", ""}};
    std::ifstream db(std::string(TAMREL_SOURCE_DIR) + "/flash_db.cfg", std::ios::binary);
    std::stringstream text;
    text << db.rdbuf();
    Write("flash_db.cfg", text.str());
}

TargetDir::~TargetDir() {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) perror("rm");
}

std::string TargetDir::Path(const std::string& name) const {
    return dir_ + "/" + name;
}

void TargetDir::Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
}

void TargetDir::WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream f(Path(name), std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> TargetDir::ReadBytes(const std::string& name) const {
    std::ifstream f(Path(name), std::ios::binary | std::ios::ate);
    if (!f) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

bool TargetDir::Exists(const std::string& name) const {
    struct stat st;
    return stat(Path(name).c_str(), &st) == 0;
}

std::vector<std::string> TargetDir::Journals() const {
    std::vector<std::string> paths;
    const std::string state = Path("state/tamrel");
    if (DIR* d = opendir(state.c_str())) {
        while (const struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') paths.push_back(state + "/" + e->d_name);
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

void TargetDir::ClearJournals() const {
    for (const std::string& p : Journals()) unlink(p.c_str());
}

void TargetDir::Configure(Cable cable, const std::string& chip, const std::string& extra) const {
    std::string cfg = cable == Cable::Lpt ? "port=lpt\nlptaddr=0x378\n" : "port=usb\n";
    cfg += "emulate=" + chip + "\nemulate_image=flash.bin\n" + extra;
    Write("config.cfg", cfg);
}

void TargetDir::Install() {
    namespace fs = std::filesystem;
    fs::create_directories(Path("inst/bin")), fs::create_directories(Path("inst/share/tamrel"));
    bin_ = Path("inst/bin/tamrel");
    if (link(TAMREL_BIN, bin_.c_str()) != 0) fs::copy_file(TAMREL_BIN, bin_);
    fs::rename(Path("flash_db.cfg"), Path("inst/share/tamrel/flash_db.cfg"));
}

void TargetDir::Exec(const std::vector<std::string>& args) const {
    for (const auto& [name, value] : env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    if (chdir(dir_.c_str()) != 0) _exit(127);
    if (file_size_limit_ > 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        struct rlimit rl;
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = static_cast<rlim_t>(file_size_limit_);
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(126);
    }
    // A run that hangs ends by SIGALRM (the timer outlives execv) instead of holding the suite.
    alarm(kRunSeconds);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(bin_.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin_.c_str(), argv.data());
    _exit(127);
}

RunResult TargetDir::Run(const std::vector<std::string>& args) const {
    return Wait(Start(args));
}

TargetDir::Started TargetDir::Start(const std::vector<std::string>& args) const {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);  // the copy keeps no close-on-exec
        Exec(args);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

RunResult TargetDir::RunOnTerminal(const std::vector<std::string>& args) const {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        struct termios t;
        if (tcgetattr(STDOUT_FILENO, &t) == 0) {
            t.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // no "\n" to "\r\n"
            tcsetattr(STDOUT_FILENO, TCSANOW, &t);
        }
        Exec(args);
    }
    return Collect(pid, master);  // the master reads EIO once the terminal is gone
}

// Reads `fd` to its end, then waits for the run.
RunResult TargetDir::Collect(pid_t pid, int fd) const {
    RunResult r{-1, ""};
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    close(fd);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    return r;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}
