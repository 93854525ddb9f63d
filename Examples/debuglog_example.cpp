// The debug log written to a file: the program raises the level, sends the
// log to a file, and every error the library raises is traced there with its
// code, name, source file and line, next to the program's own messages.
// Built and run by the test suite.
#include <VoFoundation.h>

#include <cstdio>

int main() {
  VoFileSpec log("vo_debuglog_example.log");
  log.SetPath(VoFolderTypeTemporary);
  log.SetUniqueName();

  VoSetDebugLevelImpl(1);  // level 1 shows the error traces; 0 (the default) drops them
  VoSetDebugOutputFileImpl(log.GetFullName());
  VoDebugPrintfImpl(1, "loading settings for %s", "Demo Display");

  VoDataBase* settings = new VoDataBase;
  try {
    settings->ReadFromFile(VoFileSpec("/nonexistent/settings.txt"));
  } catch (const VoError& e) {
    // Opening errors carry the path in their name, and no source line.
    VoDebugPrintfImpl(1, "no settings file, using the built-in text (%s)", e.GetErrName());
  }
  try {
    settings->ReadFromString("gamma=2.2\n");  // the format wants blanks around "="
  } catch (const VoError& e) {
    VoDebugPrintfImpl(1, "built-in text rejected: %s at %s line %d", e.what(), e.GetFileName(), e.GetLine());
  }
  settings->Delete();
  VoDebugWriteImpl(2, "level 2: not written at level 1");

  // Back to standard output; the file keeps what was written.
  VoSetDebugOutputImpl(VoGetDefaultOutputStream());
  VoFile* file = new VoFile(log, eVoFileRead);
  std::printf("%s", file->ReadString().c_str());
  file->Delete();
  VoSystem::RemoveFile(log);
  return 0;
}
