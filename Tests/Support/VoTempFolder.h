// VoTempFolder.h - a fixture with a fresh folder under /tmp for each test, removed afterwards.
#ifndef VOFOUNDATION_TESTS_SUPPORT_VOTEMPFOLDER_H
#define VOFOUNDATION_TESTS_SUPPORT_VOTEMPFOLDER_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "VoIO/VoFileSpec.h"

namespace vo_test {

/// Each test gets a new folder (mDir, no trailing '/'), removed with all it
/// holds when the test ends, and a few ways to name, fill and read its files.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = "/tmp/vo_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    mDir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(mDir, ec);
  }
  std::string Path(const std::string& name) const { return mDir + "/" + name; }
  VoFileSpec Spec(const std::string& name) const { return VoFileSpec(VoString(Path(name).c_str())); }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const {
    std::ostringstream s;
    s << std::ifstream(Path(name), std::ios::binary).rdbuf();
    return s.str();
  }

  std::string mDir;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_SUPPORT_VOTEMPFOLDER_H
