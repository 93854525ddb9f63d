// VoLinuxX11.cpp - libX11 loaded with dlopen; one connection per thread for keys, bell and screen saver.
#include "Linux/VoLinuxX11Private.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Linux/VoLinuxClockPrivate.h"
#include "Linux/VoLinuxDlPrivate.h"
#include "Linux/VoLinuxSys.h"

namespace {

/// The functions of libX11 that are used, resolved once.
struct X11Api {
  bool ok = false;
  decltype(&XOpenDisplay) openDisplay = nullptr;
  decltype(&XCloseDisplay) closeDisplay = nullptr;
  decltype(&XQueryKeymap) queryKeymap = nullptr;
  decltype(&XDisplayKeycodes) displayKeycodes = nullptr;
  decltype(&XGetKeyboardMapping) getKeyboardMapping = nullptr;
  decltype(&XKeysymToKeycode) keysymToKeycode = nullptr;
  decltype(&XFree) free = nullptr;
  decltype(&XPending) pending = nullptr;
  decltype(&XNextEvent) nextEvent = nullptr;
  decltype(&XRefreshKeyboardMapping) refreshKeyboardMapping = nullptr;
  decltype(&XBell) bell = nullptr;
  decltype(&XFlush) flush = nullptr;
  decltype(&XResetScreenSaver) resetScreenSaver = nullptr;
  decltype(&XInternAtom) internAtom = nullptr;
  decltype(&XGetSelectionOwner) getSelectionOwner = nullptr;
  decltype(&XConnectionNumber) connectionNumber = nullptr;
  decltype(&XSetIOErrorHandler) setIOErrorHandler = nullptr;
  decltype(&XSetIOErrorExitHandler) setIOErrorExitHandler = nullptr;  // libX11 1.8 and later
};

/// The connection of this thread, for the fatal-error handler.
thread_local Display* tOwnDisplay = nullptr;
/// The fatal-error handler that was installed before ours.
XIOErrorHandler gPreviousIOHandler = nullptr;

/// Xlib's fatal-error handler is process-wide: for our own connections it
/// returns (Xlib then calls the connection's exit handler, OnFatalIOError,
/// instead of ending the process); every other connection goes to the handler
/// that was installed before (by default Xlib's, which ends the process).
int OnIOError(Display* dpy) {
  if (dpy && dpy == tOwnDisplay) return 0;
  if (gPreviousIOHandler) return gPreviousIOHandler(dpy);
  return 0;
}

X11Api LoadApi() {
  X11Api api;
  // The last two: without the per-connection exit handler a vanished server
  // would end the process; such an old libX11 is not used at all.
  api.ok = VoLinuxDlLoad("libX11.so.6", {{"XOpenDisplay", api.openDisplay},
                                         {"XCloseDisplay", api.closeDisplay},
                                         {"XQueryKeymap", api.queryKeymap},
                                         {"XDisplayKeycodes", api.displayKeycodes},
                                         {"XGetKeyboardMapping", api.getKeyboardMapping},
                                         {"XKeysymToKeycode", api.keysymToKeycode},
                                         {"XFree", api.free},
                                         {"XPending", api.pending},
                                         {"XNextEvent", api.nextEvent},
                                         {"XRefreshKeyboardMapping", api.refreshKeyboardMapping},
                                         {"XBell", api.bell},
                                         {"XFlush", api.flush},
                                         {"XResetScreenSaver", api.resetScreenSaver},
                                         {"XInternAtom", api.internAtom},
                                         {"XGetSelectionOwner", api.getSelectionOwner},
                                         {"XConnectionNumber", api.connectionNumber},
                                         {"XSetIOErrorHandler", api.setIOErrorHandler},
                                         {"XSetIOErrorExitHandler", api.setIOErrorExitHandler}});
  if (api.ok) gPreviousIOHandler = api.setIOErrorHandler(OnIOError);
  return api;
}

const X11Api& Api() {
  static const X11Api api = LoadApi();
  return api;
}

void OnFatalIOError(Display*, void* data) {
  // Returning (instead of exiting) leaves the connection marked dead; every
  // later Xlib call on it returns at once. The owner opens a new one.
  *static_cast<bool*>(data) = true;
}

/// One thread's connection.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { Close(); }

  /// The open display named by DISPLAY, or null.
  Display* Get() {
    const char* env = std::getenv("DISPLAY");
    const std::string name = env ? env : "";
    if (mDisplay && (mBroken || name != mName || Hungup())) Close();
    if (mDisplay) return mDisplay;
    if (name.empty() || !Api().ok) return nullptr;
    const uint64_t now = VoLinuxTicks();
    if (name == mFailedName && now < mRetryTick) return nullptr;
    mDisplay = Api().openDisplay(name.c_str());
    if (!mDisplay) {
      mFailedName = name;
      mRetryTick = now + 60;
      return nullptr;
    }
    mFailedName.clear();
    mName = name;
    mBroken = false;
    mCodesValid = false;
    Api().setIOErrorExitHandler(mDisplay, OnFatalIOError, &mBroken);
    tOwnDisplay = mDisplay;
    return mDisplay;
  }

  /// True when the last call on the connection found the server gone.
  bool Broken() const { return mBroken; }

  void Close() {
    if (mDisplay) Api().closeDisplay(mDisplay);
    if (tOwnDisplay == mDisplay) tOwnDisplay = nullptr;
    mDisplay = nullptr;
    mBroken = false;
    mCodesValid = false;
  }

  /// Handles the events that reached the connection (only keyboard mapping
  /// changes are sent to a client that selects nothing), so that the queue
  /// does not grow and the key table follows a changed keymap.
  void DrainEvents() {
    while (!mBroken && Api().pending(mDisplay) > 0) {
      XEvent event;
      Api().nextEvent(mDisplay, &event);
      if (event.type == MappingNotify) {
        Api().refreshKeyboardMapping(&event.xmapping);
        mCodesValid = false;
      }
    }
  }

  /// The X key codes of each virtual key code, built from the keymap.
  const std::vector<std::vector<unsigned char>>& Codes() {
    if (!mCodesValid) BuildCodes();
    return mCodes;
  }

 private:
  /// Whether the server closed the connection since the last call: writing to
  /// it would raise SIGPIPE.
  bool Hungup() const {
    struct pollfd p = {Api().connectionNumber(mDisplay), POLLRDHUP, 0};
    return gVoSys.poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
  }

  void BuildCodes() {
    mCodes.assign(kVoKeyCodeCount, {});
    int minCode = 0, maxCode = 0;
    Api().displayKeycodes(mDisplay, &minCode, &maxCode);
    int perCode = 0;
    KeySym* syms = nullptr;
    if (maxCode >= minCode && minCode >= 0 && maxCode <= 255)
      syms =
          Api().getKeyboardMapping(mDisplay, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    for (int code = 0; code < kVoKeyCodeCount; ++code) {
      const unsigned long* wanted = VoLinuxKeySymbols(code);
      std::vector<unsigned char>& found = mCodes[code];
      if (syms && perCode > 0) {
        for (int kc = minCode; kc <= maxCode; ++kc) {
          const KeySym first = syms[(kc - minCode) * perCode];
          for (const unsigned long* w = wanted; *w; ++w)
            if (first == *w) found.push_back(static_cast<unsigned char>(kc));
        }
      }
      if (found.empty()) {
        for (const unsigned long* w = wanted; *w; ++w) {
          const KeyCode kc = Api().keysymToKeycode(mDisplay, *w);
          if (kc != 0) found.push_back(kc);
        }
      }
    }
    if (syms) Api().free(syms);
    // The first XKeysymToKeycode sets Xlib's keyboard extension up and leaves
    // its event selection in the output buffer: sent now, a keymap change made
    // before our next call still reaches us as MappingNotify.
    Api().flush(mDisplay);
    mCodesValid = !mBroken;
  }

  Display* mDisplay = nullptr;
  std::string mName;
  bool mBroken = false;
  std::string mFailedName;
  uint64_t mRetryTick = 0;
  bool mCodesValid = false;
  std::vector<std::vector<unsigned char>> mCodes;
};

Connection& ThisThreadConnection() {
  thread_local Connection connection;
  return connection;
}

}  // namespace

bool VoLinuxX11KeyMap(uint8_t map[kVoKeyMapBytes]) {
  std::memset(map, 0, kVoKeyMapBytes);
  Connection& c = ThisThreadConnection();
  for (int attempt = 0; attempt < 2; ++attempt) {
    Display* dpy = c.Get();
    if (!dpy) return false;
    char keys[32] = {};
    Api().queryKeymap(dpy, keys);
    c.DrainEvents();
    if (c.Broken()) continue;  // the server went away: one more try on a new connection
    const auto& codes = c.Codes();
    for (int code = 0; code < kVoKeyCodeCount; ++code) {
      for (unsigned char kc : codes[code])
        if ((static_cast<unsigned char>(keys[kc / 8]) >> (kc % 8)) & 1u) VoKeyMapSet(map, code);
    }
    if (c.Broken()) {
      std::memset(map, 0, kVoKeyMapBytes);
      continue;
    }
    return true;
  }
  return false;
}

bool VoLinuxX11Bell() {
  Display* dpy = ThisThreadConnection().Get();
  if (!dpy) return false;
  Api().bell(dpy, 0);
  Api().flush(dpy);
  return !ThisThreadConnection().Broken();
}

bool VoLinuxX11ResetScreenSaver() {
  Display* dpy = ThisThreadConnection().Get();
  if (!dpy) return false;
  Api().resetScreenSaver(dpy);
  Api().flush(dpy);
  return !ThisThreadConnection().Broken();
}

bool VoLinuxX11ClipboardOwner(unsigned long* owner) {
  *owner = 0;
  Display* dpy = ThisThreadConnection().Get();
  if (!dpy) return false;
  const Atom clipboard = Api().internAtom(dpy, "CLIPBOARD", False);
  const Window w = Api().getSelectionOwner(dpy, clipboard);
  if (ThisThreadConnection().Broken()) return false;
  *owner = w;
  return true;
}
