// VoLinuxKeysTest.cpp - the key selector table, key-map tests and the virtual key code table.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <set>

#include "Linux/VoLinuxKeysPrivate.h"

namespace {

struct Map {
  uint8_t bytes[kVoKeyMapBytes] = {};
  Map(std::initializer_list<int> codes) {
    for (int c : codes) VoKeyMapSet(bytes, c);
  }
};

TEST(VoLinuxKeys, SelectorsNameTheirKeysAndOtherValuesAreCodes) {
  const struct {
    int selector, code;
  } cases[] = {{0, -1}, {1, 53},  {2, 55},  {3, 56},  {4, 60},    {5, 57},  {6, 58},    {7, 58},     {8, 61},
               {9, 59}, {10, 62}, {11, 11}, {47, 47}, {127, 127}, {-3, -3}, {128, 128}, {1000, 1000}};
  for (const auto& c : cases) EXPECT_EQ(VoKeySelectorCode(c.selector), c.code) << c.selector;
}

TEST(VoLinuxKeys, MapBitsFollowTheByteAndBitLayout) {
  Map m{0, 9, 47, 127};
  EXPECT_EQ(m.bytes[0], 0x01);
  EXPECT_EQ(m.bytes[1], 0x02);
  EXPECT_EQ(m.bytes[5], 0x80);  // 47 = 5 * 8 + 7
  EXPECT_EQ(m.bytes[15], 0x80);
  for (int code : {0, 9, 47, 127}) EXPECT_TRUE(VoKeyMapHeld(m.bytes, code));
  for (int code : {1, 8, 46, 126}) EXPECT_FALSE(VoKeyMapHeld(m.bytes, code));
}

TEST(VoLinuxKeys, CodesOutsideTheMapAreNeverHeldAndNeverSet) {
  Map all{};
  std::memset(all.bytes, 0xFF, sizeof all.bytes);
  for (int code : {-1, -128, 128, 255, 100000}) EXPECT_FALSE(VoKeyMapHeld(all.bytes, code)) << code;
  Map none{};
  for (int code : {-1, 128, 4096}) VoKeyMapSet(none.bytes, code);
  for (uint8_t b : none.bytes) EXPECT_EQ(b, 0);
}

TEST(VoLinuxKeys, LowestHeldCode) {
  EXPECT_EQ(VoKeyMapLowest(Map{}.bytes), -1);
  EXPECT_EQ(VoKeyMapLowest(Map{0}.bytes), 0);
  EXPECT_EQ(VoKeyMapLowest(Map{127}.bytes), 127);
  EXPECT_EQ(VoKeyMapLowest(Map{60, 5, 47}.bytes), 5);
  EXPECT_EQ(VoKeyMapLowest(Map{55, 47}.bytes), 47);
}

TEST(VoLinuxKeys, TestKeyRules) {
  const struct {
    std::initializer_list<int> held;
    int first, second;
    bool expected;
  } cases[] = {
      {{}, 0, 0, true},                             // no key asked for: held
      {{}, 2, 0, false},                            // Command not held
      {{55}, 2, 0, true},                           // Command alone
      {{55}, 0, 47, false},                         // the period key not held
      {{47}, 0, 47, true},                          // only the period key asked for
      {{55, 47}, 2, 47, true},                      // the break combination
      {{47}, 2, 47, false},                         // first not held: false, second not looked at
      {{55}, 2, 47, false},                         // second not held
      {{53}, 1, 0, true},                           // selector 1 is Escape ...
      {{1}, 1, 0, false},                           // ... not the code 1 (the S key)
      {{58}, 6, 7, true},                           // selectors 6 and 7 are both Option
      {{61}, 8, 0, true},                           // right Option
      {{58}, 8, 0, false},                          // left Option is not right Option
      {{60, 62}, 4, 10, true},                      // right Shift and right Control
      {{56}, 4, 0, false},                          // left Shift is not right Shift
      {{11}, 11, 0, true},                          // 11 is a plain code
      {{127}, 127, 0, true},   {{}, -5, 0, false},  // out-of-range codes are never held
      {{55}, 2, 200, false},   {{55}, 2, -1, false},
  };
  int row = 0;
  for (const auto& c : cases) {
    Map m(c.held);
    EXPECT_EQ(VoKeyMapTest(m.bytes, c.first, c.second), c.expected)
        << "row " << row << ": TestKey(" << c.first << ", " << c.second << ")";
    ++row;
  }
}

TEST(VoLinuxKeys, TheCodesTheSelectorsAndKeyBreakUseHaveTheirKeys) {
  // The codes whose meaning the keyboard calls rely on; the rest of the table
  // is checked against a real keymap in the VoSystem tests.
  const struct {
    int code;
    unsigned long sym;
  } cases[] = {{47, XK_period},    {53, XK_Escape},    {55, XK_Super_L},   {56, XK_Shift_L},
               {57, XK_Caps_Lock}, {58, XK_Alt_L},     {59, XK_Control_L}, {60, XK_Shift_R},
               {61, XK_Alt_R},     {62, XK_Control_R}, {0, XK_a},          {22, XK_6},
               {23, XK_5},         {122, XK_F1},       {99, XK_F3},        {117, XK_Delete}};
  for (const auto& c : cases) EXPECT_EQ(VoLinuxPrimaryKeySymbol(c.code), c.sym) << c.code;
}

TEST(VoLinuxKeys, CodesWithoutAnAnsiKeyHaveNoSymbols) {
  for (int code : {10, 52, 63, 66, 68, 70, 77, 93, 94, 95, 102, 104, 108, 112, 127, -1, 128, 5000}) {
    ASSERT_NE(VoLinuxKeySymbols(code), nullptr);
    EXPECT_EQ(VoLinuxKeySymbols(code)[0], 0u) << code;
    EXPECT_EQ(VoLinuxPrimaryKeySymbol(code), 0u) << code;
  }
}

TEST(VoLinuxKeys, NoSymbolBelongsToTwoCodesAndTheKeyGroupsAreComplete) {
  std::map<unsigned long, int> owner;
  int mapped = 0;
  for (int code = 0; code < kVoKeyCodeCount; ++code) {
    const unsigned long* syms = VoLinuxKeySymbols(code);
    if (syms[0]) ++mapped;
    for (; *syms; ++syms) {
      auto [it, fresh] = owner.emplace(*syms, code);
      EXPECT_TRUE(fresh) << "symbol " << *syms << " of code " << code << " also of " << it->second;
    }
  }
  EXPECT_EQ(mapped, 113);
  std::set<unsigned long> want;
  for (unsigned long s = XK_a; s <= XK_z; ++s) want.insert(s);
  for (unsigned long s = XK_0; s <= XK_9; ++s) want.insert(s);
  for (unsigned long s = XK_F1; s <= XK_F20; ++s) want.insert(s);
  for (unsigned long s = XK_KP_0; s <= XK_KP_9; ++s) want.insert(s);
  for (unsigned long s : want) EXPECT_EQ(owner.count(s), 1u) << "missing symbol " << s;
}

}  // namespace
