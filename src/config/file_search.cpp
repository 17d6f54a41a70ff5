#include "config/file_search.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "run/setup.h"

namespace {

const char* const kNames[] = {"config.cfg", "flash_db.cfg"};

// share/tamrel/ beside the program's own bin/ folder, wherever the installation was put.
std::string Share_Beside_Program() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return std::string();
    std::string prefix(exe, static_cast<size_t>(n));
    for (int up = 0; up < 2; up++) prefix.erase(prefix.find_last_of('/'));  // drop bin/tamrel
    return prefix + "/share/tamrel/";
}

}  // namespace

std::vector<std::string> Config_Folders(ConfigFile file) {
    std::vector<std::string> folders = {""};
    const char* xdg = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    if (xdg != nullptr && xdg[0] == '/')  // relative values are to be ignored
        folders.push_back(std::string(xdg) + "/tamrel/");
    else if (home != nullptr && home[0] != '\0')
        folders.push_back(std::string(home) + "/.config/tamrel/");
    folders.push_back("/etc/tamrel/");
    if (file == FLASH_DB_CFG) {
        const std::string beside = Share_Beside_Program(), built = TAMREL_SHARE_DIR "/";
        if (!beside.empty() && beside != built) folders.push_back(beside);
        folders.push_back(built);
    }
    return folders;
}

const char* Config_File_Path(Setup_struct* setup, ConfigFile file) {
    std::string& path = file == CONFIG_CFG ? setup->config_path : setup->db_path;
    if (!path.empty()) return path.c_str();
    const char* name = kNames[file];
    path = name;
    for (const std::string& folder : Config_Folders(file)) {
        const std::string candidate = folder + name;
        if (access(candidate.c_str(), F_OK) != 0) continue;
        path = candidate;
        if (!folder.empty()) printf("\nUsing %s", path.c_str());
        break;
    }
    return path.c_str();
}
