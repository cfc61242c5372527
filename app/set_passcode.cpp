#include "set_passcode.hpp"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "session/passcode.hpp"
#include "session/paths.hpp"

namespace quorin {
namespace {

// One line from standard input without its line end; nullopt at the end of the input.
std::optional<std::string> readLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Asks on the terminal with echo off, so that nobody reads the code over a shoulder.
std::optional<std::string> askHidden(const char* prompt) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  termios saved{};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::optional<std::string> line = readLine();
  if (terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputs("\n", stderr);
  return line;
}

}  // namespace

int setPasscodeCommand(const std::string& kioskHome) {
  const std::string path = kioskHome.empty() ? passcodePath() : kioskHome + "/passcode";
  std::optional<std::string> code;
  if (::isatty(STDIN_FILENO)) {
    code = askHidden("New passcode (4 to 12 digits): ");
    const std::optional<std::string> again = code ? askHidden("The same again: ") : std::nullopt;
    if (!code || !again) {
      std::fputs("quorin: cancelled; nothing was changed\n", stderr);  // Ctrl-D
      return 2;
    }
    if (again != code) {
      std::fputs("quorin: the two passcodes differ; nothing was changed\n", stderr);
      return 2;
    }
  } else {
    code = readLine();
  }
  if (!code || !Passcode::isAcceptable(*code)) {
    std::fputs("quorin: a passcode is 4 to 12 digits (0-9); nothing was changed\n", stderr);
    return 2;
  }
  if (const std::optional<std::string> failure = Passcode::store(path, *code)) {
    std::fprintf(stderr, "quorin: the passcode was not changed: %s\n", failure->c_str());
    return 1;
  }
  std::fprintf(stderr, "quorin: passcode set (its hash is in %s)\n", path.c_str());
  return 0;
}

}  // namespace quorin
