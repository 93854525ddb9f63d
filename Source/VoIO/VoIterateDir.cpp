// VoIterateDir.cpp - folder walks on top of the file-system bridge's container iteration.
#include "VoIO/VoIterateDir.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <typeinfo>

#include "Mac/VoMacToolsOSX.h"
#include "VoCore/VoError.h"

namespace {

/// The date of the file-system time converted last: neighbouring entries
/// mostly share their times, and converting one costs as much as the rest
/// of an entry's step.
struct DateCache {
  bool valid = false;
  int64_t seconds = 0;
  VoDate date;

  const VoDate& Convert(const VoMacTime& time) {
    if (!valid || time.seconds != seconds) {  // the fraction of a second is dropped anyway
      date = VoMacTimeToDate(time);
      seconds = time.seconds;
      valid = true;
    }
    return date;
  }
};

/// What one walk hands to its per-entry step.
struct WalkContext {
  VoIterateDir* walker;
  std::exception_ptr error;  ///< what DoFile threw; re-thrown once the walk has closed its folders
  DateCache dates;
  bool facts;  ///< sizes and dates asked for
};

/// The only entry withheld by name.
constexpr char kDesktopStore[] = ".DS_Store";

/// True when the last part of \p path is exactly ".DS_Store".
bool IsDesktopStore(const VoString& path) {
  constexpr long kLen = sizeof kDesktopStore - 1;
  const long n = path.length();
  if (n < kLen) return false;
  const char* p = path.c_str();
  if (n > kLen && p[n - kLen - 1] != '/') return false;
  return std::memcmp(p + n - kLen, kDesktopStore, kLen) == 0;
}

/// The per-entry step: turns one entry of the bridge's walk into a
/// VoFileInfo and hands it to the walker. Returns true to end the walk.
bool VisitEntry(bool /*containerChanged*/, unsigned long /*level*/, const FSCatalogInfo* cat,
                const FSRef* ref, const FSSpec* /*record*/, const VoString* /*name*/, void* data) {
  WalkContext& ctx = *static_cast<WalkContext*>(data);
  // An exception must not cross the bridge's walk, which holds folders open
  // on its stack: keep it and end the walk; Start re-throws it afterwards.
  try {
    if (ctx.walker->GetStop()) return true;
    if (IsDesktopStore(ref->path)) return false;

    // The spec as the bridge fills one from a reference (type and creator
    // derived from the extension, then the stored codes), but under the
    // entry's own path: links are not resolved, so a link is named as the
    // link. A folder has no codes; a file's are read from it when first asked
    // for, since most walks never ask and reading them would double the cost
    // of examining each entry.
    VoFileInfo info(ref->path);
    const bool folder = (cat->nodeFlags & kFSNodeIsDirectoryMask) != 0;
    if (folder) {
      if (info.GetType() == VoFileTypeUnknown) info.SetTypeID(0);
      info.SetCreatorID(0);
    } else {
      info.ReadStoredCodesLater();
    }

    if (folder) {
      info.SetIsFile(false);
    } else if (ctx.facts) {
      info.SetCreationDate(ctx.dates.Convert(cat->createDate));
      info.SetModificationDate(ctx.dates.Convert(cat->contentModDate));
      info.SetSize(static_cast<unsigned long>(cat->dataLogicalSize));
    }
    ctx.walker->DoFile(info);
    // A walker stopped by this entry does not enter it.
    return ctx.walker->GetStop();
  } catch (...) {
    ctx.error = std::current_exception();
    return true;
  }
}

}  // namespace

// ==================================================================== VoIterateDir

VoIterateDir::VoIterateDir() : mStop(false) {}

VoIterateDir::~VoIterateDir() = default;

int VoIterateDir::Start(const VoFileSpec& folder, int depth) {
  mStop = false;
  FSRef ref;
  OSErr err = VoFileSpecToFSRef(ref, folder);
  if (err != kVoStatusNoErr) return err;
  const bool facts = UsesSizesAndDates();
  WalkContext ctx{this, nullptr, DateCache(), facts};
  const unsigned long levels = depth > 0 ? static_cast<unsigned long>(depth) : 0;
  const uint32_t which =
      facts ? kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoDataSizes : kVoCatInfoKindFromListing;
  err = FSIterateContainer(ref, levels, which, false, false, VisitEntry, &ctx);
  if (ctx.error) std::rethrow_exception(ctx.error);
  return err;
}

void VoIterateDir::Stop() { mStop = true; }

bool VoIterateDir::GetStop() const { return mStop; }

int VoIterateDir::DoFile(const VoFileInfo& info) { return ProcessFile(info); }

bool VoIterateDir::UsesSizesAndDates() const { return true; }

// ==================================================================== VoIterateDirGetFiles

VoIterateDirGetFiles::VoIterateDirGetFiles() = default;

namespace {

/// The most specs a list can hold: as many as a VoList can grow to.
constexpr size_t kMostSpecs = (INT_MAX - 1) / 2 + 1;

void Append(std::vector<VoFileSpec>& specs, const VoFileSpec& spec) {
  if (specs.size() >= kMostSpecs) VO_THROW(eVoMemFullErr);
  try {
    specs.push_back(spec);  // strong guarantee: the specs move only when nothing can fail
  } catch (const std::bad_alloc&) {
    VO_THROW(eVoMemFullErr);
  }
}

const VoFileSpec& At(const std::vector<VoFileSpec>& specs, int index) {
  if (index < 0 || static_cast<size_t>(index) >= specs.size()) VO_THROW(eVoIndexError);
  return specs[static_cast<size_t>(index)];
}

VoList<VoFileSpec> ListOf(const std::vector<VoFileSpec>& specs) {
  VoList<VoFileSpec> list;
  list.ReSize(static_cast<int>(specs.size()));
  for (const VoFileSpec& spec : specs) list.AddBack(spec);
  return list;
}

}  // namespace

int VoIterateDirGetFiles::ProcessFile(const VoFileInfo& info) {
  Append(info.IsFile() ? mFiles : mFolders, info);
  return 0;
}

bool VoIterateDirGetFiles::UsesSizesAndDates() const { return typeid(*this) != typeid(VoIterateDirGetFiles); }

int VoIterateDirGetFiles::GetCount() const { return static_cast<int>(mFiles.size()); }

VoFileSpec VoIterateDirGetFiles::GetFileSpec(int index) const { return At(mFiles, index); }

VoList<VoFileSpec> VoIterateDirGetFiles::GetFileList() const { return ListOf(mFiles); }

int VoIterateDirGetFiles::GetFolderCount() const { return static_cast<int>(mFolders.size()); }

VoFileSpec VoIterateDirGetFiles::GetFolder(int index) const { return At(mFolders, index); }

VoList<VoFileSpec> VoIterateDirGetFiles::GetFolderList() const { return ListOf(mFolders); }
