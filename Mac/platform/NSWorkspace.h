// Our stand-in for the workspace notifications the agent observes (sleep, wake, session
// switch) and for the console log line. Linux has no such system notifications: while the
// workspace centre has observers, it reads notification names, one per line, from the FIFO
// "notify" in the per-user options folder and posts them on the current run loop, so a
// person or a test can put the agent to sleep and wake it. Code in the process may post
// directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The names the workspace delivers; each constant's text is its own name.
extern const char* const NSWorkspaceWillSleepNotification;
extern const char* const NSWorkspaceDidWakeNotification;
extern const char* const NSWorkspaceSessionDidBecomeActiveNotification;
extern const char* const NSWorkspaceSessionDidResignActiveNotification;

struct NSNotification {
  std::string name;
};

class NSNotificationCenter {
 public:
  using Handler = std::function<void(const NSNotification&)>;
  // Told when the centre gains its first observer (true) and loses its last (false).
  using ObservedHook = std::function<void(bool observed)>;

  explicit NSNotificationCenter(ObservedHook hook = nullptr) : _hook(std::move(hook)) {}
  NSNotificationCenter(const NSNotificationCenter&) = delete;
  NSNotificationCenter& operator=(const NSNotificationCenter&) = delete;

  // The handler is called for every notification of that name, in the order observers
  // were added.
  void addObserver(const void* observer, Handler handler, const char* name);
  // Every registration of the observer, or those for one name.
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, const char* name);
  // Delivers at once. An observer removed meanwhile, even by an earlier handler, is not
  // called.
  void postNotificationName(const char* name);

 private:
  struct Registration {
    uint64_t id;
    const void* observer;
    std::string name;
    Handler handler;
  };
  void RemoveIf(const std::function<bool(const Registration&)>& match);

  std::vector<Registration> _registrations;
  uint64_t _nextId = 0;
  ObservedHook _hook;
};

class NSWorkspace {
 public:
  static NSWorkspace& sharedWorkspace();
  NSNotificationCenter& notificationCenter() { return _center; }
  // The FIFO's path: the options folder followed by "/notify".
  static std::string NotifyPath();

 private:
  class Channel;
  NSWorkspace();
  ~NSWorkspace();
  void Observed(bool observed);

  std::unique_ptr<Channel> _channel;  // open while the centre has observers
  NSNotificationCenter _center;
};

// One line on standard error: the time, the program and its process id, then the text.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
