// The library example shown in README.md; the test suite builds and runs it.
#include <VoFoundation.h>

#include <cstdio>

int main() {
  // Copy-on-write strings with charset conversions.
  VoString name("Caf\xE9 Display");  // ISO 8859-1
  VoString utf8 = name.ISO8859_1ToUTF8();
  std::printf("%ld bytes as UTF-8, quoted: %s\n", utf8.length(), utf8.QuoteString().c_str());

  // A hierarchical key/value database and its text form.
  VoDataBase* settings = new VoDataBase;
  settings->SetString("display/profile", "/usr/share/color/icc/sRGB.icc");
  settings->SetDouble("display/gamma", 2.2);
  std::printf("%s", settings->WriteToString().c_str());
  std::printf("gamma read back: %g\n", settings->GetDouble("display/gamma"));
  settings->Delete();

  // Every failure is a VoError with code, name, file and line.
  try {
    VoString("abc")[7];
  } catch (const VoError& e) {
    std::printf("%s in %s\n", e.what(), e.GetFileName());
  }
  return 0;
}
