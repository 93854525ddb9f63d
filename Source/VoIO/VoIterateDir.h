/// \file
/// Depth-first walks of a folder tree, one VoFileInfo per entry.
#ifndef VOFOUNDATION_VOIO_VOITERATEDIR_H
#define VOFOUNDATION_VOIO_VOITERATEDIR_H

#include <vector>

#include "VoData/VoList.h"
#include "VoIO/VoFileSpec.h"

/// Walks a folder and, to a chosen depth, its subfolders, handing every entry
/// to DoFile (and so to ProcessFile) as a VoFileInfo. Derive from it and
/// override ProcessFile; call Stop() to end a walk early.
///
/// What a walk delivers:
/// - Entries come in the order the file system lists them (not sorted),
///   depth-first: each folder is reported before its contents, and its
///   contents follow it at once, before the next entry of its own folder.
///   The folder given to Start is not reported itself.
/// - Levels: the folder's own entries are level 1. Start(folder, n) with
///   n >= 1 reports levels 1 to n (folders at level n are reported but not
///   entered); 0 or a negative n reports the whole tree.
/// - Symbolic links are never followed: a link is reported as an entry of its
///   own (IsFile() true, its full name the link's own path, its size and dates
///   those of the link itself) and never entered, whatever it points to. So
///   every full name reported lies inside the tree walked.
/// - An entry named exactly ".DS_Store" (byte-exact, case-sensitive) is not
///   reported. Hidden entries (names starting with '.') are.
/// - A folder entry has IsFile() false, the zero dates (VoDate()) and size 0.
/// - A file entry (anything that is not a folder: regular files, links,
///   devices, pipes, sockets) has its creation date (the file system's birth
///   time where it keeps one, else the time the contents last changed), its
///   modification date (time the contents last changed), both in UTC with the
///   fraction of a second dropped, and its size: the true length in bytes as
///   `unsigned long`, 64 bits on Linux, so a file of 5 GiB is reported with
///   5 GiB, never cut to 32 bits. (All three zero for a walker whose
///   UsesSizesAndDates() is false.)
/// - The full name is the folder's resolved path (symbolic links in the path
///   given to Start resolved) followed by "/" and the entry's relative path,
///   byte for byte as the file system names it.
/// - Type and creator IDs: derived from the name's extension as any
///   VoFileSpec does; where the extension gives no known type, the type code
///   stored with the file (Mac/VoMacToolsOSX.h) is taken, and a stored creator
///   code replaces the derived creator. Folders have no stored codes. A file's
///   stored codes are read when its type or creator is first asked for (see
///   VoFileSpec::ReadStoredCodesLater): reading them costs as much as
///   examining the entry, and most walks never ask.
///
/// How the tree is read: everything runs on the caller's thread. A folder is
/// listed completely when the walk enters it, and each entry is examined
/// (its kind, size and dates) just before DoFile is called for it. So the
/// names reported are those of the moment the folder was entered, as with
/// fts(3), and the facts those of the moment of the report. A walker that
/// reads no file's size or dates says so with UsesSizesAndDates(): the walk
/// then takes each entry's kind from the listing wherever the listing records
/// it, and examines only the first entry of each folder.
///
/// Depth is limited by memory alone: the walk keeps its levels on the heap,
/// not on the stack, and holds a small fixed number of folders open (the
/// deepest levels); a shallower folder is opened again when the walk comes
/// back to it with entries left. Paths longer than PATH_MAX are walked.
///
/// The full names take their buffers from 64 KiB slabs shared with the names
/// of the entries reported around them, rather than one heap block each
/// (VoStringBlockRun): they are ordinary strings otherwise, but one kept after
/// the walk keeps its slab alive until it goes too.
///
/// Changes to the tree during a walk (also from inside DoFile) are safe: no
/// entry comes twice and nothing hangs. What was inside a folder before the
/// walk enters it is what the walk reports of it: an entry added or removed
/// there before then is, or is not, reported accordingly. An entry of the
/// folder being walked that is removed after the walk entered the folder may
/// still be reported; one added then is not.
class VoIterateDir {
 public:
  /// Stop flag false.
  VoIterateDir();
  virtual ~VoIterateDir();

  /// Clears the stop flag and walks \p folder down to \p depth levels (0, or
  /// a negative depth: no limit), calling DoFile for each entry. Returns 0
  /// when the walk ran to its end or was stopped, and a negative status of the
  /// file-system bridge (kVoStatus... of Mac/VoMacToolsOSX.h) when \p folder
  /// names no folder or cannot be listed, or listing a subfolder failed for a
  /// reason other than denied access. A subfolder whose listing is denied
  /// reports nothing inside it, and the rest of the folder it was met in is
  /// skipped as well; the walk goes on one level higher and this is no
  /// failure. Raises nothing of its own. An exception thrown by DoFile (or
  /// ProcessFile) ends the walk: every folder the walk holds open is closed
  /// first, then the exception leaves Start unchanged.
  virtual int Start(const VoFileSpec& folder, int depth);
  /// Sets the stop flag: the walk reports no further entry. Called during
  /// DoFile, it ends the walk as soon as that DoFile returns: a folder being
  /// reported is then not entered, and no further DoFile call follows.
  virtual void Stop();
  /// The stop flag; it stays set after a stopped walk until the next Start.
  virtual bool GetStop() const;
  /// Calls ProcessFile(info) and returns its result, which the walk ignores.
  virtual int DoFile(const VoFileInfo& info);
  /// What a subclass does with each entry; the result is ignored by the walk.
  virtual int ProcessFile(const VoFileInfo& info) = 0;
  /// True (unless overridden): DoFile and ProcessFile may read a file entry's
  /// size and dates, so the walk examines every entry for them. A walker that
  /// reads neither returns false and saves a system call per entry, most of
  /// what a walk costs. Every file is then reported with size 0 and the zero
  /// dates, and each entry's kind is the one its folder's listing records (as
  /// of the moment the folder was entered; Linux's usual file systems record
  /// it, and an entry whose kind is not recorded is examined after all). Only
  /// the first entry of each folder is examined, so that a folder that may be
  /// read but not searched reports nothing, as before. An entry removed after
  /// its folder was entered may be reported although it is gone at its turn,
  /// and so may a subfolder, which is then not entered. Everything else a
  /// walk promises holds.
  virtual bool UsesSizesAndDates() const;

 private:
  bool mStop;
};

/// A walker that collects the specs of the entries it meets: files in one
/// list, folders in another, each in the order reported. Only the VoFileSpec
/// part (full name, type ID, creator ID) is kept, so a walk of this class
/// itself examines only each folder's first entry (UsesSizesAndDates()
/// false); a class derived from it gets every entry's size and dates unless
/// it says otherwise. The lists are never emptied: each Start appends to what
/// earlier walks collected.
class VoIterateDirGetFiles : public VoIterateDir {
 public:
  /// Stop flag false, both lists empty.
  VoIterateDirGetFiles();

  /// Appends the spec part of \p info to the file list when info.IsFile(),
  /// else to the folder list. Returns 0. "VoMemFullErr" (4) when memory runs
  /// out or a list would hold more than a VoList can; the lists are unchanged then.
  int ProcessFile(const VoFileInfo& info) override;
  /// False for this class itself; true for a class derived from it, whose
  /// DoFile or ProcessFile may look at the sizes and dates.
  bool UsesSizesAndDates() const override;

  /// Number of specs in the file list.
  int GetCount() const;
  /// A copy of the file list's spec \p index; "VoIndexError" (7) unless
  /// 0 <= index < GetCount().
  VoFileSpec GetFileSpec(int index) const;
  /// A copy of the file list, its capacity the number of specs.
  VoList<VoFileSpec> GetFileList() const;
  /// Number of specs in the folder list.
  int GetFolderCount() const;
  /// A copy of the folder list's spec \p index; "VoIndexError" (7) unless
  /// 0 <= index < GetFolderCount().
  VoFileSpec GetFolder(int index) const;
  /// A copy of the folder list, its capacity the number of specs.
  VoList<VoFileSpec> GetFolderList() const;

 private:
  // Kept as vectors while walking: they grow by moving the specs, where a
  // VoList copies each one to its new ring; the VoList is made when asked for.
  std::vector<VoFileSpec> mFiles;
  std::vector<VoFileSpec> mFolders;
};

#endif  // VOFOUNDATION_VOIO_VOITERATEDIR_H
