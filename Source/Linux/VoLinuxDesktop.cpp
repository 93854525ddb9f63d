// VoLinuxDesktop.cpp - the bell (X11, else the terminal) and the user-activity notice.
#include "Linux/VoLinuxDesktopPrivate.h"

#include <fcntl.h>
#include <unistd.h>

#include "Linux/VoLinuxDBusPrivate.h"
#include "Linux/VoLinuxX11Private.h"

int VoLinuxBell() {
  if (VoLinuxX11Bell()) return 2;
  // O_NOCTTY: never make the terminal our controlling one by opening it.
  const int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (tty < 0) return 0;
  const bool rung = write(tty, "\a", 1) == 1;
  close(tty);
  return rung ? 1 : 0;
}

void VoLinuxUserActive() {
  VoLinuxX11ResetScreenSaver();
  VoLinuxSimulateUserActivity(250);
}
