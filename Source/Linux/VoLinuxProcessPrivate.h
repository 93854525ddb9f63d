// VoLinuxProcessPrivate.h - starting helper programs without a shell, and the program's own path.
#ifndef VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H

#include <string>
#include <vector>

// Programs are always started directly (posix_spawn, or fork and execve) with
// an argument vector: no text given to them is ever read by a shell. In the
// child every descriptor above 2 is closed, and the signal mask and the
// dispositions of SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM and SIGHUP are
// reset to their defaults.

/// The absolute path of the executable \p name: a name holding '/' is taken
/// as it is (when executable); else the folders of PATH are searched in order
/// (an empty PATH entry is the current folder; PATH unset means
/// "/usr/local/bin:/usr/bin:/bin"). "" when nothing executable is found.
std::string VoLinuxFindProgram(const std::string& name);

/// What VoLinuxRun reports.
struct VoLinuxRunResult {
  bool started = false;   ///< the program was found and started
  bool timedOut = false;  ///< it was killed (by its process id) for making no progress
  /// Its exit code; -1 when it did not exit normally. 0 when the system
  /// reaped it already (a program that ignores SIGCHLD), as the code is lost.
  int exitCode = -1;
};

/// Runs \p argv (argv[0] searched with VoLinuxFindProgram) and waits for it.
/// \p input, when not null, is written to its standard input (else it reads
/// /dev/null); its standard output is collected into \p output when that is
/// not null (else it goes to /dev/null); its standard error goes to /dev/null.
/// A program that neither reads, writes
/// nor ends for \p idleMilliseconds is killed with SIGKILL and reaped. Writing
/// to a program that stopped reading raises no SIGPIPE in the caller. A program
/// that puts itself into the background (a forked child that outlives it)
/// holds none of the pipes: its standard input is closed when \p input is
/// fully written, and its standard output leads to /dev/null unless
/// collected.
VoLinuxRunResult VoLinuxRun(const std::vector<std::string>& argv, const std::string* input,
                            std::string* output, int idleMilliseconds);

/// Starts \p argv (argv[0] searched with VoLinuxFindProgram) and does not wait
/// for it: a double fork hands the program to the system's reaper at once, so
/// no zombie is left behind. Its standard input reads /dev/null; standard
/// output and error stay the caller's. False when the program was not found
/// or could not be started.
bool VoLinuxLaunchDetached(const std::vector<std::string>& argv);

/// The absolute path of the running program's executable, as /proc/self/exe
/// names it (of any length); "" when it cannot be read.
std::string VoLinuxExecutablePath();

#endif  // VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H
