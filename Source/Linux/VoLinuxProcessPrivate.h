// VoLinuxProcessPrivate.h - starting helper programs without a shell, and the program's own path.
#ifndef VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H

#include <cstddef>
#include <string>
#include <vector>

// Programs are always started directly (a fork as a system call, then execve)
// with an argument vector: no text given to them is ever read by a shell.
// Every signal is blocked across the fork, so that no handler of the caller
// runs in the child; there, every handled signal and SIGPIPE, SIGCHLD,
// SIGINT, SIGQUIT, SIGTERM and SIGHUP are reset to their defaults, the mask
// is emptied and every descriptor above 2 is closed before the exec.
//
// A program that is waited for is watched through a process descriptor and
// signalled through it, never by a process id that might by then name
// another process (Linux 5.4 or later). Where SIGCHLD has its default
// disposition nobody else reaps the program: it is started with posix_spawn.
// Where the caller ignores SIGCHLD, or has a handler (which may reap every
// child), it is started by a keeper instead: a child made with a process
// descriptor and no exit signal that never execs, starts the program as its
// own child (SIGKILL as the program's parent-death signal) and ends with the
// program's exit code. Such a caller can neither reap the keeper nor lose the
// status. The keeper costs a second fork (about 0.3 ms more per run).

/// The absolute path of the executable \p name: a name holding '/' is taken
/// as it is (when executable); else the folders of PATH are searched in order
/// (an empty PATH entry is the current folder; PATH unset means
/// "/usr/local/bin:/usr/bin:/bin"). "" when nothing executable is found.
std::string VoLinuxFindProgram(const std::string& name);

/// What VoLinuxRun reports.
struct VoLinuxRunResult {
  bool started = false;        ///< the program was found and started
  bool timedOut = false;       ///< it was killed at the deadline or for making no progress
  bool tooMuchOutput = false;  ///< it was killed for writing more than the output limit
  /// Its exit code; -1 when it did not exit normally, was killed, or its
  /// status could not be learned (never taken for success).
  int exitCode = -1;
};

/// The bounds of one VoLinuxRun besides its idle time.
struct VoLinuxRunLimits {
  int totalMilliseconds = 10000;      ///< the whole run, start to end
  std::size_t maxOutput = 64u << 20;  ///< bytes of standard output collected at most
};

/// Runs \p argv (argv[0] searched with VoLinuxFindProgram) and waits for it,
/// on the caller's thread (one poll loop; no thread, no signal handler). Not
/// started when the program cannot be found, its standard descriptors cannot
/// be set up or its exec fails (the errno comes back through a close-on-exec
/// pipe).
/// \p input, when not null, is written to its standard input (else it reads
/// /dev/null); its standard output is collected into \p output when that is
/// not null (else it goes to /dev/null); its standard error goes to /dev/null.
///
/// The run ends when the program ends: what it wrote up to then is taken, and
/// a background child it left holding the output pipe is not waited for (its
/// later writes are lost). A program that neither reads, writes nor ends for
/// \p idleMilliseconds, or has not ended within limits.totalMilliseconds, is
/// killed with SIGKILL (timedOut); one that writes more than limits.maxOutput
/// bytes likewise (tooMuchOutput; \p output then holds what came before the
/// limit). The program is always reaped: no zombie is left. Writing to a
/// program that stopped reading raises no SIGPIPE in the caller. A program
/// that puts itself into the background (a forked child that outlives it)
/// holds none of the pipes when nothing is collected: its standard input is
/// closed when \p input is fully written, and its standard output leads to
/// /dev/null.
VoLinuxRunResult VoLinuxRun(const std::vector<std::string>& argv, const std::string* input,
                            std::string* output, int idleMilliseconds,
                            const VoLinuxRunLimits& limits = VoLinuxRunLimits());

/// Starts \p argv (argv[0] searched with VoLinuxFindProgram) and does not wait
/// for it: a double fork hands the program to the system's reaper at once, so
/// no zombie is left behind (the middle child, a process-descriptor child as
/// above, is reaped whatever the caller does with SIGCHLD). Its standard input reads /dev/null; standard
/// output and error stay the caller's. False when the program was not found
/// or could not be started; an exec that fails in the child (a file that is
/// no program, an argument list too long) is carried back through a
/// close-on-exec pipe, traced at debug level 1 and reported as false too.
bool VoLinuxLaunchDetached(const std::vector<std::string>& argv);

/// The absolute path of the running program's executable, as /proc/self/exe
/// names it (of any length); "" when it cannot be read.
std::string VoLinuxExecutablePath();

#endif  // VOFOUNDATION_LINUX_VOLINUXPROCESSPRIVATE_H
