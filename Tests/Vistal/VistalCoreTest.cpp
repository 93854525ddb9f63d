// VistalCoreTest.cpp - vistal's output and exit status for tables of displays.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VistalCore.h"
#include "VistalPlatform.h"

namespace vistal {
namespace {

DisplayRecord Display(std::int32_t id, float x, float y, float width, float height, float width_mm,
                      float height_mm, ProfileLookup profile, std::uint32_t vendor = 0,
                      std::uint32_t product = 0) {
  DisplayRecord record;
  record.id = id;
  record.vendor = vendor;
  record.product = product;
  record.origin_x = x;
  record.origin_y = y;
  record.width = width;
  record.height = height;
  record.width_mm = width_mm;
  record.height_mm = height_mm;
  record.profile = std::move(profile);
  return record;
}

DisplayList Displays(std::vector<DisplayRecord> displays) {
  DisplayList list;
  list.displays = std::move(displays);
  return list;
}

// Hands out a fixed list and counts how often it was asked.
class TableSource final : public DisplaySource {
 public:
  explicit TableSource(DisplayList list) : list_(std::move(list)) {}
  DisplayList Query() override {
    ++queries;
    return list_;
  }
  int queries = 0;

 private:
  DisplayList list_;
};

const std::string kUsageOutput =
    "Vistal [options]\nOptions:\n  -h or -? show this help text\n  -v show version\n\n";

const std::string kOneDisplayListing =
    "Found 1 Displays:\n"
    "ID: 66 VendorID: 0x10ac ProductID: 0x4082 OriginX: 0 OriginY: 0 Width: 1920 Height: 1080"
    " Resolution: 81.551842x81.642860 ICC-Profile: /usr/share/color/icc/sRGB.icc\n";

DisplayList OneDisplay() {
  return Displays({Display(66, 0, 0, 1920, 1080, 598, 336,
                           ProfileLookup::File("/usr/share/color/icc/sRGB.icc"), 0x10AC, 0x4082)});
}

// ---------------------------------------------------------------------------
// The first argument chooses what is printed; only whole option words count.

struct ArgumentCase {
  const char* name;
  std::vector<std::string_view> args;
  enum { kVersion, kUsage, kListing } expect;
};

// Test listings name each case instead of dumping its bytes.
void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class ArgumentTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTest, ChoosesOutputByFirstArgumentOnly) {
  const ArgumentCase& c = GetParam();
  TableSource source(OneDisplay());
  const Outcome outcome = vistal::Run(c.args, source);
  EXPECT_EQ(outcome.status, 0);
  switch (c.expect) {
    case ArgumentCase::kVersion:
      EXPECT_EQ(outcome.text.rfind("Vistal v1.2", 0), 0U) << outcome.text;
      EXPECT_EQ(outcome.text.find('\n'), outcome.text.size() - 1) << "one line, ending in a line end";
      EXPECT_EQ(source.queries, 0) << "no display query for -v";
      break;
    case ArgumentCase::kUsage:
      EXPECT_EQ(outcome.text, kUsageOutput);
      EXPECT_EQ(source.queries, 0) << "no display query for -h and -?";
      break;
    case ArgumentCase::kListing:
      EXPECT_EQ(outcome.text, kOneDisplayListing);
      EXPECT_EQ(source.queries, 1);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Words, ArgumentTest,
    testing::Values(ArgumentCase{"none", {}, ArgumentCase::kListing},
                    ArgumentCase{"v", {"-v"}, ArgumentCase::kVersion},
                    ArgumentCase{"h", {"-h"}, ArgumentCase::kUsage},
                    ArgumentCase{"question", {"-?"}, ArgumentCase::kUsage},
                    ArgumentCase{"v_then_more", {"-v", "-h"}, ArgumentCase::kVersion},
                    ArgumentCase{"h_then_more", {"-h", "-v"}, ArgumentCase::kUsage},
                    ArgumentCase{"vv", {"-vv"}, ArgumentCase::kListing},
                    ArgumentCase{"v_with_suffix", {"-version"}, ArgumentCase::kListing},
                    ArgumentCase{"v_with_blank", {"-v "}, ArgumentCase::kListing},
                    ArgumentCase{"long_help", {"--help"}, ArgumentCase::kListing},
                    ArgumentCase{"x", {"-x"}, ArgumentCase::kListing},
                    ArgumentCase{"capital_h", {"-H"}, ArgumentCase::kListing},
                    ArgumentCase{"bare_v", {"v"}, ArgumentCase::kListing},
                    ArgumentCase{"dash", {"-"}, ArgumentCase::kListing},
                    ArgumentCase{"empty", {""}, ArgumentCase::kListing},
                    ArgumentCase{"v_with_nul", {std::string_view("-v\0", 3)}, ArgumentCase::kListing},
                    ArgumentCase{"option_second", {"-x", "-v"}, ArgumentCase::kListing}),
    [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Whole listings, byte for byte, with their exit status.

struct ListingCase {
  const char* name;
  DisplayList list;
  std::string text;
  int status;
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

class ListingTest : public testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, PrintsWholeOutputAndStatus) {
  const ListingCase& c = GetParam();
  TableSource source(c.list);
  const Outcome outcome = vistal::Run({}, source);
  EXPECT_EQ(outcome.text, c.text);
  EXPECT_EQ(outcome.status, c.status);
}

DisplayList ListError(int code) {
  DisplayList list;
  list.error = code;
  return list;
}

std::string LongPath() {
  std::string path = "/home/user/.local/share/icc";
  while (path.size() < 300) {
    path += "/a long folder";
  }
  return path + "/x.icc";
}

std::string LongPathEscaped() {
  std::string path = "/home/user/.local/share/icc";
  while (path.size() < 300) {
    path += "/a long folder";
  }
  std::string escaped = "/home/user/.local/share/icc";
  for (std::size_t i = escaped.size(); i < path.size(); i += std::string_view("/a long folder").size()) {
    escaped += "/a\\ long\\ folder";
  }
  return escaped + "/x.icc";
}

INSTANTIATE_TEST_SUITE_P(
    Displays, ListingTest,
    testing::Values(
        ListingCase{"list_unavailable", ListError(kExitXServerUnreachable),
                    "Unable to get list of displays! Error 2\n", 2},
        ListingCase{"no_display_name", ListError(kExitNoDisplayName),
                    "Unable to get list of displays! Error 1\n", 1},
        ListingCase{"no_displays", Displays({}), "Found 0 Displays:\n", 0},
        ListingCase{"one_display", OneDisplay(), kOneDisplayListing, 0},
        ListingCase{"rotated_panel",
                    Displays({Display(7, 1920, 0, 1200, 1920, 518, 324, ProfileLookup::File("/p.icc"))}),
                    "Found 1 Displays:\n"
                    "ID: 7 VendorID: 0x0000 ProductID: 0x0000 OriginX: 1920 OriginY: 0 Width: 1200 Height: "
                    "1920"
                    " Resolution: 94.074074x94.146721 ICC-Profile: /p.icc\n",
                    0},
        ListingCase{"square_keeps_order",
                    Displays({Display(8, 0, 0, 1000, 1000, 300, 200, ProfileLookup::File("/p.icc"))}),
                    "Found 1 Displays:\n"
                    "ID: 8 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 1000 Height: "
                    "1000"
                    " Resolution: 84.666664x127.000000 ICC-Profile: /p.icc\n",
                    0},
        ListingCase{
            "blanks_and_backslashes",
            Displays({Display(1, 0, 0, 800, 600, 0, 0,
                              ProfileLookup::File("/Library/Color Profiles/My Display.icc")),
                      Display(2, 800, 0, 800, 600, 0, 0, ProfileLookup::File("/tmp/a\\b \\c\\\\.icc"))}),
            "Found 2 Displays:\n"
            "ID: 1 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 800 Height: 600"
            " Resolution: infxinf ICC-Profile: /Library/Color\\ Profiles/My\\ Display.icc\n"
            "ID: 2 VendorID: 0x0000 ProductID: 0x0000 OriginX: 800 OriginY: 0 Width: 800 Height: "
            "600"
            " Resolution: infxinf ICC-Profile: /tmp/a\\\\b\\ \\\\c\\\\\\\\.icc\n",
            0},
        ListingCase{
            "second_has_no_profile",
            Displays({Display(10, 0, 0, 1920, 1080, 598, 336, ProfileLookup::File("/a.icc"), 0x10AC, 0xA0C5),
                      Display(11, -1280, 0, 1280, 1024, 338, 270, ProfileLookup::Failed(kExitNoProfile)),
                      Display(12, 1920, 0, 800, 600, 0, 0, ProfileLookup::File("/never.icc"))}),
            "Found 3 Displays:\n"
            "ID: 10 VendorID: 0x10ac ProductID: 0xa0c5 OriginX: 0 OriginY: 0 Width: 1920 Height: "
            "1080"
            " Resolution: 81.551842x81.642860 ICC-Profile: /a.icc\n"
            "ID: 11 VendorID: 0x0000 ProductID: 0x0000 OriginX: -1280 OriginY: 0 Width: 1280 "
            "Height: 1024"
            " Resolution: 96.189346x96.331848Unable to find ICC-Profile for display ID: 11! Error "
            "7\n",
            7},
        ListingCase{
            "first_has_no_device",
            Displays({Display(3, 0, 0, 640, 480, 0, 0, ProfileLookup::Failed(kExitNoColordDevice)),
                      Display(4, 640, 0, 640, 480, 0, 0, ProfileLookup::Failed(kExitNoColordDevice))}),
            "Found 2 Displays:\n"
            "ID: 3 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 640 Height: 480"
            " Resolution: infxinfUnable to find ICC-Profile for display ID: 3! Error 6\n",
            6},
        ListingCase{"zero_physical_size",
                    Displays({Display(5, 0, 0, 1024, 768, 0, 0, ProfileLookup::File("/z.icc"))}),
                    "Found 1 Displays:\n"
                    "ID: 5 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 1024 Height: 768"
                    " Resolution: infxinf ICC-Profile: /z.icc\n",
                    0},
        ListingCase{
            "negative_physical_size_is_unknown",
            Displays({Display(6, 0, 0, 1080, 1920, 597, -1, ProfileLookup::File("/k.icc"))}),
            "Found 1 Displays:\nID: 6 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 1080"
            " Height: 1920 Resolution: infx81.688438 ICC-Profile: /k.icc\n",
            0},
        ListingCase{"profile_without_file_name",
                    Displays({Display(20, 0, 0, 1024, 768, 0, 0, ProfileLookup::NoFileName()),
                              Display(21, 1024, 0, 1024, 768, 0, 0, ProfileLookup::File("/b.icc"))}),
                    "Found 2 Displays:\n"
                    "ID: 20 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 1024 Height: "
                    "768"
                    " Resolution: infxinf ICC-Profile: Error:\\ Unkown\\ ICC-Profile\\ location\\ type!\n"
                    "ID: 21 VendorID: 0x0000 ProductID: 0x0000 OriginX: 1024 OriginY: 0 Width: 1024 "
                    "Height: 768"
                    " Resolution: infxinf ICC-Profile: /b.icc\n",
                    0},
        ListingCase{"wide_numbers",
                    Displays({Display(2147483647, -32768, 65535, 1, 1, 25.4F, 25.4F,
                                      ProfileLookup::File("/w.icc"), 0x12345678, 0xFFFFFFFF)}),
                    "Found 1 Displays:\n"
                    "ID: 2147483647 VendorID: 0x12345678 ProductID: 0xffffffff OriginX: -32768 "
                    "OriginY: 65535"
                    " Width: 1 Height: 1 Resolution: 1.000000x1.000000 ICC-Profile: /w.icc\n",
                    0},
        ListingCase{"long_utf8_path_uncut",
                    Displays({Display(9, 0, 0, 1, 1, 0, 0,
                                      ProfileLookup::File(LongPath() + "/\xC3\xA9"
                                                                       "cran.icc"))}),
                    "Found 1 Displays:\n"
                    "ID: 9 VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 0 Width: 1 Height: 1"
                    " Resolution: infxinf ICC-Profile: " +
                        LongPathEscaped() +
                        "/\xC3\xA9"
                        "cran.icc\n",
                    0}),
    [](const testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.name); });

TEST(ListingLimit, ReportsOnlyTheFirst32Of33Displays) {
  std::vector<DisplayRecord> records;
  std::string expected = "Found 32 Displays:\n";
  for (int i = 1; i <= 33; ++i) {
    const std::string path = "/icc/d" + std::to_string(i) + ".icc";
    records.push_back(
        Display(i, static_cast<float>(100 * (i - 1)), 0, 100, 100, 25.4F, 25.4F, ProfileLookup::File(path)));
    if (i <= 32) {
      expected +=
          "ID: " + std::to_string(i) +
          " VendorID: 0x0000 ProductID: 0x0000 OriginX: " + std::to_string(100 * (i - 1)) +
          " OriginY: 0 Width: 100 Height: 100 Resolution: 100.000000x100.000000 ICC-Profile: " + path + "\n";
    }
  }
  TableSource source(Displays(std::move(records)));
  const Outcome outcome = vistal::Run({}, source);
  EXPECT_EQ(outcome.text, expected);
  EXPECT_EQ(outcome.status, 0);
}

// ---------------------------------------------------------------------------
// Shell escaping: backslashes are doubled before blanks get theirs.

struct EscapeCase {
  std::string_view in;
  std::string_view out;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
  // Letters and digits only: test listings are parsed by CTest.
  for (char ch : c.in) *os << (std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_');
}

class EscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, EscapesBackslashesThenBlanks) { EXPECT_EQ(EscapeForShell(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    testing::Values(EscapeCase{"", ""}, EscapeCase{"/plain/path.icc", "/plain/path.icc"},
                    EscapeCase{" ", "\\ "}, EscapeCase{"\\", "\\\\"}, EscapeCase{"\\ ", "\\\\\\ "},
                    EscapeCase{"a  b", "a\\ \\ b"}, EscapeCase{"tab\tand\nline'\"$", "tab\tand\nline'\"$"},
                    EscapeCase{std::string_view("nul\0byte", 8), std::string_view("nul\0byte", 8)},
                    EscapeCase{"\xFF\x80 \xC3\xA9", "\xFF\x80\\ \xC3\xA9"}));

// ---------------------------------------------------------------------------
// EDID identification numbers.

struct EdidCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::uint32_t vendor;
  std::uint32_t product;
};

void PrintTo(const EdidCase& c, std::ostream* os) { *os << c.name; }

class EdidTest : public testing::TestWithParam<EdidCase> {};

TEST_P(EdidTest, ReadsVendorBigEndianAndProductLittleEndian) {
  const EdidIds ids = ReadEdidIds(GetParam().bytes);
  EXPECT_EQ(ids.vendor, GetParam().vendor);
  EXPECT_EQ(ids.product, GetParam().product);
}

std::vector<std::uint8_t> EdidStart(std::uint8_t b8, std::uint8_t b9, std::uint8_t b10, std::uint8_t b11,
                                    std::size_t size = 128) {
  std::vector<std::uint8_t> bytes(size, 0);
  const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  for (std::size_t i = 0; i < 8 && i < size; ++i) {
    bytes[i] = header[i];
  }
  if (size >= 12) {
    bytes[8] = b8;
    bytes[9] = b9;
    bytes[10] = b10;
    bytes[11] = b11;
  }
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, EdidTest,
    testing::Values(EdidCase{"dell", EdidStart(0x10, 0xAC, 0x82, 0x40), 0x10AC, 0x4082},
                    EdidCase{"all_ones", EdidStart(0xFF, 0xFF, 0xFF, 0xFF), 0xFFFF, 0xFFFF},
                    EdidCase{"twelve_bytes", EdidStart(0x4C, 0x2D, 0x01, 0x02, 12), 0x4C2D, 0x0201},
                    EdidCase{"too_short", EdidStart(0x10, 0xAC, 0x82, 0x40, 11), 0, 0},
                    EdidCase{"empty", {}, 0, 0}),
    [](const testing::TestParamInfo<EdidCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Which display server is asked, and the profiles up to the first failure.

class FakeServer final : public OutputSource {
 public:
  explicit FakeServer(FoundOutputs answer) : answer_(std::move(answer)) {}
  FoundOutputs List() override {
    ++asked;
    return answer_;
  }
  int asked = 0;

 private:
  FoundOutputs answer_;
};

// Fails for the output named "broken" with code 7; records every output asked about.
class FakeProfiles final : public ProfileFinder {
 public:
  ProfileLookup Find(const FoundOutput& output) override {
    asked.push_back(output.name);
    return output.name == "broken" ? ProfileLookup::Failed(kExitNoProfile) : ProfileLookup::File("/p.icc");
  }
  std::vector<std::string> asked;
};

FoundOutputs Outputs(std::vector<std::string> names) {
  FoundOutputs found;
  for (std::size_t i = 0; i < names.size(); ++i) {
    found.outputs.push_back(
        {Display(static_cast<std::int32_t>(i + 1), 0, 0, 1, 1, 1, 1, {}), names[i], {}, {}, {}});
  }
  return found;
}

FoundOutputs Failure(int code) {
  FoundOutputs found;
  found.error = code;
  return found;
}

struct SessionCase {
  const char* name;
  const char* wayland_display;
  const char* x_display;
  FoundOutputs wayland_answer;
  int wayland_asked;
  int x_asked;
  int error;
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

class SessionTest : public testing::TestWithParam<SessionCase> {};

TEST_P(SessionTest, AsksTheCompositorFirstAndTheXServerOnlyWhenItCannotBeReached) {
  const SessionCase& c = GetParam();
  FakeServer wayland(c.wayland_answer);
  FakeServer x11(Outputs({"x"}));
  FakeProfiles profiles;
  SessionSource source(c.wayland_display, c.x_display, wayland, x11, profiles);
  const DisplayList list = source.Query();
  EXPECT_EQ(list.error, c.error);
  EXPECT_EQ(wayland.asked, c.wayland_asked);
  EXPECT_EQ(x11.asked, c.x_asked);
  EXPECT_EQ(list.displays.size(), c.error == 0 ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, SessionTest,
    testing::Values(SessionCase{"wayland_only", "wayland-1", nullptr, Outputs({"DP-1"}), 1, 0, 0},
                    SessionCase{"wayland_wins_over_x", "wayland-1", ":0", Outputs({"DP-1"}), 1, 0, 0},
                    SessionCase{"wayland_unreachable_x_set", "/nowhere", ":0", Failure(8), 1, 1, 0},
                    SessionCase{"wayland_unreachable_no_x", "/nowhere", nullptr, Failure(8), 1, 0, 8},
                    SessionCase{"wayland_unreachable_empty_x", "/nowhere", "", Failure(8), 1, 0, 8},
                    SessionCase{"x_only", nullptr, ":0", {}, 0, 1, 0},
                    SessionCase{"empty_wayland_means_unset", "", ":0", {}, 0, 1, 0},
                    SessionCase{"neither", nullptr, nullptr, {}, 0, 0, 1},
                    SessionCase{"both_empty", "", "", {}, 0, 0, 1}),
    [](const testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

TEST(SessionProfiles, StopsAskingAtTheFirstFailureAndCapsTheListAt32) {
  std::vector<std::string> names(40, "ok");
  names[2] = "broken";
  FakeServer wayland(Outputs(names));
  FakeServer x11(Outputs({}));
  FakeProfiles profiles;
  SessionSource source("wayland-1", nullptr, wayland, x11, profiles);
  const DisplayList list = source.Query();
  ASSERT_EQ(list.displays.size(), kMaxDisplays);
  EXPECT_EQ(profiles.asked.size(), 3U);
  EXPECT_EQ(list.displays[1].profile.kind, ProfileLookup::Kind::kFile);
  EXPECT_EQ(list.displays[31].profile.error, kExitNoProfile);
  EXPECT_EQ(RenderListing(list).status, kExitNoProfile);
}

// ---------------------------------------------------------------------------
// Bounds of a Wayland output known only from wl_output.

struct ModeBoundsCase {
  const char* name;
  WaylandOutputState output;
  Bounds bounds;
};

void PrintTo(const ModeBoundsCase& c, std::ostream* os) { *os << c.name; }

class ModeBoundsTest : public testing::TestWithParam<ModeBoundsCase> {};

TEST_P(ModeBoundsTest, TurnsThenDividesByTheScale) {
  const Bounds bounds = BoundsFromOutputMode(GetParam().output);
  EXPECT_EQ(bounds.x, GetParam().bounds.x);
  EXPECT_EQ(bounds.y, GetParam().bounds.y);
  EXPECT_EQ(bounds.width, GetParam().bounds.width);
  EXPECT_EQ(bounds.height, GetParam().bounds.height);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ModeBoundsTest,
    testing::Values(ModeBoundsCase{"plain", {10, 20, 1920, 1080, 1, 0}, {10, 20, 1920, 1080}},
                    ModeBoundsCase{"scale_2", {0, 0, 3840, 2160, 2, 0}, {0, 0, 1920, 1080}},
                    ModeBoundsCase{"rotated_90", {0, 0, 1920, 1200, 1, 1}, {0, 0, 1200, 1920}},
                    ModeBoundsCase{"upside_down", {0, 0, 1920, 1200, 1, 2}, {0, 0, 1920, 1200}},
                    ModeBoundsCase{"flipped_270_scale_2", {5, 6, 2560, 1600, 2, 7}, {5, 6, 800, 1280}},
                    ModeBoundsCase{"odd_size_drops_fraction", {0, 0, 1366, 769, 2, 0}, {0, 0, 683, 384}},
                    ModeBoundsCase{"scale_0_counts_as_1", {0, 0, 800, 600, 0, 0}, {0, 0, 800, 600}}),
    [](const testing::TestParamInfo<ModeBoundsCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Kernel connector folders: card<N>-<name>, the name matching whole.

struct ConnectorCase {
  const char* entry;
  const char* connector;
  std::optional<unsigned long> card;
};

class ConnectorTest : public testing::TestWithParam<ConnectorCase> {};

TEST_P(ConnectorTest, MatchesCardNumberAndWholeName) {
  EXPECT_EQ(ConnectorCardNumber(GetParam().entry, GetParam().connector), GetParam().card)
      << GetParam().entry << " / " << GetParam().connector;
}

INSTANTIATE_TEST_SUITE_P(Entries, ConnectorTest,
                         testing::Values(ConnectorCase{"card0-HDMI-A-1", "HDMI-A-1", 0UL},
                                         ConnectorCase{"card12-DP-1", "DP-1", 12UL},
                                         ConnectorCase{"card0-HDMI-A-10", "HDMI-A-1", std::nullopt},
                                         ConnectorCase{"card0-HDMI-A-1", "HDMI-A-10", std::nullopt},
                                         ConnectorCase{"card0-HDMI-A-1", "A-1", std::nullopt},
                                         ConnectorCase{"card1-eDP-1", "DP-1", std::nullopt},
                                         ConnectorCase{"card-DP-1", "DP-1", std::nullopt},
                                         ConnectorCase{"card0DP-1", "DP-1", std::nullopt},
                                         ConnectorCase{"cardx-DP-1", "DP-1", std::nullopt},
                                         ConnectorCase{"card0", "", std::nullopt},
                                         ConnectorCase{"card0-", "", std::nullopt},
                                         ConnectorCase{"renderD128", "DP-1", std::nullopt},
                                         ConnectorCase{"xcard0-DP-1", "DP-1", std::nullopt}));

TEST(ConnectorTest, KernelSpellingOfUserSpaceNames) {
  const std::pair<const char*, const char*> cases[] = {{"HDMI-1", "HDMI-A-1"}, {"HDMI-12", "HDMI-A-12"},
                                                       {"DIN-2", ""},          {"None-1", "Unknown-1"},
                                                       {"HDMI-A-1", ""},       {"HDMI-", ""},
                                                       {"HDMI-1x", ""},        {"DP-1", ""},
                                                       {"eDP-1", ""},          {"XHDMI-1", ""}};
  for (const auto& [name, kernel] : cases) EXPECT_EQ(KernelConnectorName(name), kernel) << name;
}

// ---------------------------------------------------------------------------
// Which colord device belongs to output "DP-1" (EDID MD5 "abc", weston id "xrandr-Dell-X")
// for the caller uid 1000: rule order, kind, the caller's own device first.

ColordDevice Device(const char* id, std::uint32_t owner, const char* key = "", const char* value = "",
                    const char* kind = "display") {
  ColordDevice device{std::string("/d/") + id, id, kind, owner, {}, {}};
  if (*key != '\0') device.metadata.emplace_back(key, value);
  return device;
}

TEST(ColordDeviceChoice, ByRuleOrderKindAndOwner) {
  const struct {
    const char* name;
    std::vector<ColordDevice> devices;
    std::optional<std::size_t> chosen;
  } cases[] = {
      {"none", {}, std::nullopt},
      {"xrandr_name", {Device("x", 0, "XRANDR_name", "DP-2"), Device("y", 0, "XRANDR_name", "DP-1")}, 1},
      {"edid_md5", {Device("x", 0, "OutputEdidMd5", "abd"), Device("y", 0, "OutputEdidMd5", "abc")}, 1},
      {"kwin_id_is_the_name", {Device("DP-10", 0), Device("DP-1", 0)}, 1},
      {"weston_id", {Device("xrandr-Dell", 0), Device("xrandr-Dell-X", 0)}, 1},
      {"metadata_before_id", {Device("DP-1", 0), Device("z", 0, "XRANDR_name", "DP-1")}, 1},
      {"md5_before_id", {Device("DP-1", 0), Device("z", 0, "OutputEdidMd5", "abc")}, 1},
      {"only_displays", {Device("DP-1", 0, "XRANDR_name", "DP-1", "printer")}, std::nullopt},
      {"metadata_key_must_match", {Device("z", 0, "OutputEdidMd5", "DP-1")}, std::nullopt},
      {"own_device_first", {Device("DP-1", 1001), Device("DP-1", 1000)}, 1},
      {"own_device_by_a_later_rule_first",
       {Device("a", 1001, "XRANDR_name", "DP-1"), Device("DP-1", 1000)},
       1},
      {"another_users_when_none_is_own", {Device("b", 0), Device("a", 1001, "XRANDR_name", "DP-1")}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseColordDevice(c.devices, {"DP-1", "abc", "xrandr-Dell-X"}, 1000), c.chosen) << c.name;
  }
}

TEST(WestonDeviceId, JoinsVendorModelAndSerialThatAreKnown) {
  EXPECT_EQ(WestonColordId("weston", "headless", ""), "xrandr-weston-headless");
  EXPECT_EQ(WestonColordId("Dell Inc.", "unknown", "ABC123"), "xrandr-Dell Inc.-ABC123");
  EXPECT_EQ(WestonColordId("", "unknown", "unknown"), "");
  EXPECT_EQ(PnpVendorName("DEK\tDelta Kogyo\r\nDEL\tDell Inc.\r\n", "DEL"), "Dell Inc.");
  EXPECT_EQ(PnpVendorName("DELL\tNot an id\nDE\tShort\n", "DEL"), "");

  std::vector<std::uint8_t> edid = EdidStart(0x10, 0xAC, 0x82, 0x40);
  EXPECT_EQ(EdidSerialText(edid), "");
  edid[13] = 0x30, edid[12] = 0x39;  // serial 12345, little-endian
  EXPECT_EQ(EdidSerialText(edid), "12345");
  const std::uint8_t descriptor[] = {0, 0, 0, 0xFF, 0, 'C', 'N', '0', '1', '\t', 'X', '\n', ' ', ' '};
  std::copy(std::begin(descriptor), std::end(descriptor), edid.begin() + 72);  // the second descriptor
  EXPECT_EQ(EdidSerialText(edid), "CN01-X");
  EXPECT_EQ(EdidSerialText(std::span(edid).first(127)), "");
}

}  // namespace
}  // namespace vistal
