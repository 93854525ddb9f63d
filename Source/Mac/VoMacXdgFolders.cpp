// VoMacXdgFolders.cpp - the well-known folders: home, the XDG folders, documents, the profile folders.
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"

namespace {

std::string& SharedProfilesOverride() {
  static std::string path;
  return path;
}

constexpr const char* kSharedProfiles = "/usr/local/share/color/icc";

std::string HomeFolder() {
  std::string home = VoMacEnvFolder("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(gVoSys.getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

/// $NAME when absolute, else home + fallback; "" without a home.
std::string XdgFolder(const char* name, const char* fallback) {
  std::string value = VoMacEnvFolder(name);
  if (!value.empty()) return value;
  std::string home = HomeFolder();
  if (home.empty()) return std::string();
  return VoMacJoin(home, fallback);
}

/// The value of a user-dirs.dirs line: "$HOME/..." or an absolute path in
/// double quotes, backslash escapes allowed. "" when the value is neither.
std::string UserDirsValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string value;
  if (i < text.size() && text[i] == '"') {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      value += text[i];
    }
    if (i >= text.size()) return std::string();  // unterminated
  } else {
    for (; i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '#'; ++i) value += text[i];
  }
  if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
    std::string home = HomeFolder();
    if (home.empty()) return std::string();
    return home + value.substr(5);
  }
  return value.empty() || value[0] != '/' ? std::string() : value;
}

}  // namespace

std::string VoMacEnvFolder(const char* name) {
  const char* value = getenv(name);
  if (!value || value[0] != '/') return std::string();
  return value;
}

std::string VoMacConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
std::string VoMacDataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string VoMacDocumentsFolder() {
  const char* env = getenv("XDG_DOCUMENTS_DIR");
  if (env && env[0]) {
    std::string value = env;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      std::string home = HomeFolder();
      value = home.empty() ? std::string() : home + value.substr(5);
    }
    if (!value.empty() && value[0] == '/') return value;
  }
  std::string config = VoMacConfigHome();
  if (!config.empty()) {
    bool ok;
    std::string text = VoMacReadSmallFile(VoMacJoin(config, "user-dirs.dirs"), ok);
    size_t pos = 0;
    while (ok && pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      size_t i = line.find_first_not_of(" \t");
      if (i == std::string::npos || line[i] == '#') continue;
      static const char kKey[] = "XDG_DOCUMENTS_DIR=";
      if (line.compare(i, sizeof kKey - 1, kKey) != 0) continue;
      std::string value = UserDirsValue(line.substr(i + sizeof kKey - 1));
      if (!value.empty()) return value;
    }
  }
  std::string home = HomeFolder();
  return home.empty() ? std::string() : VoMacJoin(home, "Documents");
}

std::string VoMacSharedProfilesPath() {
  const std::string& over = SharedProfilesOverride();
  return VoMacFolderPath(over.empty() ? std::string(kSharedProfiles) : over, 0755);
}

std::string VoMacUserProfilesPath() {
  std::string data = VoMacDataHome();
  return data.empty() ? std::string() : VoMacFolderPath(VoMacJoin(data, "icc"), 0700);
}

void VoMacSetSharedProfilesFolder(const char* path) { SharedProfilesOverride() = path ? path : ""; }
