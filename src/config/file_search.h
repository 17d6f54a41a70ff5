// Where config.cfg and flash_db.cfg are read from: the current folder first, then
// $XDG_CONFIG_HOME/tamrel/ (~/.config/tamrel/ when it is unset), then /etc/tamrel/. A
// flash_db.cfg found there is the user's own; the installed one (share/tamrel/) is searched
// after it, or alone when the user has none.
#pragma once

#include <string>
#include <vector>

struct Setup_struct;

enum ConfigFile { CONFIG_CFG, FLASH_DB_CFG };

// The path to open for `file` in this run. The first call looks it up and, when the file
// is taken from elsewhere than the current folder, prints one line naming its path. When
// no folder holds it, the plain name, so that opening it fails with the usual message.
// For flash_db.cfg this is the first file searched; setup->db_installed the second, if any.
const char* Config_File_Path(Setup_struct* setup, ConfigFile file);

// The user's folders looked in, in order, each ending in "/" ("" for the current folder).
std::vector<std::string> Config_Folders();

// The flash_db.cfg files a run searches, in order, each file once: the first found in
// Config_Folders(), then the installed one (share/tamrel/ beside the program's bin/ folder,
// else that of the prefix it was built for) when it is another file. Empty when none exists.
std::vector<std::string> Chip_Db_Search();
