// VoZombieChildren.h - counts this process's children that have ended and not been reaped.
#ifndef VOFOUNDATION_TESTS_SUPPORT_VOZOMBIECHILDREN_H
#define VOFOUNDATION_TESTS_SUPPORT_VOZOMBIECHILDREN_H

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace vo_test {

/// The children of this process that are zombies (state 'Z' in /proc/PID/stat).
inline int ZombieChildren() {
  int zombies = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  const long self = getpid();
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');  // the command name may hold blanks and parentheses
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == self && state == 'Z')
      ++zombies;
  }
  closedir(proc);
  return zombies;
}

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_SUPPORT_VOZOMBIECHILDREN_H
