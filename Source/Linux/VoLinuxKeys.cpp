// VoLinuxKeys.cpp - the table of virtual key codes and their X key symbols, and key-map tests.
#include "Linux/VoLinuxKeysPrivate.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace {

// Key symbols per virtual key code (the ANSI layout), each list ended by 0.
// Keypad keys also list the symbol they have with Num Lock off, which is the
// first-level symbol of most keymaps. Codes not listed have no key on the ANSI
// layout: 10 (the ISO section key), 63 (fn, handled inside the keyboard),
// 93 to 95, 102 and 104 (JIS keys), and the unused 52, 66, 68, 70, 77, 108,
// 112 and 127.
struct KeyEntry {
  int code;
  unsigned long syms[4];
};

constexpr KeyEntry kKeyTable[] = {
    // Letters and digits.
    {0, {XK_a}},
    {1, {XK_s}},
    {2, {XK_d}},
    {3, {XK_f}},
    {4, {XK_h}},
    {5, {XK_g}},
    {6, {XK_z}},
    {7, {XK_x}},
    {8, {XK_c}},
    {9, {XK_v}},
    {11, {XK_b}},
    {12, {XK_q}},
    {13, {XK_w}},
    {14, {XK_e}},
    {15, {XK_r}},
    {16, {XK_y}},
    {17, {XK_t}},
    {18, {XK_1}},
    {19, {XK_2}},
    {20, {XK_3}},
    {21, {XK_4}},
    {22, {XK_6}},
    {23, {XK_5}},
    {24, {XK_equal}},
    {25, {XK_9}},
    {26, {XK_7}},
    {27, {XK_minus}},
    {28, {XK_8}},
    {29, {XK_0}},
    {30, {XK_bracketright}},
    {31, {XK_o}},
    {32, {XK_u}},
    {33, {XK_bracketleft}},
    {34, {XK_i}},
    {35, {XK_p}},
    {36, {XK_Return}},
    {37, {XK_l}},
    {38, {XK_j}},
    {39, {XK_apostrophe}},
    {40, {XK_k}},
    {41, {XK_semicolon}},
    {42, {XK_backslash}},
    {43, {XK_comma}},
    {44, {XK_slash}},
    {45, {XK_n}},
    {46, {XK_m}},
    {47, {XK_period}},
    {48, {XK_Tab}},
    {49, {XK_space}},
    {50, {XK_grave}},
    {51, {XK_BackSpace}},
    {53, {XK_Escape}},
    // Modifiers: the Super keys stand for Command, Alt for Option; a right Alt
    // key that a layout turned into AltGr still counts as right Option.
    {54, {XK_Super_R}},
    {55, {XK_Super_L}},
    {56, {XK_Shift_L}},
    {57, {XK_Caps_Lock}},
    {58, {XK_Alt_L, XK_Meta_L}},
    {59, {XK_Control_L}},
    {60, {XK_Shift_R}},
    {61, {XK_Alt_R, XK_ISO_Level3_Shift, XK_Meta_R}},
    {62, {XK_Control_R}},
    // Function keys.
    {64, {XK_F17}},
    {79, {XK_F18}},
    {80, {XK_F19}},
    {90, {XK_F20}},
    {96, {XK_F5}},
    {97, {XK_F6}},
    {98, {XK_F7}},
    {99, {XK_F3}},
    {100, {XK_F8}},
    {101, {XK_F9}},
    {103, {XK_F11}},
    {105, {XK_F13}},
    {106, {XK_F16}},
    {107, {XK_F14}},
    {109, {XK_F10}},
    {111, {XK_F12}},
    {113, {XK_F15}},
    {118, {XK_F4}},
    {120, {XK_F2}},
    {122, {XK_F1}},
    // Keypad; Clear sits where a PC keypad has Num Lock.
    {65, {XK_KP_Decimal, XK_KP_Delete, XK_KP_Separator}},
    {67, {XK_KP_Multiply}},
    {69, {XK_KP_Add}},
    {71, {XK_Num_Lock, XK_Clear}},
    {75, {XK_KP_Divide}},
    {76, {XK_KP_Enter}},
    {78, {XK_KP_Subtract}},
    {81, {XK_KP_Equal}},
    {82, {XK_KP_0, XK_KP_Insert}},
    {83, {XK_KP_1, XK_KP_End}},
    {84, {XK_KP_2, XK_KP_Down}},
    {85, {XK_KP_3, XK_KP_Next}},
    {86, {XK_KP_4, XK_KP_Left}},
    {87, {XK_KP_5, XK_KP_Begin}},
    {88, {XK_KP_6, XK_KP_Right}},
    {89, {XK_KP_7, XK_KP_Home}},
    {91, {XK_KP_8, XK_KP_Up}},
    {92, {XK_KP_9, XK_KP_Prior}},
    // Sound keys.
    {72, {XF86XK_AudioRaiseVolume}},
    {73, {XF86XK_AudioLowerVolume}},
    {74, {XF86XK_AudioMute}},
    // The navigation block: Help is where a PC keyboard has Insert.
    {110, {XK_Menu}},
    {114, {XK_Insert, XK_Help}},
    {115, {XK_Home}},
    {116, {XK_Prior}},
    {117, {XK_Delete}},
    {119, {XK_End}},
    {121, {XK_Next}},
    {123, {XK_Left}},
    {124, {XK_Right}},
    {125, {XK_Down}},
    {126, {XK_Up}},
};

struct KeyIndex {
  const unsigned long* byCode[kVoKeyCodeCount];
  constexpr KeyIndex() : byCode() {
    for (const KeyEntry& e : kKeyTable) byCode[e.code] = e.syms;
  }
};

constexpr KeyIndex kIndex;
constexpr unsigned long kNoSymbols[1] = {0};

// Selectors 1 to 10.
constexpr int kSelectorCodes[11] = {-1, 53, 55, 56, 60, 57, 58, 58, 61, 59, 62};

}  // namespace

int VoKeySelectorCode(int selector) {
  if (selector >= 0 && selector <= 10) return kSelectorCodes[selector];
  return selector;
}

bool VoKeyMapHeld(const uint8_t map[kVoKeyMapBytes], int code) {
  if (code < 0 || code >= kVoKeyCodeCount) return false;
  return (map[code / 8] >> (code % 8)) & 1u;
}

void VoKeyMapSet(uint8_t map[kVoKeyMapBytes], int code) {
  if (code < 0 || code >= kVoKeyCodeCount) return;
  map[code / 8] = static_cast<uint8_t>(map[code / 8] | (1u << (code % 8)));
}

bool VoKeyMapTest(const uint8_t map[kVoKeyMapBytes], int first, int second) {
  if (first != 0 && !VoKeyMapHeld(map, VoKeySelectorCode(first))) return false;
  if (second == 0) return true;
  return VoKeyMapHeld(map, VoKeySelectorCode(second));
}

int VoKeyMapLowest(const uint8_t map[kVoKeyMapBytes]) {
  for (int code = 0; code < kVoKeyCodeCount; ++code)
    if (VoKeyMapHeld(map, code)) return code;
  return -1;
}

const unsigned long* VoLinuxKeySymbols(int code) {
  if (code < 0 || code >= kVoKeyCodeCount || !kIndex.byCode[code]) return kNoSymbols;
  return kIndex.byCode[code];
}

unsigned long VoLinuxPrimaryKeySymbol(int code) { return VoLinuxKeySymbols(code)[0]; }
