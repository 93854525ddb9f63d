// VoLinuxDBusPrivate.h - the freedesktop screen saver's user-activity call on the session bus.
#ifndef VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H

/// Calls org.freedesktop.ScreenSaver.SimulateUserActivity on the session bus
/// (object /org/freedesktop/ScreenSaver, then /ScreenSaver where the first
/// object is missing), which restarts the desktop's idle timer.
///
/// The whole exchange - connecting, authenticating, the bus's Hello and the
/// calls - ends within \p timeoutMilliseconds, however the bus behaves: a bus
/// that accepts and never answers, a stopped bus daemon, a full listen queue
/// or a bus that authenticates and then falls silent all give false once the
/// time is up (a full queue at once). To keep that promise without a thread,
/// the protocol is spoken here directly on a non-blocking socket, with one
/// poll deadline for every step: SASL EXTERNAL authentication as the
/// effective user, then two or three method calls without arguments, each
/// marshalled by hand (the only messages sent; no reply body is read).
/// libdbus cannot take a connected descriptor and connects and authenticates
/// without a time limit; sd-bus would add a link dependency. No D-Bus library
/// is used or loaded, and no signal disposition is touched (sends use
/// MSG_NOSIGNAL).
///
/// The bus is the one DBUS_SESSION_BUS_ADDRESS names, else $XDG_RUNTIME_DIR/bus
/// when that socket exists; without either nothing is tried (no bus is ever
/// launched). Of DBUS_SESSION_BUS_ADDRESS (a ';'-separated list) only the
/// local sockets are used - "unix:" with path= or abstract=, values
/// %-escaped as the address syntax allows - and the first that accepts the
/// connection is the bus; "tcp:", "unixexec:", "autolaunch:" and the like
/// are skipped. No call starts a service (NO_AUTO_START). False when no call
/// got an answer without error; nothing is reported further.
bool VoLinuxSimulateUserActivity(int timeoutMilliseconds);

#endif  // VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H
