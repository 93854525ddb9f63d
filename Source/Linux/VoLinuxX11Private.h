// VoLinuxX11Private.h - the X11 services of VoSystem: key snapshot, bell, screen saver, clipboard owner.
#ifndef VOFOUNDATION_LINUX_VOLINUXX11PRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXX11PRIVATE_H

#include <cstdint>

#include "Linux/VoLinuxKeysPrivate.h"

// libX11 is loaded at run time (dlopen of "libX11.so.6") on first use, so the
// library and the programs linking it need no X11 at build or link time, and
// run unchanged on machines without it: there every call below reports "no
// display". The display is the one the environment variable DISPLAY names at
// the time of the call.
//
// Each thread keeps its own connection, opened on first use and closed when
// the thread ends (or when DISPLAY changes); no lock is taken. A connection
// whose server went away is noticed and opened anew on the next call; the
// process is not ended. For that, loading libX11 installs a process-wide
// fatal-error handler (XSetIOErrorHandler) that returns for the library's own
// connections and hands every other connection to the handler installed
// before it, so a program's own connections behave as before. A program that
// installs its own handler later takes the library's connections over too. After a failed attempt to connect,
// the same DISPLAY is tried again one second later at the earliest, so that polling the keyboard without a
// server costs next to nothing.

/// Takes one snapshot of the keyboard (one XQueryKeymap) and converts it into
/// the map of virtual key codes (see VoLinuxKeysPrivate.h): code k is held
/// when an X key whose first-level key symbol is one of VoLinuxKeySymbols(k)
/// is down (keys of symbols found only on other levels are used when no key
/// has them first). False, with an empty map, when no display is reachable.
bool VoLinuxX11KeyMap(uint8_t map[kVoKeyMapBytes]);

/// Rings the display's bell at its base volume; false when no display is reachable.
bool VoLinuxX11Bell();

/// Resets the display's screen saver and idle timer (XResetScreenSaver), as a
/// key press would; false when no display is reachable.
bool VoLinuxX11ResetScreenSaver();

/// The window that owns the CLIPBOARD selection (0 when none) in \p owner;
/// false when no display is reachable.
bool VoLinuxX11ClipboardOwner(unsigned long* owner);

#endif  // VOFOUNDATION_LINUX_VOLINUXX11PRIVATE_H
