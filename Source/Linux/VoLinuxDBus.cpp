// VoLinuxDBus.cpp - method calls on the session bus, spoken on a non-blocking socket under one deadline.
#include "Linux/VoLinuxDBusPrivate.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Linux/VoLinuxSys.h"

namespace {

constexpr std::size_t kMaxMessage = 1u << 20;  // more than any answer to the calls made here

int64_t NowMilliseconds() {
  struct timespec now {};
  gVoSys.clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

/// Waits until \p fd is ready for \p events or the deadline passes (an
/// interrupted wait goes on with the time left).
bool WaitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    const int64_t left = deadline - NowMilliseconds();
    if (left <= 0) return false;
    struct pollfd p = {fd, events, 0};
    const int ready = gVoSys.poll(&p, 1, static_cast<int>(left < INT32_MAX ? left : INT32_MAX));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

/// The value of the hex digit \p c, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// The socket address of one address entry ("unix:path=..." or
/// "unix:abstract=..."); false for every other kind.
bool SocketAddress(const std::string& entry, sockaddr_un& to, socklen_t& size) {
  if (entry.compare(0, 5, "unix:") != 0) return false;
  std::string::size_type start = 5;
  for (;;) {
    const std::string::size_type end = std::min(entry.find(',', start), entry.size());
    const std::string::size_type equals = entry.find('=', start);
    if (equals < end) {
      const std::string key = entry.substr(start, equals - start);
      if (key == "path" || key == "abstract") {
        // Values are %-escaped: "%2c" is a comma, and so on.
        std::string value;
        for (std::string::size_type i = equals + 1; i < end; ++i) {
          if (entry[i] == '%') {  // exactly two hex digits, else the entry is not taken
            const int high = i + 2 < end ? HexDigit(entry[i + 1]) : -1;
            const int low = high >= 0 ? HexDigit(entry[i + 2]) : -1;
            if (low < 0) return false;
            value.push_back(static_cast<char>(high * 16 + low));
            i += 2;
          } else {
            value.push_back(entry[i]);
          }
        }
        const std::size_t skip = key == "abstract" ? 1 : 0;  // the abstract name follows a zero byte
        if (value.empty() || (!skip && value.find('\0') != std::string::npos) ||
            value.size() + skip >= sizeof to.sun_path)
          return false;
        to = sockaddr_un{};
        to.sun_family = AF_UNIX;
        std::memcpy(to.sun_path + skip, value.data(), value.size());
        size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + value.size() + (skip ? 0 : 1));
        return true;
      }
    }
    if (end >= entry.size()) return false;
    start = end + 1;
  }
}

/// A connected, non-blocking socket to the session bus, or -1.
int ConnectToBus(int64_t deadline) {
  std::string list;
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env && *env) {
    list = env;
  } else {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return -1;
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, socket.c_str(), &st, 0); }) != 0 ||
        !S_ISSOCK(st.st_mode))
      return -1;
    list = "unix:path=" + socket;
  }
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = std::min(list.find(';', start), list.size());
    sockaddr_un to{};
    socklen_t size = 0;
    if (SocketAddress(list.substr(start, end - start), to, size)) {
      VoSysFd fd(
          VoSysRetry([&] { return gVoSys.socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }));
      if (!fd.Valid()) return -1;
      // A full listen queue gives EAGAIN at once: that bus is not waited for.
      // Interrupted, the connection goes on: asked again, it is under way
      // (EALREADY) or made (EISCONN).
      int rc =
          VoSysRetry([&] { return gVoSys.connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), size); });
      if (rc != 0 && errno == EISCONN) rc = 0;
      if (rc != 0 && (errno == EINPROGRESS || errno == EALREADY) && WaitFor(fd.Get(), POLLOUT, deadline)) {
        int error = 0;
        socklen_t length = sizeof error;
        const int got =
            VoSysRetry([&] { return gVoSys.getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length); });
        rc = got == 0 && error == 0 ? 0 : -1;
      }
      if (rc == 0) return fd.Release();
    }
    if (end >= list.size()) return -1;
    start = end + 1;
  }
}

/// One connection: the socket, what was received and not yet used, and the
/// deadline that bounds every wait.
class Connection {
 public:
  Connection(int fd, int64_t deadline) : fd_(fd), deadline_(deadline) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { gVoSys.close(fd_); }

  bool Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = VoSysRetry(
          [&] { return gVoSys.send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL); });
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitFor(fd_, POLLOUT, deadline_)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  /// Until \p in_ holds at least \p size bytes; false at the deadline or the end.
  bool Fill(std::size_t size) {
    char buffer[4096];
    while (in_.size() < size) {
      const ssize_t n = VoSysRetry([&] { return gVoSys.recv(fd_, buffer, sizeof buffer, 0); });
      if (n > 0) {
        in_.append(buffer, static_cast<std::size_t>(n));
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitFor(fd_, POLLIN, deadline_)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  /// The next line of the authentication dialogue, without its "\r\n".
  bool Line(std::string& line) {
    std::string::size_type end;
    while ((end = in_.find("\r\n")) == std::string::npos) {
      if (in_.size() > 4096 || !Fill(in_.size() + 1)) return false;
    }
    line = in_.substr(0, end);
    in_.erase(0, end + 2);
    return true;
  }

  std::string in_;

 private:
  int fd_;
  int64_t deadline_;
};

// ---------------------------------------------------------------- messages

/// A method call without arguments (little-endian; an empty body). Its
/// header fields: PATH, INTERFACE, MEMBER, DESTINATION.
std::string MethodCall(uint32_t serial, const char* destination, const char* path, const char* interface,
                       const char* member, bool autoStart) {
  std::string m = {'l', 1, static_cast<char>(autoStart ? 0 : 2), 1};
  auto u32 = [&m](uint32_t v) {
    while (m.size() % 4) m.push_back(0);
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<char>(v >> (8 * i)));
  };
  u32(0);  // body length
  u32(serial);
  u32(0);  // header fields length, set below
  const struct {
    char code, type;
    const char* value;
  } fields[] = {{1, 'o', path}, {2, 's', interface}, {3, 's', member}, {6, 's', destination}};
  for (const auto& f : fields) {
    while (m.size() % 8) m.push_back(0);
    m += {f.code, 1, f.type, 0};
    u32(static_cast<uint32_t>(std::strlen(f.value)));
    m.append(f.value).push_back(0);
  }
  const uint32_t length = static_cast<uint32_t>(m.size() - 16);
  for (int i = 0; i < 4; ++i) m[12 + i] = static_cast<char>(length >> (8 * i));
  while (m.size() % 8) m.push_back(0);
  return m;
}

/// What the calls need of a received message.
struct Reply {
  int type = 0;  ///< 2 method return, 3 error; others are not answers
  uint32_t replySerial = 0;
  std::string errorName;
};

/// The alignment of a value whose type begins with \p type; for the
/// fixed-size basic types also their size.
std::size_t Alignment(char type) {
  switch (type) {
    case 'n':
    case 'q':
      return 2;
    case 'b':
    case 'i':
    case 'u':
    case 'h':
    case 's':
    case 'o':
    case 'a':
      return 4;
    case 'x':
    case 't':
    case 'd':
    case '(':
    case '{':
      return 8;
    default:
      return 1;  // y, g, v
  }
}

uint32_t U32(const std::string& m, std::size_t at, bool little) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t byte = static_cast<unsigned char>(m[at + static_cast<std::size_t>(i)]);
    v |= byte << (8 * (little ? i : 3 - i));
  }
  return v;
}

/// Reads the next whole message; false when none arrives in time or it cannot be read.
bool NextMessage(Connection& bus, Reply& reply) {
  if (!bus.Fill(16)) return false;
  const std::string& m = bus.in_;
  if (m[0] != 'l' && m[0] != 'B') return false;
  const bool little = m[0] == 'l';
  const std::size_t fields = U32(m, 12, little);
  const std::size_t body = U32(m, 4, little);
  if (fields > kMaxMessage || body > kMaxMessage) return false;
  const std::size_t headerEnd = (16 + fields + 7) / 8 * 8;
  if (!bus.Fill(headerEnd + body)) return false;
  reply = Reply{};
  reply.type = static_cast<unsigned char>(m[1]);
  const std::size_t end = 16 + fields;
  const auto align = [](std::size_t at, std::size_t to) { return (at + to - 1) / to * to; };
  std::size_t at = 16;
  while (at < end) {
    // Each field: its code, its signature (a length byte, the type, a zero),
    // then the value. Fields of unknown codes are skipped, whatever their
    // type but a variant or a structure.
    at = align(at, 8);
    if (at + 2 > end) return false;
    const char code = m[at];
    const std::size_t typeLength = static_cast<unsigned char>(m[at + 1]);
    if (typeLength == 0 || at + 3 + typeLength > end || m[at + 2 + typeLength] != 0) return false;
    const char type = m[at + 2], element = m[at + 3];
    if (typeLength != 1 && type != 'a') return false;
    at += 3 + typeLength;
    if (type == 'g') {
      if (at >= end) return false;
      at += 2 + static_cast<unsigned char>(m[at]);
    } else if (type != 0 && std::strchr("ybnqiuxtdh", type)) {
      at = align(at, Alignment(type));
      if (at + 4 <= end && type == 'u' && code == 5) reply.replySerial = U32(m, at, little);
      at += Alignment(type);
    } else if (type == 's' || type == 'o' || type == 'a') {  // a length, then the bytes
      at = align(at, 4);
      if (at + 4 > end) return false;
      const std::size_t length = U32(m, at, little);
      if (length > fields) return false;
      at = type == 'a' ? align(at + 4, Alignment(element)) : at + 4;
      if (code == 4 && type == 's' && at + length < end) reply.errorName.assign(m, at, length);
      at += length + (type == 'a' ? 0 : 1);
    } else {
      return false;  // a variant: none in the fields the bus sends
    }
    if (at > end) return false;
  }
  bus.in_.erase(0, headerEnd + body);
  return true;
}

/// Sends one call and waits for its answer. True for an answer without
/// error; \p missingObject is set when the error says there is no such
/// object, interface or method.
bool Call(Connection& bus, uint32_t serial, const char* destination, const char* path, const char* interface,
          const char* member, bool* missingObject) {
  *missingObject = false;
  if (!bus.Send(MethodCall(serial, destination, path, interface, member, false))) return false;
  Reply reply;
  do {
    if (!NextMessage(bus, reply)) return false;
  } while (!((reply.type == 2 || reply.type == 3) && reply.replySerial == serial));
  *missingObject = reply.errorName == "org.freedesktop.DBus.Error.UnknownObject" ||
                   reply.errorName == "org.freedesktop.DBus.Error.UnknownMethod" ||
                   reply.errorName == "org.freedesktop.DBus.Error.UnknownInterface";
  return reply.type == 2;
}

/// SASL EXTERNAL as the effective user, then BEGIN.
bool Authenticate(Connection& bus) {
  std::string hex;
  for (char c : std::to_string(gVoSys.geteuid())) {
    hex.push_back("0123456789abcdef"[(c >> 4) & 15]);
    hex.push_back("0123456789abcdef"[c & 15]);
  }
  if (!bus.Send(std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n")) return false;
  std::string line;
  if (!bus.Line(line) || line.compare(0, 3, "OK ") != 0) return false;
  return bus.Send("BEGIN\r\n");
}

}  // namespace

bool VoLinuxSimulateUserActivity(int timeoutMilliseconds) {
  const int64_t deadline = NowMilliseconds() + (timeoutMilliseconds > 0 ? timeoutMilliseconds : 0);
  const int fd = ConnectToBus(deadline);
  if (fd < 0) return false;
  Connection bus(fd, deadline);
  if (!Authenticate(bus)) return false;
  // The bus answers nothing before a connection has said Hello.
  bool missing = false;
  if (!Call(bus, 1, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello",
            &missing))
    return false;
  const char* const kScreenSaver = "org.freedesktop.ScreenSaver";
  if (Call(bus, 2, kScreenSaver, "/org/freedesktop/ScreenSaver", kScreenSaver, "SimulateUserActivity",
           &missing))
    return true;
  return missing &&
         Call(bus, 3, kScreenSaver, "/ScreenSaver", kScreenSaver, "SimulateUserActivity", &missing);
}
