/// \file
/// File specifications, listing facts and the table of known file types.
#ifndef VOFOUNDATION_VOIO_VOFILESPEC_H
#define VOFOUNDATION_VOIO_VOFILESPEC_H

#include <cstdint>

#include "VoCore/VoString.h"
#include "VoSystem/VoDate.h"

/// The well-known folders of SetPath(VoFolderType); the enumerators and the
/// folders they name are declared with the file-system bridge, "Mac/VoMacToolsOSX.h".
enum VoFolderType : int;

/// Kinds of files the library knows. Several entries of the file-type table
/// may share one kind (e.g. "txt" and "text" are both VoFileTypeText). The
/// underlying type is fixed (int), so any int is a valid value; values the
/// table does not list behave as documented for unlisted types.
enum VoFileType : int {
  VoFileTypeUnknown = 0,
  VoFileTypeText = 1,           ///< plain text and text data files
  VoFileTypeProfile = 2,        ///< ICC colour profiles
  VoFileTypeColorSwatches = 3,  ///< colour swatch files
  VoFileTypePICT = 4,
  VoFileTypeJPEG = 5,
  VoFileTypeTIFF = 6,
  VoFileTypePNG = 7,
  VoFileTypeTarga = 8,
  VoFileTypeScitexCT = 9,
  VoFileTypeGIF = 10,
  VoFileTypePDF = 11,
  VoFileTypeBinary = 12,  ///< raw data files without extension
  VoFileTypeApplication = 13,
  VoFileTypeHTML = 14,
  VoFileTypeAFM = 15,  ///< font metrics
  VoFileTypePPM = 16,
  VoFileTypeLink = 17,
  VoFileTypeLibrary = 18,  ///< shared libraries
  VoFileTypeJPEG2000 = 19  ///< JPEG 2000 images and PNM images
};

/// One entry of the file-type table. Type and creator IDs are four-character
/// codes, first character in the most significant byte ("TEXT" = 0x54455854).
struct VoFileTypeEntry {
  VoFileType type;          ///< the kind of file
  unsigned long typeID;     ///< four-character type code, e.g. "prof" for ICC profiles
  unsigned long creatorID;  ///< four-character code of the application that makes such files
  const char* extension;    ///< lower case, without the dot; "" for none
};

/// A file or folder name: the whole path as set (the full name) plus a type ID
/// and a creator ID. Path, name, extension and base name are cut out of the
/// full name on demand; nothing is resolved, normalised or validated, and no
/// member declared here touches the file system, with one exception: a spec
/// made by a folder walk may read its file's stored codes when first asked
/// (ReadStoredCodesLater).
///
/// Path model: the separator is '/'. The name is the text after the last '/'
/// (the whole full name when there is none); the path is the text up to and
/// including the last '/' (empty when there is none).
///
/// Every change of the name ends in SetFullName, which derives the type ID and
/// creator ID again from the extension (see SetType(VoFileTypeUnknown)).
class VoFileSpec {
 public:
  /// Number of entries of the file-type table: entries 0 to 33 are searched in
  /// index order, entry 34 is the catch-all returned when no search matches.
  static constexpr int kFileTypeCount = 35;
  /// Index of the catch-all entry (type unknown, type and creator ID 0x3F).
  static constexpr int kUnknownIndex = 34;

  /// Type and creator ID 0, full name \p fullName; a non-empty name goes
  /// through SetFullName, which derives the type from its extension. The name
  /// defaults to the empty string, so containers of file specifications can
  /// default-construct them.
  VoFileSpec(const VoString& fullName = VoString());
  /// Copies full name, type and creator ID (and a pending read of stored codes).
  /// @{
  VoFileSpec(const VoFileSpec& other) = default;
  VoFileSpec(VoFileSpec&& other) noexcept = default;
  VoFileSpec& operator=(const VoFileSpec& other) = default;
  VoFileSpec& operator=(VoFileSpec&& other) noexcept = default;
  /// @}
  virtual ~VoFileSpec();

  // ---------------------------------------------------------------- reading the name
  /// The full name as stored.
  VoString GetFullName() const { return mFullName; }
  /// Text up to and including the last '/'; empty when there is none.
  VoString GetPath() const;
  /// Text after the last '/'; the whole full name when there is none.
  VoString GetName() const;
  /// The name's text after its last '.', unless that '.' is the name's first
  /// character (".profile" has no extension); empty when there is no '.'.
  VoString GetExtension() const;
  /// The name without its last '.' and what follows, when that '.' is not the
  /// first character and the text after it is the extension of one of the
  /// searchable table entries (any case); otherwise the whole name. So
  /// "report.txt" gives "report", "archive.xyz" stays, "notes." gives "notes"
  /// (the empty extension belongs to the raw-data entry).
  VoString GetBaseName() const;

  // ---------------------------------------------------------------- changing the name
  /// Stores \p fullName, then SetType(VoFileTypeUnknown).
  void SetFullName(const VoString& fullName);
  /// The same as SetFullName: on a POSIX file system the native form is the full name.
  void SetNativeFullName(const VoString& fullName);
  /// Appends '/' to a non-empty \p path not ending in '/', then
  /// SetFullName(path + GetName()). An empty path leaves the bare name.
  void SetPath(const VoString& path);
  /// SetFullName(GetPath() + name); \p name may itself hold '/'.
  void SetName(const VoString& name);
  /// SetFullName(name) when \p path is empty or \p name is absolute
  /// (IsAbsolute); otherwise SetPath(path) then SetName(name).
  void Compose(const VoString& path, const VoString& name);
  /// Makes the name end in an ICC profile extension: a name whose last three
  /// characters are "icc" or "icm" (case-sensitive) stays. Otherwise, when the
  /// name is longer than three characters and its fourth character from the end
  /// is '.', its last three characters are dropped, else a '.' is appended; then
  /// \p extension ("icc" when empty) is appended and stored with SetName.
  void CheckExtension(const VoString& extension);
  /// Makes the extension fit the type ID: the base name plus "." and the
  /// extension of the first table entry of this object's type (the base name alone
  /// when that extension is empty), stored with SetName.
  void AdjustExtension();

  // ---------------------------------------------------------------- type and creator
  /// The four-character type code, an unsigned 32-bit value; 0 when none is known.
  unsigned long GetTypeID() const {
    if (mCodesLater) ReadStoredCodes();
    return mTypeID;
  }
  /// Stores the type ID (low 32 bits); changes nothing else.
  void SetTypeID(unsigned long id) {
    if (mCodesLater) ReadStoredCodes();
    mTypeID = static_cast<uint32_t>(id);
  }
  /// The four-character creator code, an unsigned 32-bit value; 0 when none is known.
  unsigned long GetCreatorID() const {
    if (mCodesLater) ReadStoredCodes();
    return mCreatorID;
  }
  /// Stores \p id (low 32 bits) unless it is 0 or "MACS"; for those it
  /// behaves as AdjustCreatorID().
  void SetCreatorID(unsigned long id);
  /// Keeps the creator ID when a searchable entry with this object's type ID lists
  /// it; otherwise takes the creator of the first entry with that type
  /// ID, or 0 when no searchable entry has that type ID.
  void AdjustCreatorID();
  /// TypeID2Type(GetTypeID()).
  VoFileType GetType() const;
  /// For a type other than VoFileTypeUnknown: the type ID of the type's first
  /// entry (0x3F for a type the table does not list), AdjustCreatorID(), then
  /// AdjustExtension().
  ///
  /// VoFileTypeUnknown derives the type from the text after the last '.' of the
  /// full name (not only of the name, and also for a name starting with '.'):
  /// when there is no '.', or the matching entry's type ID (0x3F when none
  /// matches) equals the current type ID, nothing changes; otherwise that type
  /// ID is stored and the creator adjusted.
  void SetType(VoFileType type);

  /// For the specs a folder walk makes: the type and creator codes stored
  /// with the file the full name names (its own codes; a link's, not its
  /// target's) are read when the type or creator is first asked for or
  /// changed, or the name changed, instead of now, and applied then as a walk
  /// applies them: the creator code always, the type code only when the
  /// extension gives no known type (codes 0 keep what the extension gives).
  /// A file that cannot be read by then has codes 0 and 0. Copies share the
  /// promise and each keeps it once. Most walks never ask for the codes of
  /// most entries; reading them costs one system call per file.
  void ReadStoredCodesLater() { mCodesLater = true; }

  // ---------------------------------------------------------------- the file-type table
  /// Entry \p index (0 .. kFileTypeCount-1); "VoIndexError" (7) otherwise.
  static const VoFileTypeEntry& FileTypeEntry(int index);
  /// Index of the first searchable entry with \p type; 34 when none.
  static int Type2Index(VoFileType type);
  /// Index of the first searchable entry with type ID \p id; 34 when none.
  static int TypeID2Index(unsigned long id);
  /// Index of the first searchable entry whose extension equals \p extension,
  /// ignoring case ('A'..'Z' fold only); 34 when none. The empty text finds
  /// the raw-data entry (25).
  static int Extension2Index(const VoString& extension);
  /// Type ID of the entry of Type2Index (0x3F for an unlisted type).
  static unsigned long Type2TypeID(VoFileType type);
  /// Extension of the entry of Type2Index (empty for an unlisted type).
  static VoString Type2Extension(VoFileType type);
  /// Type of the entry of TypeID2Index (VoFileTypeUnknown when none).
  static VoFileType TypeID2Type(unsigned long id);
  /// Type of the entry of Extension2Index (VoFileTypeUnknown when none).
  static VoFileType Extension2Type(const VoString& extension);

  /// False for the empty text; true when the first character is '/', '\' or
  /// ':', or when the second character is ':' and the third '/' or '\'
  /// (a drive letter); false otherwise.
  static bool IsAbsolute(const VoString& path);
  /// \p name with every '/' replaced by '\'.
  static VoString Name2WinName(VoString name);
  /// \p name with every '\' replaced by '/'.
  static VoString WinName2Name(VoString name);

  // ---------------------------------------------------------------- members that ask the file system
  // (added by the file-system bridge; implemented with it, see "Mac/VoMacToolsOSX.h")
  /// Puts the name into a well-known folder, keeping the name (VoMacSetPath):
  /// VoFolderTypeNone leaves the bare name, VoFolderTypeUnchanged changes
  /// nothing. A value outside 0 to 10 throws "VoArgErr" (3); a folder that
  /// cannot be found or made is not reported (the bare name remains).
  void SetPath(VoFolderType folder);
  /// The full name in the file system's own form: on Linux the full name unchanged.
  VoString GetNativeFullName() const;
  /// Gives the spec a name under which no file exists yet (VoSystem::FileExists:
  /// a file that cannot be opened for reading counts as absent):
  /// unchanged when none exists under the current one, else path + base name +
  /// "-001." + extension, "-002.", ... (at least three digits, no upper bound),
  /// all three parts taken from the starting name: "report.txt" becomes
  /// "report-001.txt", "archive.xyz" "archive.xyz-001.xyz", "notes" "notes-001.".
  void SetUniqueName();

 private:
  /// Keeps the promise of ReadStoredCodesLater.
  void ReadStoredCodes() const;

  VoString mFullName;
  // The codes may be filled in by a const member that keeps the promise of
  // ReadStoredCodesLater; like a VoString, a spec belongs to one thread at a time.
  mutable uint32_t mTypeID;
  mutable uint32_t mCreatorID;
  mutable bool mCodesLater = false;
};

/// True when the full names are equal byte for byte (case-sensitive); type and
/// creator IDs are not compared.
bool operator==(const VoFileSpec& a, const VoFileSpec& b);

/// A file specification with the facts of a directory listing: creation and
/// modification dates (initially the zero date 0-1-1 0:00:00), the is-file
/// flag (initially true; false for a folder) and the size in bytes (initially 0).
///
/// The size is an `unsigned long` (64 bits on Linux) and holds the true size
/// of files beyond 4 GiB; it is never cut to 32 bits.
class VoFileInfo : public VoFileSpec {
 public:
  /// As VoFileSpec(fullName), with the initial listing facts.
  VoFileInfo(const VoString& fullName = VoString());
  /// A copy of \p fileSpec's full name, type ID and creator ID, with the initial
  /// listing facts.
  VoFileInfo(const VoFileSpec& fileSpec);

  /// When the file was created (UTC); the zero date for folders.
  VoDate GetCreationDate() const { return mCreationDate; }
  /// Stores the creation date.
  void SetCreationDate(const VoDate& date) { mCreationDate = date; }
  /// When the file's contents last changed (UTC); the zero date for folders.
  VoDate GetModificationDate() const { return mModificationDate; }
  /// Stores the modification date.
  void SetModificationDate(const VoDate& date) { mModificationDate = date; }
  /// True for anything that is not a folder.
  bool IsFile() const { return mIsFile; }
  /// Stores whether the entry is a file (true) or a folder (false).
  void SetIsFile(bool isFile) { mIsFile = isFile; }
  /// The size in bytes; 0 for folders.
  unsigned long GetSize() const { return mSize; }
  /// Stores the size in bytes.
  void SetSize(unsigned long size) { mSize = size; }

 private:
  VoDate mCreationDate;
  VoDate mModificationDate;
  bool mIsFile;
  unsigned long mSize;
};

#endif  // VOFOUNDATION_VOIO_VOFILESPEC_H
