// VoLinuxDesktopPrivate.h - the bell and the user-activity notice of the desktop session.
#ifndef VOFOUNDATION_LINUX_VOLINUXDESKTOPPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXDESKTOPPRIVATE_H

/// Rings one bell: the X11 bell where the display named by DISPLAY is
/// reachable, else BEL on the controlling terminal (/dev/tty), else nothing.
/// Returns 2 for the X11 bell, 1 for the terminal bell, 0 for none.
int VoLinuxBell();

/// Tells the session the user is active: XResetScreenSaver on the display and
/// the freedesktop screen saver's SimulateUserActivity on the session bus
/// (at most 250 ms for the whole exchange, connecting included). Failures are
/// ignored.
void VoLinuxUserActive();

#endif  // VOFOUNDATION_LINUX_VOLINUXDESKTOPPRIVATE_H
