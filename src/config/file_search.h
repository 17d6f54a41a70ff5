// Where config.cfg and flash_db.cfg are read from: the current folder first, then
// $XDG_CONFIG_HOME/tamrel/ (~/.config/tamrel/ when it is unset), then /etc/tamrel/; for
// flash_db.cfg last the installed share/tamrel/.
#pragma once

#include <string>
#include <vector>

struct Setup_struct;

enum ConfigFile { CONFIG_CFG, FLASH_DB_CFG };

// The path to open for `file` in this run. The first call looks it up and, when the file
// is taken from elsewhere than the current folder, prints one line naming its path. When
// no folder holds it, the plain name, so that opening it fails with the usual message.
const char* Config_File_Path(Setup_struct* setup, ConfigFile file);

// The folders looked in, in order, each ending in "/" ("" for the current folder).
std::vector<std::string> Config_Folders(ConfigFile file);
