// VoMacVolumes.cpp - volume and folder numbers of the legacy records, and the table of numbered folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "Mac/VoMacBridgePrivate.h"

namespace {

constexpr size_t kFolderTableSize = 1024;

struct FolderEntry {
  short volume;
  long folder;
  std::string path;  // ends in "/"
};

std::vector<dev_t>& Volumes() {
  static std::vector<dev_t> volumes;
  return volumes;
}

struct FolderTable {
  std::vector<FolderEntry> entries;
  size_t next = 0;  // slot replaced next once the table is full
};

FolderTable& Folders() {
  static FolderTable table;
  return table;
}

/// The volume number of a device: -1, -2, ... in the order devices are met; 0
/// when no number is left.
short VolumeNumber(dev_t device) {
  std::vector<dev_t>& volumes = Volumes();
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i] == device) return static_cast<short>(-static_cast<long>(i) - 1);
  if (volumes.size() >= 32767) return 0;
  volumes.push_back(device);
  return static_cast<short>(-static_cast<long>(volumes.size()));
}

}  // namespace

void VoMacNumberFolder(const std::string& path, const VoMacStatInfo& st, short& volume, long& folder) {
  volume = VolumeNumber(st.device);
  folder = static_cast<long>(st.inode);
  if (volume == 0) return;
  FolderTable& table = Folders();
  for (FolderEntry& e : table.entries) {
    if (e.volume == volume && e.folder == folder) {
      e.path = path;
      return;
    }
  }
  if (table.entries.size() < kFolderTableSize) {
    table.entries.push_back(FolderEntry{volume, folder, path});
  } else {
    table.entries[table.next] = FolderEntry{volume, folder, path};
    table.next = (table.next + 1) % kFolderTableSize;
  }
}

void VoMacMakeRecord(const std::string& folderPath, const std::string& name, FSSpec& record) {
  record = FSSpec();
  std::string folder = folderPath;
  if (folder.empty() || folder.back() != '/') folder += '/';
  record.folder = VoMacString(folder);
  record.name = VoMacString(name);
  VoMacStatInfo st;
  if (VoMacStatAt(AT_FDCWD, folder.c_str(), 0, st) == 0 && S_ISDIR(st.mode))
    VoMacNumberFolder(folder, st, record.vRefNum, record.parID);
}

void VoMacRecordFromResolved(const std::string& resolved, FSSpec& record) {
  if (resolved == "/") {
    VoMacMakeRecord("/", std::string(), record);
  } else {
    VoMacMakeRecord(VoMacFolderOf(resolved), VoMacNameOf(resolved), record);
  }
}

std::string VoMacRecordPath(const FSSpec& record) {
  return VoMacJoin(VoMacPathBytes(record.folder), VoMacPathBytes(record.name));
}

VoString VoMacGetPosixPath(short volume, long folder) {
  if (volume >= 0) return VoString();
  const std::vector<dev_t>& volumes = Volumes();
  size_t index = static_cast<size_t>(-static_cast<long>(volume) - 1);
  if (index >= volumes.size()) return VoString();
  for (const FolderEntry& e : Folders().entries) {
    if (e.volume != volume || e.folder != folder) continue;
    VoMacStatInfo st;
    if (VoMacStatAt(AT_FDCWD, e.path.c_str(), 0, st) != 0 || !S_ISDIR(st.mode) ||
        st.device != volumes[index] || static_cast<long>(st.inode) != folder)
      return VoString();  // gone, or another folder lives there now
    return VoMacString(e.path);
  }
  return VoString();
}
