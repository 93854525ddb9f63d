// VoDataBaseFormatDocTest.cpp - the examples of docs/database-format.md, read and written back.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"
#include "VoDataBaseTestUtil.h"

using vodbtest::LayoutScope;
using vodbtest::SameDataBase;

namespace {

// One fenced block of the page whose info string starts with "vodb".
struct Block {
  std::string info;  // what follows "vodb" ("", "input", "bracketed", "error VoFormatErr")
  std::string text;  // the lines, each ending in LF
  int line;          // line of the opening fence
};

std::vector<Block> DocBlocks() {
  std::ifstream in(VO_DOCS_DIR "/database-format.md");
  std::vector<Block> blocks;
  std::string line;
  Block* open = nullptr;
  for (int n = 1; std::getline(in, line); ++n) {
    if (open == nullptr && line.rfind("```vodb", 0) == 0) {
      blocks.push_back({line.size() > 7 ? line.substr(8) : "", "", n});
      open = &blocks.back();
    } else if (open != nullptr && line == "```") {
      open = nullptr;
    } else if (open != nullptr) {
      open->text += line + "\n";
    }
  }
  return blocks;
}

VoString Str(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }
std::string Std(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }

std::string WriteBack(const std::string& text, bool bracketed) {
  VoDataBase db;
  db.ReadFromString(Str(text));
  LayoutScope layout(bracketed);
  return Std(db.WriteToString());
}

// Whether a quoted key or value of \p text spans lines (a line with an odd
// number of unescaped double quotes).
bool QuotesSpanLines(const std::string& text) {
  int quotes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\')
      ++i;
    else if (text[i] == '"')
      ++quotes;
    else if (text[i] == '\n' && quotes % 2 != 0)
      return true;
  }
  return false;
}

// Every line end of \p text replaced by \p eol.
std::string WithLineEnds(const std::string& text, const std::string& eol) {
  std::string out;
  for (char c : text) out += c == '\n' ? eol : std::string(1, c);
  return out;
}

TEST(VoDataBaseFormatDoc, ExamplesReadAndWriteBackAsShown) {
  const std::vector<Block> blocks = DocBlocks();
  ASSERT_GE(blocks.size(), 15u) << "the page's examples were not found";
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& b = blocks[i];
    SCOPED_TRACE("block at docs/database-format.md:" + std::to_string(b.line));
    if (b.info.empty() || b.info == "bracketed") {
      const bool bracketed = b.info == "bracketed";
      EXPECT_EQ(WriteBack(b.text, bracketed), b.text);
      // The same text with CR LF or CR line ends reads into the same database
      // (unless a line end is part of a quoted value).
      if (!QuotesSpanLines(b.text)) {
        for (const char* eol : {"\r\n", "\r"}) {
          VoDataBase lf, other;
          lf.ReadFromString(Str(b.text));
          other.ReadFromString(Str(WithLineEnds(b.text, eol)));
          std::string why;
          EXPECT_TRUE(SameDataBase(lf, other, &why)) << why;
        }
      }
    } else if (b.info == "input") {
      ASSERT_LT(i + 1, blocks.size());
      ASSERT_EQ(blocks[i + 1].info, "") << "an input block is followed by the text it writes as";
      EXPECT_EQ(WriteBack(b.text, false), blocks[i + 1].text);
    } else if (b.info.rfind("error ", 0) == 0) {
      VoDataBase db;
      try {
        db.ReadFromString(Str(b.text));
        ADD_FAILURE() << "read without an error";
      } catch (const VoError& e) {
        EXPECT_STREQ(e.GetErrName(), b.info.substr(6).c_str());
      }
    } else {
      ADD_FAILURE() << "unknown block kind '" << b.info << "'";
    }
  }
}

}  // namespace
