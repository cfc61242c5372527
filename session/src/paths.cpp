#include "session/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "path_text.hpp"

namespace quorin {
namespace {

using detail::environment;
using detail::withoutTrailingSlashes;

// XDG variables must hold absolute paths; a relative one is ignored.
std::optional<std::string> absoluteEnvironment(const char* name) {
  std::optional<std::string> value = environment(name);
  if (value && value->front() != '/') return std::nullopt;
  return value;
}

std::string join(const std::string& folder, std::string_view name) {
  std::string path = withoutTrailingSlashes(folder);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

// $HOME, else the password database's entry for this user, else the root folder.
std::string homeFolder() {
  if (std::optional<std::string> home = environment("HOME")) return withoutTrailingSlashes(*home);
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
    return withoutTrailingSlashes(found->pw_dir);
  }
  return "/";
}

// The value of one line of user-dirs.dirs, a shell assignment written by xdg-user-dirs-update:
// XDG_DOCUMENTS_DIR="$HOME/Documents" or XDG_DOCUMENTS_DIR="/absolute/path", with backslash
// escapes inside the quotes. nullopt for a value of any other form, which the format does not
// allow.
std::optional<std::string> documentsValue(std::string_view line, const std::string& home) {
  constexpr std::string_view kName = "XDG_DOCUMENTS_DIR=";
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  line.remove_prefix(start);
  if (line.substr(0, kName.size()) != kName) return std::nullopt;
  line.remove_prefix(kName.size());

  std::string value;
  if (!line.empty() && line.front() == '"') {
    bool closed = false;
    for (std::size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value.push_back(line[++i]);
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value.push_back(line[i]);
      }
    }
    if (!closed) return std::nullopt;
  } else {
    value = std::string(line.substr(0, line.find_first_of(" \t#")));
  }

  constexpr std::string_view kHome = "$HOME";
  if (value.compare(0, kHome.size(), kHome) == 0 &&
      (value.size() == kHome.size() || value[kHome.size()] == '/')) {
    return withoutTrailingSlashes(home + value.substr(kHome.size()));
  }
  if (!value.empty() && value.front() == '/') return withoutTrailingSlashes(value);
  return std::nullopt;
}

// The documents folder named in $XDG_CONFIG_HOME/user-dirs.dirs; the last valid assignment wins,
// as it would when the shell reads the file.
std::optional<std::string> xdgDocumentsFolder(const std::string& home) {
  const std::string config = absoluteEnvironment("XDG_CONFIG_HOME").value_or(join(home, ".config"));
  std::ifstream file(join(config, "user-dirs.dirs"));
  std::optional<std::string> folder;
  std::string line;
  while (std::getline(file, line)) {
    if (std::optional<std::string> value = documentsValue(line, home)) folder = std::move(value);
  }
  return folder;
}

}  // namespace

std::string kioskHome() {
  if (std::optional<std::string> kiosk = environment("QUORIN_HOME")) {
    return withoutTrailingSlashes(*kiosk);
  }
  if (std::optional<std::string> data = absoluteEnvironment("XDG_DATA_HOME")) {
    return join(*data, "quorin");
  }
  return join(homeFolder(), ".local/share/quorin");
}

std::string documentsFolder() {
  if (std::optional<std::string> kiosk = environment("QUORIN_HOME")) {
    return join(*kiosk, "Documents");
  }
  const std::string home = homeFolder();
  return xdgDocumentsFolder(home).value_or(join(home, "Documents"));
}

std::string settingsDatabasePath() { return join(kioskHome(), "settings.sqlite3"); }

std::string passcodePath() { return join(kioskHome(), "passcode"); }

}  // namespace quorin
