#include "flash/journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fileutil/file_utils.h"

namespace {

const char kMagic[] = "tamrel journal 1\n";
const char kSuffix[] = ".journal";
const unsigned long kMaxBlock = 0x4000000;  // far above any erase unit

// This run's journal stays open and locked until it goes: runs on other cables meet it in
// the same folder while this one is still working, and a lock dies with its process.
int g_held = -1;

// True when a running tamrel holds the journal at `path` (its run is not over).
bool held_by_a_run(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

uint32_t crc32(const unsigned char* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// $XDG_STATE_HOME/tamrel, or ~/.local/state/tamrel; "" when neither can be named.
std::string journal_dir() {
    const char* state = getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/tamrel";
    const char* home = getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.local/state/tamrel";
    return "";
}

bool sync_dir(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// mkdir -p, syncing each parent a folder was made in, so the path outlives a power cut.
bool make_dirs(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.rfind('/');
    const std::string parent = slash == 0 ? "/" : dir.substr(0, slash);
    if (slash == std::string::npos || !make_dirs(parent)) return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return sync_dir(parent);
}

std::string text_of(const Journal& j) {
    std::string t = kMagic;
    char line[128];
    snprintf(line, sizeof line, "chip %s %s\n", j.chip.c_str(), j.name.c_str());
    t += line;
    if (!j.cable.empty()) t += "cable " + j.cable + "\n";
    for (const JournalBlock& b : j.blocks) {
        snprintf(line, sizeof line, "block 0x%08lX 0x%lX crc32 0x%08X\n", b.addr,
                 static_cast<unsigned long>(b.data.size()), crc32(b.data.data(), b.data.size()));
        t += line;
    }
    t += "data\n";
    for (const JournalBlock& b : j.blocks) t.append(b.data.begin(), b.data.end());
    return t;
}

// The command line for a path: quoted when the shell would split or expand it.
std::string shell_word(const std::string& path) {
    const bool plain =
        path.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+=:,") ==
        std::string::npos;
    if (plain) return path;
    std::string q = "'";
    for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

std::string Journal_Chip_Id(const Setup_struct* s) {
    char id[16];
    snprintf(id, sizeof id, "0x%02X%04X", s->mnf_id, s->jedec_id);
    return id;
}

int Journal_Write(const Journal& j, std::string* path) {
    const std::string dir = journal_dir();
    if (dir.empty()) {
        printf(
            "\nError: neither XDG_STATE_HOME nor HOME is set: no journal folder, erase "
            "refused\n");
        return -1;
    }
    if (!make_dirs(dir)) {
        printf("\nError: can`t make the journal folder %s: %s, erase refused\n", dir.c_str(),
               strerror(errno));
        return -1;
    }
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string text = text_of(j);
    for (int n = 0; n < 100; ++n) {
        std::string name = "/tamrel-" + std::string(stamp) + "-" + std::to_string(getpid());
        if (n > 0) name += "-" + std::to_string(n);
        *path = dir + name + kSuffix;
        // Written and locked under another name first: no other run meets it half-made or
        // unlocked.
        const std::string part = *path + ".part";
        if (access(path->c_str(), F_OK) == 0) continue;
        const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        bool ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                  Write_All(fd, text.data(), text.size()) && fsync(fd) == 0 &&
                  rename(part.c_str(), path->c_str()) == 0;
        const int err = errno;
        if (ok && sync_dir(dir)) {
            if (g_held >= 0) close(g_held);
            g_held = fd;
            return 1;
        }
        if (fd >= 0) {
            unlink(part.c_str());
            unlink(path->c_str());
            close(fd);
        }
        printf("\nError: can`t write the journal %s: %s, erase refused\n", path->c_str(),
               strerror(err));
        path->clear();
        return -1;
    }
    printf("\nError: can`t name a new journal in %s, erase refused\n", dir.c_str());
    path->clear();
    return -1;
}

bool Journal_In_Use(const std::string& path) {
    if (!held_by_a_run(path)) return false;
    printf("\nError: the journal %s belongs to a run still at work: put-back refused\n",
           path.c_str());
    return true;
}

int Journal_Read(const std::string& path, Journal* j) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        printf("\nError: can`t read the journal %s: %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    char line[160];
    bool ok = fgets(line, sizeof line, f) && strcmp(line, kMagic) == 0;
    char chip[16] = "", name[64] = "";
    ok = ok && fgets(line, sizeof line, f) && sscanf(line, "chip %15s %63s", chip, name) >= 1;
    j->chip = chip;
    j->name = name;
    j->cable.clear();
    j->blocks.clear();
    std::vector<uint32_t> sums;
    bool more = ok && fgets(line, sizeof line, f);
    if (more && strncmp(line, "cable ", 6) == 0) {
        j->cable.assign(line + 6, strcspn(line + 6, "\n"));
        more = fgets(line, sizeof line, f) != nullptr;
    }
    while (ok && more && strcmp(line, "data\n") != 0) {
        unsigned long addr = 0, len = 0;
        unsigned sum = 0;
        ok = sscanf(line, "block %lx %lx crc32 %x", &addr, &len, &sum) == 3 && len > 0 &&
             len <= kMaxBlock;
        if (ok) j->blocks.push_back({addr, std::vector<unsigned char>(len)});
        sums.push_back(sum);
        more = fgets(line, sizeof line, f) != nullptr;
    }
    ok = ok && more && strcmp(line, "data\n") == 0 && !j->blocks.empty();
    for (size_t i = 0; ok && i < j->blocks.size(); ++i) {
        std::vector<unsigned char>& d = j->blocks[i].data;
        ok = fread(d.data(), 1, d.size(), f) == d.size() && crc32(d.data(), d.size()) == sums[i];
    }
    ok = ok && fgetc(f) == EOF;
    fclose(f);
    if (!ok)
        printf("\nError: the journal %s is damaged (its checksum or layout is wrong)\n",
               path.c_str());
    return ok ? 1 : -1;
}

int Journal_Remove(const std::string& path) {
    const size_t slash = path.rfind('/');
    const bool gone = unlink(path.c_str()) == 0 && sync_dir(path.substr(0, slash));
    if (g_held >= 0) close(g_held);
    g_held = -1;
    if (gone) return 1;
    printf("\nError: can`t remove the journal %s: %s\n", path.c_str(), strerror(errno));
    return -1;
}

std::string Journal_Ranges(const Journal& j) {
    std::string ranges;
    for (const JournalBlock& b : j.blocks) {
        char r[48];
        snprintf(r, sizeof r, "%s0x%08lX-0x%08lX", ranges.empty() ? "" : ", ", b.addr,
                 b.addr + b.data.size() - 1);
        ranges += r;
    }
    return ranges;
}

void Journal_Notice() {
    const std::string dir = journal_dir();
    DIR* d = dir.empty() ? nullptr : opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (const struct dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        const size_t k = strlen(kSuffix);
        if (n.size() > k && n.compare(n.size() - k, k, kSuffix) == 0) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        const std::string path = dir + "/" + n;
        if (held_by_a_run(path)) continue;  // its run is still at work, on another cable
        FILE* f = fopen(path.c_str(), "rb");
        if (!f) continue;
        // The header only: the bytes are checked when they are put back.
        Journal j;
        char line[160];
        if (fgets(line, sizeof line, f) && strcmp(line, kMagic) == 0 &&
            fgets(line, sizeof line, f)) {
            char id[16] = "", name[64] = "";
            if (sscanf(line, "chip %15s %63s", id, name) >= 1) j.chip = id, j.name = name;
            unsigned long addr = 0, len = 0;
            bool more = fgets(line, sizeof line, f) != nullptr;
            if (more && strncmp(line, "cable ", 6) == 0) {
                j.cable.assign(line + 6, strcspn(line + 6, "\n"));
                more = fgets(line, sizeof line, f) != nullptr;
            }
            while (more && sscanf(line, "block %lx %lx", &addr, &len) == 2 && len > 0 &&
                   len <= kMaxBlock) {
                j.blocks.push_back({addr, std::vector<unsigned char>(len)});
                more = fgets(line, sizeof line, f) != nullptr;
            }
        }
        fclose(f);
        const std::string chip = j.chip.empty()   ? std::string("(unreadable)")
                                 : j.name.empty() ? j.chip
                                                  : j.chip + " (" + j.name + ")";
        printf(
            "\nWarning: journal %s holds bytes of chip %s that an erase cleared and no run "
            "has read back: %s; put them back on that chip with:\ntamrel -r %s%s%s\n",
            path.c_str(), chip.c_str(), j.blocks.empty() ? "unknown" : Journal_Ranges(j).c_str(),
            shell_word(path).c_str(), j.cable.empty() ? "" : " ", shell_word(j.cable).c_str());
    }
}
