// VoLinuxDBusPrivate.h - the freedesktop screen saver's user-activity call on the session bus.
#ifndef VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H

/// Calls org.freedesktop.ScreenSaver.SimulateUserActivity on the session bus
/// (object /org/freedesktop/ScreenSaver, then /ScreenSaver where the first
/// object is missing), which restarts the desktop's idle timer. Uses the
/// blocking calls of libdbus-1, loaded at run time (dlopen of
/// "libdbus-1.so.3"), on a private connection that is closed again: all on
/// the caller's thread, no thread is started. Each call (the bus's Hello
/// included) waits at most \p timeoutMilliseconds for its answer and starts no
/// service; the process's SIGPIPE disposition is left as it was. The bus is the one DBUS_SESSION_BUS_ADDRESS
/// names, else $XDG_RUNTIME_DIR/bus when that socket exists; without either
/// nothing is tried (no bus is ever launched). Of DBUS_SESSION_BUS_ADDRESS only
/// the local sockets are used ("unix:" with path= or abstract=): connecting
/// has no time limit in libdbus, so "tcp:", "unixexec:", "autolaunch:" and
/// the like are skipped, and a variable naming nothing else means no bus.
/// False when no call got an answer without error; nothing is reported
/// further.
bool VoLinuxSimulateUserActivity(int timeoutMilliseconds);

#endif  // VOFOUNDATION_LINUX_VOLINUXDBUSPRIVATE_H
