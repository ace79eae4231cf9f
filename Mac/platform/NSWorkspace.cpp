#include "platform/NSWorkspace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "support/Basetypes.h"
#include "platform/CFRunLoop.h"
#include "support/Logging.h"

const char* const NSWorkspaceWillSleepNotification = "NSWorkspaceWillSleepNotification";
const char* const NSWorkspaceDidWakeNotification = "NSWorkspaceDidWakeNotification";
const char* const NSWorkspaceSessionDidBecomeActiveNotification = "NSWorkspaceSessionDidBecomeActiveNotification";
const char* const NSWorkspaceSessionDidResignActiveNotification = "NSWorkspaceSessionDidResignActiveNotification";

// NSNotificationCenter --------------------------------------------------------------------

void NSNotificationCenter::addObserver(const void* observer, Handler handler, const char* name) {
  const bool first = _registrations.empty();
  _registrations.push_back({_nextId++, observer, name ? name : "", std::move(handler)});
  if (first && _hook) _hook(true);
}

void NSNotificationCenter::removeObserver(const void* observer) {
  RemoveIf([observer](const Registration& r) { return r.observer == observer; });
}

void NSNotificationCenter::removeObserver(const void* observer, const char* name) {
  const std::string wanted = name ? name : "";
  RemoveIf([&](const Registration& r) { return r.observer == observer && r.name == wanted; });
}

void NSNotificationCenter::RemoveIf(const std::function<bool(const Registration&)>& match) {
  const bool had = !_registrations.empty();
  std::erase_if(_registrations, match);
  if (had && _registrations.empty() && _hook) _hook(false);
}

void NSNotificationCenter::postNotificationName(const char* name) {
  const NSNotification note{name ? name : ""};
  std::vector<uint64_t> due;
  for (const Registration& r : _registrations)
    if (r.name == note.name) due.push_back(r.id);
  for (uint64_t id : due) {
    auto found = std::find_if(_registrations.begin(), _registrations.end(),
                              [id](const Registration& r) { return r.id == id; });
    if (found == _registrations.end()) continue;  // removed by an earlier handler
    const Handler handler = found->handler;         // the handler may remove itself
    handler(note);
  }
}

// The FIFO channel --------------------------------------------------------------------------

namespace {

constexpr size_t kMaxLine = 255;  // no notification name is longer

bool IsKnownName(const std::string& name) {
  for (const char* known : {NSWorkspaceWillSleepNotification, NSWorkspaceDidWakeNotification,
                            NSWorkspaceSessionDidBecomeActiveNotification,
                            NSWorkspaceSessionDidResignActiveNotification})
    if (name == known) return true;
  return false;
}

// Opens the FIFO's read end, making the FIFO (mode 0600) when the path holds anything
// else. Links are not followed. -1 on failure, with errno set.
int OpenFifo(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && !(S_ISFIFO(status.st_mode) && status.st_uid == geteuid()))
    unlink(path.c_str());
  if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return -1;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode) || status.st_uid != geteuid() ||
      fchmod(fd, 0600) != 0) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

}  // namespace

class NSWorkspace::Channel {
 public:
  Channel(NSNotificationCenter& center, const std::string& path) : _center(center), _path(path) {
    const int fd = OpenFifo(path);
    if (fd < 0) {
      Logf(SEV_ERROR, "Notification channel %s cannot be opened: %s", path.c_str(), std::strerror(errno));
      return;
    }
    // Our own writer keeps the FIFO from reporting a hang-up whenever a writer leaves.
    _keepOpen = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    CFFileDescriptorContext context{0, this, nullptr, nullptr, nullptr};
    _descriptor = CFFileDescriptorCreate(kCFAllocatorDefault, fd, true, &Channel::Readable, &context);
    CFFileDescriptorEnableCallBacks(_descriptor, kCFFileDescriptorReadCallBack);
    CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, _descriptor, 0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopDefaultMode);
    CFRelease(source);
  }
  ~Channel() {
    if (_ended) *_ended = true;
    if (_descriptor) {
      CFFileDescriptorInvalidate(_descriptor);
      CFRelease(_descriptor);
    }
    if (_keepOpen >= 0) close(_keepOpen);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

 private:
  static void Readable(CFFileDescriptorRef descriptor, CFOptionFlags, void* info) {
    auto* self = static_cast<Channel*>(info);
    // A handler may remove the last observer, and with it this channel.
    bool ended = false;
    self->_ended = &ended;
    self->Drain(CFFileDescriptorGetNativeDescriptor(descriptor));
    if (ended) return;
    self->_ended = nullptr;
    CFFileDescriptorEnableCallBacks(descriptor, kCFFileDescriptorReadCallBack);
  }

  // Reads what the writers sent; each complete line names a notification. A line longer
  // than any name is kept cut, to be logged as unknown.
  void Drain(int fd) {
    char buffer[512];
    std::vector<std::string> lines;
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
          lines.push_back(std::move(_pending));
          _pending.clear();
        } else if (_pending.size() < kMaxLine) {
          _pending += buffer[i];
        }
      }
    }
    const bool* ended = _ended;
    for (std::string& line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      if (!IsKnownName(line)) {
        Logf(SEV_NOTICE, "Unknown notification '%s' on %s ignored", line.c_str(), _path.c_str());
        continue;
      }
      _center.postNotificationName(line.c_str());
      if (*ended) return;
    }
  }

  NSNotificationCenter& _center;
  std::string _path;
  CFFileDescriptorRef _descriptor = nullptr;
  int _keepOpen = -1;
  std::string _pending;
  bool* _ended = nullptr;  // set while a callback runs, so the channel can tell it ended
};

// NSWorkspace -------------------------------------------------------------------------------

NSWorkspace::NSWorkspace() : _center([this](bool observed) { Observed(observed); }) {}

NSWorkspace::~NSWorkspace() = default;

NSWorkspace& NSWorkspace::sharedWorkspace() {
  static NSWorkspace* workspace = new NSWorkspace;  // never destroyed: observers may outlive statics
  return *workspace;
}

std::string NSWorkspace::NotifyPath() {
  UserOptionsDir<1> options;
  return options.Dir() + "/notify";
}

void NSWorkspace::Observed(bool observed) {
  if (observed) {
    _channel = std::make_unique<Channel>(_center, NotifyPath());
  } else {
    // Also from inside the channel's own callback, which then returns at once.
    _channel.reset();
  }
}

void NSLog(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  text[0] = '\0';
  if (format) vsnprintf(text, sizeof text, format, args);
  va_end(args);

  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(stderr, "%s.%03ld %s[%d:%ld] %s\n", stamp, now.tv_nsec / 1000000, program_invocation_short_name,
               static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)), text);
  std::fflush(stderr);
}
