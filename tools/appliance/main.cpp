// Stand-in appliance: accepts agents on 127.0.0.1, answers each LGON with a STAT,
// and prints one JSON line per event on stdout. A test and demo peer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PacketLumo.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

struct Options {
  uint16_t port = 0;
  uint32_t status = 0;
  std::optional<std::string> error;
  std::optional<uint32_t> heartbeat;
  std::optional<std::string> config;
  bool noReply = false;
  bool closeAfterLogon = false;
  bool garbage = false;
  bool splitReply = false;
  int delayMs = 0;
  int exitAfterSec = 0;  // 0: until a signal
};

void Usage() {
  std::fprintf(stderr,
               "usage: appliance [--port N] [--status N] [--error TEXT] [--heartbeat MS] [--config TEXT]\n"
               "                 [--no-reply] [--close-after-logon] [--garbage] [--split-reply] [--delay MS]\n"
               "                 [--exit-after SEC]\n");
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-') return false;
  out = value;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    unsigned long n = 0;
    if (arg == "--no-reply") {
      o.noReply = true;
    } else if (arg == "--close-after-logon") {
      o.closeAfterLogon = true;
    } else if (arg == "--garbage") {
      o.garbage = true;
    } else if (arg == "--split-reply") {
      o.splitReply = true;
    } else if (arg == "--error" || arg == "--config") {
      const char* v = value();
      if (v == nullptr) return false;
      (arg == "--error" ? o.error : o.config) = v;
    } else {
      const char* v = value();
      if (v == nullptr) return false;
      if (arg == "--port" && ParseNumber(v, 65535, n)) {
        o.port = static_cast<uint16_t>(n);
      } else if (arg == "--status" && ParseNumber(v, 255, n)) {
        o.status = static_cast<uint32_t>(n);
      } else if (arg == "--heartbeat" && ParseNumber(v, 0xFFFFFFFFul, n)) {
        o.heartbeat = static_cast<uint32_t>(n);
      } else if (arg == "--delay" && ParseNumber(v, 3600000, n)) {
        o.delayMs = static_cast<int>(n);
      } else if (arg == "--exit-after" && ParseNumber(v, 86400, n)) {
        o.exitAfterSec = static_cast<int>(n);
      } else {
        return false;
      }
    }
  }
  return true;
}

// ---- JSON output ----

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t j = 1; j < n; ++j)
      if ((static_cast<uint8_t>(s[i + j]) >> 6) != 0x2) return false;
    i += n;
  }
  return true;
}

// A JSON string; text that is not UTF-8 is shown byte by byte as Latin-1.
std::string Quote(const std::string& s) {
  const bool utf8 = ValidUtf8(s);
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<uint8_t>(ch);
    char esc[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || (!utf8 && c >= 0x80)) {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::string CommandText(uint32_t command) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(command >> (24 - 8 * i));
  return text;
}

void Emit(const std::string& json) {
  std::fputs(json.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// ---- Decoding what the agents send ----

// The parse table of a command the agents send, or null.
const CParam* TableFor(uint32_t command) {
  static const LgonIdentity noIdentity;
  static const LgonTable lgon(noIdentity, LgonOrder::Windows);
  static const LgofTable lgof(0);
  static const BeatTable beat(0);
  if (command == kCmdLgon) return lgon.Rows();
  if (command == kCmdLgof) return lgof.Rows();
  if (command == kCmdBeat) return beat.Rows();
  return nullptr;
}

// The items in wire order, with values decoded by the command's table.
std::string DecodeItems(uint32_t command, const uint8_t* payload, size_t length) {
  const CParam* table = TableFor(command);
  std::string out = "[";
  size_t offset = 0;
  PayloadItem item;
  while (NextPayloadItem(payload, length, offset, item)) {
    uint32_t type = PT_None;
    for (const CParam* row = table; row != nullptr && row->tag != 0; ++row)
      if (row->tag == item.tag) {
        type = row->type;
        break;
      }
    if (out.size() > 1) out += ",";
    out += "{\"tag\":" + Quote(std::string{static_cast<char>(item.tag >> 8), static_cast<char>(item.tag & 0xFF)}) +
           ",\"value\":";
    const size_t n = item.length;
    if ((type == PT_UInt32 && n == 4) || (type == PT_UInt16 && n == 2) || (type == PT_UInt8 && n == 1)) {
      out += std::to_string(ItemNumber(item));
    } else if (type == PT_String || type == PT_Text) {
      out += Quote(std::string(reinterpret_cast<const char*>(item.value), n));
    } else {
      out += "null,\"hex\":" + Quote(Hex(item.value, n));
    }
    out += "}";
  }
  return out + "]";
}

// Result of parsing with the command's table, as the agents' codec sees it.
std::string ParseResult(uint32_t command, const uint8_t* payload, size_t length) {
  const CParam* shape = TableFor(command);
  if (shape == nullptr) return "null";
  CParam rows[LgonTable::kRows + 1];
  size_t i = 0;
  for (; shape[i].tag != 0; ++i) rows[i] = shape[i];
  rows[i] = EndParam();
  static std::vector<uint8_t> strings(kPayloadBufferSize + 16);
  LocalMemoryStack stack(strings.data(), strings.size());
  const int32_t result = CProcessPayloadParams(kWindowsDialect).ExtractParamsFromPayload(stack, rows, payload, length);
  if (result >= 0) return std::to_string(result);
  char code[16];
  std::snprintf(code, sizeof code, "\"0x%08X\"", static_cast<uint32_t>(result));
  return code;
}

// ---- Connections ----

struct PendingWrite {
  Clock::time_point due;
  Bytes bytes;
  bool closeAfter = false;
};

struct Connection {
  int fd = -1;
  int id = 0;
  Bytes input;
  std::deque<PendingWrite> output;
  bool closing = false;  // close once the output is written
};

class Appliance {
 public:
  explicit Appliance(const Options& options)
      : m_options(options), m_packet(kWindowsDialect, [this] { return m_offsetByte++; }) {}

  bool Listen() {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) return false;
    const int on = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_options.port);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listener, 64) != 0)
      return false;
    socklen_t size = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);
    return true;
  }

  // Serves until a stop signal or the end of the lifetime.
  void Run(const sigset_t& runMask, const volatile sig_atomic_t& stopSignal) {
    const auto deadline = m_options.exitAfterSec > 0
                              ? std::optional<Clock::time_point>(Clock::now() + std::chrono::seconds(m_options.exitAfterSec))
                              : std::nullopt;
    while (stopSignal == 0) {
      const auto now = Clock::now();
      if (deadline && now >= *deadline) break;
      WriteDue(now);

      std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
      for (const auto& [fd, c] : m_connections) fds.push_back({fd, POLLIN, 0});
      std::optional<Clock::time_point> wake = deadline;
      for (const auto& [fd, c] : m_connections)
        if (!c.output.empty() && (!wake || c.output.front().due < *wake)) wake = c.output.front().due;
      timespec timeout = {};
      timespec* wait = nullptr;
      if (wake) {
        const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count());
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        wait = &timeout;
      }
      const int ready = ppoll(fds.data(), fds.size(), wait, &runMask);
      if (ready < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents & POLLIN) Accept();
      for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(fds[i].fd);
    }
    while (!m_connections.empty()) Close(m_connections.begin()->first, "appliance");
    close(m_listener);
    Emit(stopSignal != 0 ? "{\"event\":\"stop\",\"reason\":\"signal\"}" : "{\"event\":\"stop\",\"reason\":\"lifetime\"}");
  }

 private:
  void Accept() {
    sockaddr_in peer = {};
    socklen_t size = sizeof peer;
    const int fd = accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0) return;
    Connection& c = m_connections[fd];
    c.fd = fd;
    c.id = ++m_lastId;
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    Emit("{\"event\":\"connect\",\"conn\":" + std::to_string(c.id) + ",\"peer\":" +
         Quote(std::string(address) + ":" + std::to_string(ntohs(peer.sin_port))) + "}");
  }

  void Read(int fd) {
    Connection& c = m_connections[fd];
    uint8_t chunk[4096];
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      Close(fd, "peer");
      return;
    }
    c.input.insert(c.input.end(), chunk, chunk + n);
    TakeFrames(c);
  }

  // Takes every complete frame from the connection's input.
  void TakeFrames(Connection& c) {
    while (!c.input.empty() && !c.closing) {
      if (c.input[0] != 'Q') {
        Emit("{\"event\":\"bad_frame\",\"conn\":" + std::to_string(c.id) + ",\"bytes\":" + std::to_string(c.input.size()) +
             ",\"hex\":" + Quote(Hex(c.input.data(), std::min<size_t>(c.input.size(), 32))) + "}");
        c.input.clear();
        return;
      }
      uint16_t magic = 0;
      uint32_t command = 0;
      const int32_t length = m_packet.ExtractFullPacket(c.input.data(), c.input.size(), &magic, &command);
      if (length < 0) return;  // the rest of the frame is still on its way
      const std::string letters = CommandText(command);
      Emit("{\"event\":\"message\",\"conn\":" + std::to_string(c.id) + ",\"command\":" + Quote(letters) +
           ",\"magic\":" + Quote(std::string{static_cast<char>(magic >> 8), static_cast<char>(magic & 0xFF)}) +
           ",\"params\":" + DecodeItems(command, m_packet.Payload(), m_packet.PayloadLength()) +
           ",\"parse\":" + ParseResult(command, m_packet.Payload(), m_packet.PayloadLength()) + "}");
      c.input.erase(c.input.begin(), c.input.begin() + length);
      if (magic == kPacketMagic && command == kCmdLgon) Reply(c);
    }
  }

  void Reply(Connection& c) {
    const auto due = Clock::now() + std::chrono::milliseconds(m_options.delayMs);
    if (!m_options.noReply) {
      Bytes reply;
      if (m_options.garbage) {
        const std::string text = "HTTP/1.0 400 Bad Request\r\n\r\n";
        reply.assign(text.begin(), text.end());
      } else {
        std::vector<CParam> rows{IntParam(MakeTag("ST"), PT_UInt8, m_options.status, PF_Required)};
        if (m_options.error) rows.push_back(DataParam(MakeTag("ER"), PT_String, m_options.error->c_str()));
        if (m_options.heartbeat) rows.push_back(IntParam(MakeTag("RH"), PT_UInt32, *m_options.heartbeat));
        if (m_options.config) rows.push_back(DataParam(MakeTag("CF"), PT_String, m_options.config->c_str()));
        rows.push_back(EndParam());
        const uint32_t length = m_packet.ConstructFullPacket(kCmdStat, rows.data());
        reply.assign(m_packet.Frame(), m_packet.Frame() + length);
      }
      Emit("{\"event\":\"reply\",\"conn\":" + std::to_string(c.id) + ",\"kind\":" +
           (m_options.garbage ? std::string("\"garbage\"") : "\"STAT\",\"status\":" + std::to_string(m_options.status)) +
           ",\"bytes\":" + std::to_string(reply.size()) + "}");
      if (m_options.splitReply && reply.size() > 1) {
        const size_t half = reply.size() / 2;
        c.output.push_back({due, Bytes(reply.begin(), reply.begin() + half)});
        c.output.push_back({due + std::chrono::milliseconds(200), Bytes(reply.begin() + half, reply.end())});
      } else {
        c.output.push_back({due, reply});
      }
    }
    if (m_options.closeAfterLogon) {
      if (c.output.empty()) c.output.push_back({due, {}});
      c.output.back().closeAfter = true;
      c.closing = true;
    }
  }

  void WriteDue(Clock::time_point now) {
    std::vector<int> toClose;
    for (auto& [fd, c] : m_connections) {
      while (!c.output.empty() && c.output.front().due <= now) {
        PendingWrite write = std::move(c.output.front());
        c.output.pop_front();
        if (!write.bytes.empty() &&
            send(fd, write.bytes.data(), write.bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(write.bytes.size())) {
          toClose.push_back(fd);
          break;
        }
        if (write.closeAfter) {
          toClose.push_back(fd);
          break;
        }
      }
    }
    for (int fd : toClose) Close(fd, "appliance");
  }

  void Close(int fd, const char* by) {
    auto it = m_connections.find(fd);
    if (it == m_connections.end()) return;
    Emit("{\"event\":\"close\",\"conn\":" + std::to_string(it->second.id) + ",\"by\":\"" + by + "\"}");
    close(fd);
    m_connections.erase(it);
  }

  Options m_options;
  CPacketLumo m_packet;
  uint8_t m_offsetByte = 0;
  int m_listener = -1;
  int m_lastId = 0;
  std::map<int, Connection> m_connections;
};

volatile sig_atomic_t g_stop = 0;
void OnStopSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 2;
  }

  // The stop signals are blocked except while waiting in ppoll, so none is missed.
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals, runMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, &runMask);
  sigdelset(&runMask, SIGTERM);
  sigdelset(&runMask, SIGINT);

  Appliance appliance(options);
  if (!appliance.Listen()) {
    std::fprintf(stderr, "appliance: cannot listen on 127.0.0.1:%u: %s\n", static_cast<unsigned>(options.port),
                 std::strerror(errno));
    return 1;
  }
  appliance.Run(runMask, g_stop);
  return 0;
}
