#include "config/file_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "run/setup.h"

namespace {

const char* const kNames[] = {"config.cfg", "flash_db.cfg"};

// share/tamrel/ beside the program's own bin/ folder, wherever the installation was put; ""
// when the program is not in a bin/ folder (a build folder is no installation).
std::string Share_Beside_Program() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return std::string();
    std::string prefix(exe, static_cast<size_t>(n));
    prefix.erase(prefix.find_last_of('/'));  // drop tamrel
    const size_t slash = prefix.find_last_of('/');
    if (slash == std::string::npos || prefix.compare(slash, std::string::npos, "/bin") != 0)
        return std::string();
    prefix.erase(slash);
    return prefix + "/share/tamrel/";
}

// The first of `folders` that holds `name`, as a path; "" when none does.
std::string First_Found(const std::vector<std::string>& folders, const char* name) {
    for (const std::string& folder : folders) {
        const std::string candidate = folder + name;
        if (access(candidate.c_str(), F_OK) == 0) return candidate;
    }
    return std::string();
}

bool Same_File(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

std::vector<std::string> Config_Folders() {
    std::vector<std::string> folders = {""};
    const char* xdg = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    if (xdg != nullptr && xdg[0] == '/')  // relative values are to be ignored
        folders.push_back(std::string(xdg) + "/tamrel/");
    else if (home != nullptr && home[0] != '\0')
        folders.push_back(std::string(home) + "/.config/tamrel/");
    folders.push_back("/etc/tamrel/");
    return folders;
}

std::vector<std::string> Chip_Db_Search() {
    std::vector<std::string> files;
    const std::string user = First_Found(Config_Folders(), kNames[FLASH_DB_CFG]);
    if (!user.empty()) files.push_back(user);
    const std::string beside = Share_Beside_Program();
    std::vector<std::string> installed = {TAMREL_SHARE_DIR "/"};
    if (!beside.empty() && beside != installed[0]) installed.insert(installed.begin(), beside);
    const std::string shared = First_Found(installed, kNames[FLASH_DB_CFG]);
    if (!shared.empty() && (user.empty() || !Same_File(user, shared))) files.push_back(shared);
    return files;
}

const char* Config_File_Path(Setup_struct* setup, ConfigFile file) {
    std::string& path = file == CONFIG_CFG ? setup->config_path : setup->db_path;
    if (!path.empty()) return path.c_str();
    std::vector<std::string> found;
    if (file == FLASH_DB_CFG) {
        found = Chip_Db_Search();
        if (found.size() > 1) setup->db_installed = found[1];
    } else {
        const std::string first = First_Found(Config_Folders(), kNames[file]);
        if (!first.empty()) found.push_back(first);
    }
    path = found.empty() ? kNames[file] : found[0];
    if (path.find('/') != std::string::npos) printf("\nUsing %s", path.c_str());
    return path.c_str();
}
