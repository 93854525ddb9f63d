// VoDataBaseFile.cpp - reading a database from a file and saving it safely to one.
#include "VoData/VoDataBase.h"
#include "VoIO/VoFile.h"

// Saving never loses the old file: VoFile::ReplaceContents puts the text in
// place only once it is complete on the disk, keeps an existing file's
// permissions, owner and extended attributes, and replaces the file a symbolic
// link leads to. Its errors (code 12 when the file cannot be made or written,
// "VoFileWriteFailed" (17) while writing, `errno` holding the reason) pass to
// the caller unchanged.

void VoDataBase::WriteToFile(const VoFileSpec& spec) const { VoFile::ReplaceContents(spec, WriteToString()); }

void VoDataBase::ReadFromFile(const VoFileSpec& spec) {
  VoString text;
  {
    VoFile file;  // closed by its destructor also when an error passes through
    file.SetSpec(spec);
    file.Open(eVoFileRead, false);
    text = file.ReadString();
    file.Close();
  }
  ReadFromString(text);
}
