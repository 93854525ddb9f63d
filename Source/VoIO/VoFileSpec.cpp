// VoFileSpec.cpp - file specifications, listing facts and the table of known file types.
#include "VoIO/VoFileSpec.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "VoCore/VoError.h"
#include "Mac/VoMacToolsOSX.h"

namespace {

/// A four-character code, first character in the most significant byte.
constexpr unsigned long Sig(const char (&code)[5]) {
  return (static_cast<unsigned long>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<unsigned long>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<unsigned long>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<unsigned long>(static_cast<unsigned char>(code[3]));
}

constexpr unsigned long kCreatorMACS = Sig("MACS");
constexpr unsigned long kUnknownID = 0x0000003F;  // one '?' in the lowest byte

constexpr VoFileTypeEntry kFileTypes[VoFileSpec::kFileTypeCount] = {
    {VoFileTypeText, Sig("TEXT"), Sig("ttxt"), "txt"},           // 0
    {VoFileTypeText, Sig("TEXT"), Sig("ttxt"), "text"},          // 1
    {VoFileTypeText, Sig("TEXT"), Sig("VoTl"), "cie"},           // 2
    {VoFileTypeText, Sig("TEXT"), Sig("VoTl"), "ref"},           // 3
    {VoFileTypeText, Sig("TEXT"), Sig("VoTl"), "it8"},           // 4
    {VoFileTypeProfile, Sig("prof"), Sig("sync"), "icc"},        // 5
    {VoFileTypeProfile, Sig("prof"), Sig("sync"), "icm"},        // 6
    {VoFileTypeColorSwatches, Sig("8BCO"), Sig("8BIM"), "aco"},  // 7
    {VoFileTypePICT, Sig("PICT"), Sig("8BIM"), "pct"},           // 8
    {VoFileTypePICT, Sig("PICT"), Sig("8BIM"), "pict"},          // 9
    {VoFileTypeJPEG, Sig("JPEG"), Sig("8BIM"), "jpg"},           // 10
    {VoFileTypeJPEG, Sig("JPEG"), Sig("8BIM"), "jpeg"},          // 11
    {VoFileTypeJPEG, Sig("JFIF"), Sig("8BIM"), "jpg"},           // 12
    {VoFileTypeJPEG2000, Sig("jp2 "), Sig("8BIM"), "jp2"},       // 13
    {VoFileTypeJPEG2000, Sig("jpx "), Sig("8BIM"), "jpx"},       // 14
    {VoFileTypeJPEG2000, Sig("j2k "), Sig("8BIM"), "j2k"},       // 15
    {VoFileTypeJPEG2000, Sig("j2c "), Sig("8BIM"), "j2c"},       // 16
    {VoFileTypeJPEG2000, Sig("pnm "), Sig("8BIM"), "pnm"},       // 17
    {VoFileTypeTIFF, Sig("TIFF"), Sig("8BIM"), "tif"},           // 18
    {VoFileTypeTIFF, Sig("TIFF"), Sig("8BIM"), "tiff"},          // 19
    {VoFileTypePNG, Sig("PNGf"), Sig("8BIM"), "png"},            // 20
    {VoFileTypeTarga, Sig("TPIC"), Sig("8BIM"), "tga"},          // 21
    {VoFileTypeScitexCT, Sig("..CT"), Sig("8BIM"), "sct"},       // 22
    {VoFileTypeGIF, Sig("GIFf"), Sig("8BIM"), "gif"},            // 23
    {VoFileTypePDF, Sig("PDF "), Sig("****"), "pdf"},            // 24
    {VoFileTypeBinary, Sig("BINA"), Sig("****"), ""},            // 25
    {VoFileTypeApplication, Sig("APPL"), Sig("****"), "exe"},    // 26
    {VoFileTypeHTML, Sig("HTML"), Sig("****"), "html"},          // 27
    {VoFileTypeHTML, Sig("HTML"), Sig("****"), "htm"},           // 28
    {VoFileTypeAFM, Sig("AFM "), Sig("****"), "afm"},            // 29
    {VoFileTypePPM, Sig("PPM "), Sig("****"), "ppm"},            // 30
    {VoFileTypeLink, Sig("LINK"), Sig("****"), "link"},          // 31
    {VoFileTypeLibrary, Sig("DLL "), Sig("****"), "dll"},        // 32
    {VoFileTypeLibrary, Sig("DYLB"), Sig("****"), "dylib"},      // 33
    {VoFileTypeUnknown, kUnknownID, kUnknownID, ""},             // 34: catch-all
};

constexpr int kSearchable = VoFileSpec::kUnknownIndex;  // entries 0 .. 33

/// Longest extension of the table ("dylib").
constexpr int kLongestExtension = 5;

/// Number of bytes of a zero-ended text.
constexpr int TextLength(const char* text) {
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

/// The \p n bytes of an extension (n <= kLongestExtension) packed into one
/// number, the first byte lowest, the length in the highest byte: two
/// extensions are equal when their numbers are.
constexpr uint64_t PackExtension(const char* bytes, int n) {
  uint64_t key = static_cast<uint64_t>(n) << 56;
  for (int i = 0; i < n; ++i) key |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return key;
}

/// The searchable entries' extensions, packed, in table order.
struct ExtensionKeys {
  uint64_t key[kSearchable];
};

constexpr ExtensionKeys PackTable() {
  ExtensionKeys keys{};
  for (int i = 0; i < kSearchable; ++i)
    keys.key[i] = PackExtension(kFileTypes[i].extension, TextLength(kFileTypes[i].extension));
  return keys;
}

constexpr bool ExtensionsFit() {
  for (int i = 0; i < kSearchable; ++i)
    if (TextLength(kFileTypes[i].extension) > kLongestExtension) return false;
  return true;
}
static_assert(ExtensionsFit(), "kLongestExtension is the longest extension of the table");

constexpr ExtensionKeys kExtensionKeys = PackTable();

/// For each byte, the searchable entries whose extension begins with it, bit
/// i for entry i (the empty extension begins with its zero end).
struct FirstByteIndex {
  uint64_t entries[256];
};

constexpr FirstByteIndex IndexFirstBytes() {
  FirstByteIndex index{};
  for (int i = 0; i < kSearchable; ++i)
    index.entries[static_cast<unsigned char>(kFileTypes[i].extension[0])] |= uint64_t{1} << i;
  return index;
}

constexpr FirstByteIndex kFirstBytes = IndexFirstBytes();

/// Extension2Index for the zero-ended text \p extension, without making a
/// string: packs it with 'A'..'Z' folded and compares that with the packed
/// extensions of the entries that begin with the same byte, in table order.
int IndexOfExtension(const char* extension) {
  uint64_t key = 0;  // as PackExtension packs the folded bytes
  int n = 0;
  for (; extension[n] != 0; ++n) {
    if (n == kLongestExtension) return VoFileSpec::kUnknownIndex;  // longer than every entry
    unsigned char c = static_cast<unsigned char>(extension[n]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    key |= static_cast<uint64_t>(c) << (8 * n);
  }
  const unsigned char first = static_cast<unsigned char>(key);  // 0 for the empty extension
  key |= static_cast<uint64_t>(n) << 56;
  for (uint64_t candidates = kFirstBytes.entries[first]; candidates != 0; candidates &= candidates - 1) {
    const int i = std::countr_zero(candidates);
    if (kExtensionKeys.key[i] == key) return i;
  }
  return VoFileSpec::kUnknownIndex;
}

/// True when one of the searchable entries has the type ID \p id.
constexpr bool TypeIDListed(unsigned long id) {
  for (int i = 0; i < kSearchable; ++i)
    if (kFileTypes[i].typeID == id) return true;
  return false;
}
static_assert(!TypeIDListed(kUnknownID), "the catch-all's type ID is no searchable entry's");

/// The creator ID that AdjustCreatorID leaves with \p typeID and \p creatorID.
uint32_t AdjustedCreator(uint32_t typeID, uint32_t creatorID) {
  int first = -1;
  for (int i = 0; i < VoFileSpec::kUnknownIndex; ++i) {
    if (kFileTypes[i].typeID != typeID) continue;
    if (kFileTypes[i].creatorID == creatorID) return creatorID;
    if (first < 0) first = i;
  }
  return first < 0 ? 0 : static_cast<uint32_t>(kFileTypes[first].creatorID);
}

/// The creator ID that SetCreatorID(\p id) leaves: \p id itself, unless it is
/// 0 or "MACS", which adjust \p creatorID to \p typeID instead.
uint32_t CreatorAfterSet(uint32_t typeID, uint32_t creatorID, uint32_t id) {
  return id != 0 && id != kCreatorMACS ? id : AdjustedCreator(typeID, creatorID);
}

/// The last three characters of \p text (all of it when shorter).
VoString LastThree(const VoString& text) {
  long n = text.length();
  return n > 3 ? text.substr(n - 3) : text;
}

}  // namespace

// ==================================================================== VoFileSpec

VoFileSpec::VoFileSpec(const VoString& fullName) : mFullName(fullName), mTypeID(0), mCreatorID(0) {
  // As SetFullName(fullName) would leave it, without assigning the name twice.
  if (mFullName.length() > 0) SetType(VoFileTypeUnknown);
}

VoFileSpec::~VoFileSpec() = default;

VoString VoFileSpec::GetPath() const {
  long slash = mFullName.findreverse('/');
  return slash < 0 ? VoString() : mFullName.substr(0, slash + 1);
}

VoString VoFileSpec::GetName() const {
  long slash = mFullName.findreverse('/');
  return slash < 0 ? mFullName : mFullName.substr(slash + 1);
}

VoString VoFileSpec::GetExtension() const {
  VoString name = GetName();
  long dot = name.findreverse('.');
  return dot > 0 ? name.substr(dot + 1) : VoString();
}

VoString VoFileSpec::GetBaseName() const {
  VoString name = GetName();
  long dot = name.findreverse('.');
  if (dot > 0) {
    int index = Extension2Index(name.substr(dot + 1));
    if (index < kSearchable && kFileTypes[index].type != VoFileTypeUnknown) return name.substr(0, dot);
  }
  return name;
}

void VoFileSpec::SetFullName(const VoString& fullName) {
  if (mCodesLater) ReadStoredCodes();
  mFullName = fullName;
  SetType(VoFileTypeUnknown);
}

void VoFileSpec::SetNativeFullName(const VoString& fullName) { SetFullName(fullName); }

void VoFileSpec::SetPath(const VoString& path) {
  VoString folder = path;
  long n = folder.length();
  if (n > 0 && folder.c_str()[n - 1] != '/') folder += '/';
  SetFullName(folder + GetName());
}

void VoFileSpec::SetName(const VoString& name) { SetFullName(GetPath() + name); }

void VoFileSpec::Compose(const VoString& path, const VoString& name) {
  if (path.length() <= 0 || IsAbsolute(name)) {
    SetFullName(name);
  } else {
    SetPath(path);
    SetName(name);
  }
}

void VoFileSpec::CheckExtension(const VoString& extension) {
  VoString name = GetName();
  VoString last = LastThree(name);
  if (last == "icc" || last == "icm") return;
  long n = name.length();
  if (n > 3 && name.c_str()[n - 4] == '.') {
    name = name.substr(0, n - 3);
  } else {
    name += '.';
  }
  name += extension.length() > 0 ? extension : VoString("icc");
  SetName(name);
}

void VoFileSpec::AdjustExtension() {
  if (mCodesLater) ReadStoredCodes();
  VoString base = GetBaseName();
  VoString extension = Type2Extension(TypeID2Type(mTypeID));
  if (extension.length() <= 0) {
    SetName(base);
  } else {
    SetName(base + '.' + extension);
  }
}

void VoFileSpec::SetCreatorID(unsigned long id) {
  if (mCodesLater) ReadStoredCodes();
  mCreatorID = CreatorAfterSet(mTypeID, mCreatorID, static_cast<uint32_t>(id));
}

void VoFileSpec::AdjustCreatorID() {
  if (mCodesLater) ReadStoredCodes();
  mCreatorID = AdjustedCreator(mTypeID, mCreatorID);
}

VoFileType VoFileSpec::GetType() const {
  if (mCodesLater) ReadStoredCodes();
  return TypeID2Type(mTypeID);
}

void VoFileSpec::ReadStoredCodes() const {
  mCodesLater = false;
  uint32_t type = 0;
  uint32_t creator = 0;
  VoMacReadStoredCodes(mFullName, type, creator);
  // As a walk fills a spec: the type code counts only where the extension
  // gives no known type; the creator goes through SetCreatorID's rule.
  if (TypeID2Type(mTypeID) == VoFileTypeUnknown) mTypeID = type;
  mCreatorID = CreatorAfterSet(mTypeID, mCreatorID, creator);
}

void VoFileSpec::SetType(VoFileType type) {
  if (mCodesLater) ReadStoredCodes();
  if (type != VoFileTypeUnknown) {
    mTypeID = static_cast<uint32_t>(Type2TypeID(type));
    AdjustCreatorID();
    AdjustExtension();
    return;
  }
  long dot = mFullName.findreverse('.');
  if (dot < 0) return;
  const int index = IndexOfExtension(mFullName.c_str() + dot + 1);
  unsigned long id = kFileTypes[index].typeID;
  if (id == mTypeID || id == 0) return;
  mTypeID = static_cast<uint32_t>(id);
  // AdjustCreatorID(); no searchable entry has the catch-all's type ID, so
  // that leaves creator 0 for an extension that is not in the table.
  mCreatorID = index < kSearchable ? AdjustedCreator(mTypeID, mCreatorID) : 0;
}

// ---------------------------------------------------------------- the table

const VoFileTypeEntry& VoFileSpec::FileTypeEntry(int index) {
  if (index < 0 || index >= kFileTypeCount) VO_THROW(eVoIndexError);
  return kFileTypes[index];
}

int VoFileSpec::Type2Index(VoFileType type) {
  for (int i = 0; i < kSearchable; ++i)
    if (kFileTypes[i].type == type) return i;
  return kUnknownIndex;
}

int VoFileSpec::TypeID2Index(unsigned long id) {
  for (int i = 0; i < kSearchable; ++i)
    if (kFileTypes[i].typeID == id) return i;
  return kUnknownIndex;
}

int VoFileSpec::Extension2Index(const VoString& extension) { return IndexOfExtension(extension.c_str()); }

unsigned long VoFileSpec::Type2TypeID(VoFileType type) { return kFileTypes[Type2Index(type)].typeID; }

VoString VoFileSpec::Type2Extension(VoFileType type) {
  return VoString(kFileTypes[Type2Index(type)].extension);
}

VoFileType VoFileSpec::TypeID2Type(unsigned long id) { return kFileTypes[TypeID2Index(id)].type; }

VoFileType VoFileSpec::Extension2Type(const VoString& extension) {
  return kFileTypes[Extension2Index(extension)].type;
}

bool VoFileSpec::IsAbsolute(const VoString& path) {
  long n = path.length();
  if (n <= 0) return false;
  const char* p = path.c_str();
  if (p[0] == '/' || p[0] == '\\' || p[0] == ':') return true;
  return n >= 3 && p[1] == ':' && (p[2] == '/' || p[2] == '\\');
}

VoString VoFileSpec::Name2WinName(VoString name) {
  if (name.length() > 0) name.Replace('/', '\\');
  return name;
}

VoString VoFileSpec::WinName2Name(VoString name) {
  if (name.length() > 0) name.Replace('\\', '/');
  return name;
}

bool operator==(const VoFileSpec& a, const VoFileSpec& b) { return a.GetFullName() == b.GetFullName(); }

// ==================================================================== VoFileInfo

namespace {

/// The date built from six zeros, made once: walks make a VoFileInfo per entry.
const VoDate& ZeroDate() {
  static const VoDate zero(0, 0, 0, 0, 0, 0);
  return zero;
}

}  // namespace

VoFileInfo::VoFileInfo(const VoString& fullName)
    : VoFileSpec(fullName),
      mCreationDate(ZeroDate()),
      mModificationDate(ZeroDate()),
      mIsFile(true),
      mSize(0) {}

VoFileInfo::VoFileInfo(const VoFileSpec& fileSpec)
    : VoFileSpec(fileSpec),
      mCreationDate(ZeroDate()),
      mModificationDate(ZeroDate()),
      mIsFile(true),
      mSize(0) {}

// ==================================================================== members that ask the file system
// (added by the file-system bridge)

void VoFileSpec::SetPath(VoFolderType folder) { VoMacSetPath(*this, folder); }

VoString VoFileSpec::GetNativeFullName() const { return VoMacGetFullPathName(*this); }
