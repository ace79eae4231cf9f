// Helpers shared by the agent's tests: the virtual clock, environment variables set for a
// test, a temporary folder and a capture of standard error.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/CFRunLoop.h"
#include "support/Logging.h"

// Installed for its lifetime. An idle loop first polls for a short real time (so loopback
// I/O can land), then jumps to its next timer: long time-outs take no real time.
class VirtualClock : public RunLoopClock {
 public:
  explicit VirtualClock(int sliceMillis = 20, CFAbsoluteTime start = 1000.0)
      : _now(start), _slice(sliceMillis), _previous(SetRunLoopClock(this)) {}
  ~VirtualClock() override { SetRunLoopClock(_previous); }

  CFAbsoluteTime Now() override { return _now; }
  int PollTimeoutMillis(CFTimeInterval seconds) override {
    // Posted events a few microseconds ahead need no real wait.
    return seconds >= 0 && seconds <= 0.001 ? 0 : _slice;
  }
  void Idle(CFAbsoluteTime target) override {
    if (target > _now) _now = target;
  }
  void Sleep(CFTimeInterval seconds) override { _now += seconds; }
  void Advance(CFTimeInterval seconds) { _now += seconds; }
  void SetSlice(int sliceMillis) { _slice = sliceMillis; }

 private:
  CFAbsoluteTime _now;
  int _slice;
  RunLoopClock* _previous;
};

// Sets environment variables for the length of a test and puts them back afterwards.
class ScopedEnv {
 public:
  ~ScopedEnv() {
    for (const auto& [name, value] : _saved) {
      if (value.second)
        setenv(name.c_str(), value.first.c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void Set(const char* name, const std::string& value) {
    Save(name);
    setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Save(name);
    unsetenv(name);
  }

 private:
  void Save(const char* name) {
    if (_saved.count(name)) return;
    const char* old = getenv(name);
    _saved[name] = {old ? old : "", old != nullptr};
  }
  std::map<std::string, std::pair<std::string, bool>> _saved;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qelidentra-test-XXXXXX").string();
    _path = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return _path; }
  std::string operator/(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The listing with a JPEGPhoto attribute put in before the line that starts with next, its
// picture printed as the directory tool prints binary values: lines of hex words, here
// hexBytes of them.
inline std::string WithPhoto(const std::string& listing, const std::string& next, size_t hexBytes) {
  std::string photo = "JPEGPhoto:\n";
  photo.reserve(hexBytes + 64);
  uint32_t word = 0xffd8ffe0;
  while (photo.size() < hexBytes) {
    char line[32 * 9 + 2], *at = line;
    for (int i = 0; i < 32; ++i, word = word * 1664525u + 1013904223u) at += std::snprintf(at, 10, " %08x", word);
    photo.append(line, at).push_back('\n');
  }
  const size_t where = listing.find("\n" + next);
  return where == std::string::npos ? listing + photo : listing.substr(0, where + 1) + photo + listing.substr(where + 1);
}

// Listings of about size bytes, each the record with one large thing put in before its
// RecordName line, in the shapes a directory may print: many short attribute lines (as a
// huge multi-valued record gives), many short lines of a name the identity reads, one
// value of many continuation lines, many embedded property lists, a photo.
inline std::vector<std::pair<std::string, std::string>> LongListings(const std::string& record, size_t size) {
  const auto repeated = [size](const std::string& unit) {
    std::string text;
    text.reserve(size + unit.size());
    while (text.size() < size) text += unit;
    return text;
  };
  const size_t where = record.find("\nRecordName") + 1;
  const auto with = [&](const std::string& inserted) {
    return record.substr(0, where) + inserted + record.substr(where);
  };
  return {
      {"short lines", with(repeated("a: b\n"))},
      {"short lines of a name read", with(repeated("UniqueID: 1\n"))},
      {"one value of many lines", with("RecordName:\n" + repeated(" Jo Doe\n"))},
      {"property lists", with(repeated("dsAttrTypeNative:x:\n <?xml version=\"1.0\"?>\n <plist>\n</plist>\n"))},
      {"a photo", WithPhoto(record, "RecordName", size)},
  };
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Sends standard error into a file for its lifetime; Text() reads what arrived so far.
class StderrCapture {
 public:
  StderrCapture() : _file(_dir / "stderr") {
    fflush(stderr);
    _saved = dup(STDERR_FILENO);
    const int fd = open(_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrCapture() {
    fflush(stderr);
    dup2(_saved, STDERR_FILENO);
    close(_saved);
  }
  std::string Text() const {
    fflush(stderr);
    return ReadWholeFile(_file);
  }

 private:
  TempDir _dir;
  std::string _file;
  int _saved = -1;
};

// Logging started with a temporary HOME (or the current one, with ownHome false), every
// level passing, standard error captured.
// Messages() gives each line's message: "<channel> <source> => <text>".
class LogLines {
 public:
  explicit LogLines(int32_t level = SEV_DEBUG, bool ownHome = true) {
    const char* home = getenv("HOME");
    _savedHome = home ? home : "";
    if (ownHome) {
      std::filesystem::create_directories(_home / "Library/Logs");
      setenv("HOME", _home.path().c_str(), 1);
    }
    LogHub<LogContext>& hub = LogHub<LogContext>::Get();
    _savedLevel = hub.DefaultLevel();
    hub.SetDefaultLevel(level);
    hub.Startup();
  }
  ~LogLines() {
    LogHub<LogContext>& hub = LogHub<LogContext>::Get();
    hub.Shutdown();
    hub.SetDefaultLevel(_savedLevel);
    setenv("HOME", _savedHome.c_str(), 1);
  }
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;

  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : SplitLines(_stderr.Text())) {
      const size_t at = line.find(">: ");
      if (at != std::string::npos) messages.push_back(line.substr(at + 3));
    }
    return messages;
  }
  // Messages containing text.
  std::vector<std::string> Matching(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& m : Messages())
      if (m.find(text) != std::string::npos) found.push_back(m);
    return found;
  }
  std::string StderrText() const { return _stderr.Text(); }

 private:
  StderrCapture _stderr;
  TempDir _home;
  std::string _savedHome;
  int32_t _savedLevel = SEV_NOTICE;
};

// Runs the current run loop in short slices until done() or the slices run out.
template <class Done>
bool RunLoopUntil(Done done, int slices = 500) {
  for (int i = 0; i < slices && !done(); ++i) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true);
  return done();
}
