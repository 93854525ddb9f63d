// VoDataBaseFile.cpp - reading a database from a file and saving it safely to one.
#include <cerrno>

#include "Mac/VoMacFileOps.h"
#include "VoCore/VoError.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoFile.h"

// Saving never loses the old file: the text goes to a new file in the same
// folder, which is flushed to the disk and renamed over the target
// (VoMacReplaceFileContents). The target therefore holds either its old or its
// new text, whatever fails; permissions, owner and extended attributes (the
// type and creator codes among them) of an existing file are kept, and a save
// through a symbolic link replaces the file the link leads to.
//
// Failures are those of opening and writing a VoFile: a file that cannot be
// made or written (no permission, a missing folder, a folder as target)
// throws code 12 named "FileNotOpen: (for writing)" followed by the full
// name, with no source file and line 0, as opening it for writing does; a
// failure while writing (disk full, a file-size limit, an I/O error) throws
// "VoFileWriteFailed" (17). `errno` holds the reason afterwards.

void VoDataBase::WriteToFile(const VoFileSpec& spec) const {
  const VoString text = WriteToString();
  const long length = text.length();
  eVoMacReplaceStage stage = eVoMacReplaceOpen;
  const int err = VoMacReplaceFileContents(spec, text.c_str(),
                                           length > 0 ? static_cast<unsigned long>(length) : 0, &stage);
  if (err == 0) return;
  if (stage == eVoMacReplaceOpen) {
    VoString message("FileNotOpen: (for writing)");
    message += spec.GetFullName();
    VoError error(eVoFileNotOpen, message.c_str(), nullptr, 0);
    errno = err;
    throw error;
  }
  errno = err;
  VO_THROW(eVoFileWriteFailed);
}

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
