// VoLinuxKeysPrivate.h - virtual key codes, key selectors and their X key symbols.
#ifndef VOFOUNDATION_LINUX_VOLINUXKEYSPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXKEYSPRIVATE_H

#include <cstdint>

// The keyboard state is a map of 128 bits, one per virtual key code: bit k % 8
// of byte k / 8 is set while the key with virtual key code k is held. The codes
// are those of the standard ANSI layout that VoSystem::TestKey speaks of
// (0 the A key, 47 the period key, 53 Escape, 55 Command, ...); on X11 each code
// stands for one or more key symbols (VoLinuxKeySymbols), and an X key is
// counted as the code when the symbol of its first level is one of them.

/// Bytes of a key map.
constexpr int kVoKeyMapBytes = 16;
/// Number of virtual key codes (0 to 127).
constexpr int kVoKeyCodeCount = 128;

/// The virtual key code a TestKey selector stands for: selectors 1 to 10 name
/// Escape (53), Command (55), Shift (56), right Shift (60), Caps Lock (57),
/// Option (58, twice: 6 and 7), right Option (61), Control (59) and right
/// Control (62); 0 gives -1 (no key); every other value is the code itself.
int VoKeySelectorCode(int selector);

/// Whether the key with virtual key code \p code is held in \p map; false for
/// a code outside 0 to 127.
bool VoKeyMapHeld(const uint8_t map[kVoKeyMapBytes], int code);

/// Sets the bit of \p code (0 to 127; other values are ignored).
void VoKeyMapSet(uint8_t map[kVoKeyMapBytes], int code);

/// TestKey on one snapshot: selector 0 counts as held; \p second is looked at
/// only when \p first is held, and only when it is not 0.
bool VoKeyMapTest(const uint8_t map[kVoKeyMapBytes], int first, int second);

/// The lowest held code, -1 when none is held.
int VoKeyMapLowest(const uint8_t map[kVoKeyMapBytes]);

/// The X key symbols of virtual key code \p code, most usual first, ended by 0;
/// an empty list (just 0) for codes without a key on the ANSI layout and for
/// codes outside 0 to 127. Never null.
const unsigned long* VoLinuxKeySymbols(int code);

/// The one key symbol that names \p code in tools such as xdotool (the first
/// of VoLinuxKeySymbols), 0 when the code has none.
unsigned long VoLinuxPrimaryKeySymbol(int code);

#endif  // VOFOUNDATION_LINUX_VOLINUXKEYSPRIVATE_H
