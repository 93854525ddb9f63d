// A program's settings kept in a database text file: each launch reads the
// file (when there is one), fills in defaults for missing entries, changes
// what the user changed and saves the file again. Built and run by the test
// suite.
#include <VoFoundation.h>

#include <cstdio>

namespace {

// One launch of the program that owns the settings file.
void Launch(const VoFileSpec& file, double gamma) {
  VoDataBase* settings = new VoDataBase;
  try {
    if (VoSystem::FileExists(file)) settings->ReadFromFile(file);
    // A missing entry is created with its default (store = true), so that the
    // saved file lists every setting the program knows.
    const int launches = settings->GetInt("app/launches", 0, true) + 1;
    settings->GetString("display/profile", "/usr/share/color/icc/sRGB.icc", true);
    settings->GetBoolean("display/calibrated", false, true);
    settings->SetInt("app/launches", launches);
    settings->SetDouble("display/gamma", gamma);
    settings->WriteToFile(file);
    std::printf("launch %d saved gamma %g\n", launches, settings->GetDouble("display/gamma"));
  } catch (...) {
    settings->Delete();
    throw;
  }
  settings->Delete();
}

// The file's text as it is on disk.
VoString FileText(const VoFileSpec& spec) {
  VoFile* file = new VoFile(spec, eVoFileRead);
  VoString text;
  try {
    text = file->ReadString();
  } catch (...) {
    file->Delete();
    throw;
  }
  file->Delete();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // The file named on the command line, or a new one in the temporary folder.
  VoFileSpec file(argc > 1 ? argv[1] : "vo_settings_example.txt");
  if (argc <= 1) {
    file.SetPath(VoFolderTypeTemporary);
    file.SetUniqueName();
  }
  try {
    Launch(file, 2.2);
    Launch(file, 1.8);  // reads what the first launch saved
    std::printf("%s", FileText(file).c_str());
    if (argc <= 1) VoSystem::RemoveFile(file);
  } catch (const VoError& e) {
    std::fprintf(stderr, "settings: %s: %s\n", file.GetFullName().c_str(), e.what());
    return 1;
  }
  return 0;
}
