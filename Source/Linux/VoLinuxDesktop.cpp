// VoLinuxDesktop.cpp - the bell (X11, else the terminal) and the user-activity notice.
#include "Linux/VoLinuxDesktopPrivate.h"

#include "Linux/VoLinuxDBusPrivate.h"
#include "Linux/VoLinuxSys.h"
#include "Linux/VoLinuxX11Private.h"

int VoLinuxBell() {
  if (VoLinuxX11Bell()) return 2;
  // O_NOCTTY: never make the terminal our controlling one by opening it.
  VoSysFd tty;
  if (!VoSysOpenAt(tty, AT_FDCWD, "/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK).Ok()) return 0;
  return VoSysWriteAll(tty.Get(), "\a", 1).Ok() ? 1 : 0;
}

void VoLinuxUserActive() {
  VoLinuxX11ResetScreenSaver();
  VoLinuxSimulateUserActivity(250);
}
