// VoMacContrast.cpp - the display contrast preference in the user's configuration folder.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <string>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"
#include "VoCore/VoError.h"
#include "VoData/VoDataBase.h"
#include "VoData/VoDecimalPrivate.h"

namespace {

constexpr const char* kContrastKey = "contrast";

std::string PreferenceFile() {
  std::string config = VoMacConfigHome();
  return config.empty() ? std::string() : VoMacJoin(config, "com.apple.universalaccess.txt");
}

/// A finite number that is the whole text (blanks around it allowed), read
/// with "." as the decimal point whatever the process's locale.
bool ParseNumber(const VoString& text, double& value) {
  const char* s = text.c_str();
  const char* end = s;
  const double v = VoDecimalRead(s, &end);
  if (end == s) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0 || !std::isfinite(v)) return false;
  value = v;
  return true;
}

/// The preference file's text (at most 16 MiB); \p ok false when it cannot
/// be read, errno telling why. Opened without blocking and read only when it
/// is a regular file: a FIFO or device in its place is no preference file
/// (EINVAL) and never holds the caller.
std::string ReadPreferenceFile(const std::string& path, bool& ok) {
  ok = false;
  std::string text;
  VoSysFd fd;
  if (!VoSysOpenAt(fd, AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY).Ok()) return text;
  struct stat st {};
  int err = VoSysRetry([&] { return gVoSys.fstatat(fd.Get(), "", &st, AT_EMPTY_PATH); }) != 0 ? errno
            : S_ISREG(st.st_mode)                                                             ? 0
                                                                                              : EINVAL;
  char buffer[4096];
  while (err == 0) {
    const ssize_t n = VoSysRetry([&] { return gVoSys.read(fd.Get(), buffer, sizeof buffer); });
    if (n == 0) break;
    if (n < 0) err = errno;
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > (1u << 24)) err = EFBIG;  // no preference file is this large
  }
  if (err == 0) err = fd.Close().error;
  if (err != 0) {
    errno = err;
    return std::string();
  }
  ok = true;
  return text;
}

/// What reading the preference file found.
enum class PrefFile { Missing, Read, Damaged };

/// Reads the preference file into \p db. Damaged: the file exists but cannot
/// be read (no permission, an I/O error, too large) or does not parse to its
/// end; \p db then holds the entries read before the damage.
PrefFile ReadPreferences(VoDataBase& db) {
  std::string file = PreferenceFile();
  if (file.empty()) return PrefFile::Missing;
  bool ok;
  errno = 0;
  std::string text = ReadPreferenceFile(file, ok);
  if (!ok) return errno == ENOENT ? PrefFile::Missing : PrefFile::Damaged;
  // As ReadFromString reads, but a "}" closing the top level ends that
  // reader silently: anything behind it makes the file damaged.
  const VoString content = VoMacString(text);
  long pos = 0;
  try {
    db.Clear();
    if (VoDataBase::GetNextChar(content, pos) != '{') pos = 0;
    db.String2DB(content, pos);
    if (VoDataBase::GetNextChar(content, pos) != 0) return PrefFile::Damaged;
  } catch (const VoError&) {
    return PrefFile::Damaged;
  }
  return PrefFile::Read;
}

/// The stored contrast of \p db as GetMacContrastEnhancement reads it.
double StoredContrast(VoDataBase& db) {
  double value = 0.0;
  if (db.Exists(kContrastKey) && !ParseNumber(db.GetString(kContrastKey), value)) value = 0.0;
  return value;
}

}  // namespace

double GetMacContrastEnhancement() {
  VoDataBase db;
  return ReadPreferences(db) == PrefFile::Missing ? 0.0 : StoredContrast(db);
}

bool SetMacContrastEnhancement(double value) {
  if (!std::isfinite(value)) return false;
  VoDataBase db;
  const PrefFile found = ReadPreferences(db);
  // A file that cannot be read or parsed whole is left as it is: writing it
  // back would lose the settings behind the damage.
  if (found == PrefFile::Damaged) return false;
  if (StoredContrast(db) == value) return false;
  std::string file = PreferenceFile();
  if (file.empty() || !VoMacMakeFolders(VoMacConfigHome(), 0700)) return false;
  db.SetString(kContrastKey, VoDecimalShortest(value));
  try {
    db.WriteToFile(VoFileSpec(VoMacString(file)));  // the database's safe replacement
  } catch (const VoError&) {
    return false;
  }
  return true;
}
