// Where the kiosk keeps its files: the kiosk home (settings) and the documents folder (results).
#pragma once

#include <string>

namespace quorin {

// $QUORIN_HOME when set, else $XDG_DATA_HOME/quorin (or ~/.local/share/quorin).
std::string kioskHome();
// $QUORIN_HOME/Documents when QUORIN_HOME is set, else the user's XDG documents folder.
std::string documentsFolder();
// The settings database inside kioskHome().
std::string settingsDatabasePath();
// The administrator passcode's hash inside kioskHome() (absent: the out-of-the-box code).
std::string passcodePath();

}  // namespace quorin
