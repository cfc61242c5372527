// `quorin --set-passcode`: staff replace the out-of-the-box export passcode from a terminal.
#pragma once

#include <string>

namespace quorin {

// Asks for the new passcode twice on a terminal (not echoed), or reads one line from standard
// input when that is not a terminal, and stores its hash in `kioskHome` ("" for the usual kiosk
// home). Returns the process's exit status: 0 stored, 1 not stored, 2 not a valid passcode.
int setPasscodeCommand(const std::string& kioskHome);

}  // namespace quorin
