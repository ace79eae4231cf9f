// The native stand-in appliance, run from a test under Wine: Wine starts it through /bin/sh,
// its event lines go to a file that the test reads through Wine's view of the Unix file
// system. APPLIANCE_PATH names the program (set by v7kclient_test.cmake, which a test's own
// .cmake file includes).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/Utilities.h"
#include "TestSupport.h"

#ifndef APPLIANCE_PATH
#error "APPLIANCE_PATH names the stand-in appliance (set by v7kclient_test.cmake)"
#endif

inline std::string UnixPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix =
      reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  char* path = toUnix(windowsPath.c_str());
  if (!path) return {};
  std::string result(path);
  HeapFree(GetProcessHeap(), 0, path);
  return result;
}

// Runs a script with the native /bin/sh; waits for it when asked.
inline bool RunShell(const std::string& script, bool wait) {
  std::wstring command = L"Z:\\bin\\sh -c \"" + Widen(script) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  // Wine runs a Unix program without a process object: no process handle comes back, and
  // the thread field then holds a stray value; closing it would close one of our own handles.
  if (!process.hProcess) return true;
  if (wait) WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

// One message or connection event the appliance reported.
struct ApplianceEvent {
  std::string event;    // "connect", "message", "close", "bad_frame", ...
  std::string command;  // for messages
  std::vector<std::pair<std::string, std::string>> params;  // in wire order, values as text
  std::string line;

  std::string Param(const std::string& tag) const {
    for (const auto& [t, v] : params)
      if (t == tag) return v;
    return {};
  }
};

// Reads a JSON string or scalar value starting at pos; leaves pos behind it.
inline std::string JsonValue(const std::string& text, size_t& pos) {
  std::string value;
  if (pos < text.size() && text[pos] == '"') {
    for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
      if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
      value += text[pos];
    }
    ++pos;
  } else {
    while (pos < text.size() && text[pos] != ',' && text[pos] != '}' && text[pos] != ']') value += text[pos++];
  }
  return value;
}

inline std::string JsonField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  size_t pos = line.find(key);
  if (pos == std::string::npos) return {};
  pos += key.size();
  return JsonValue(line, pos);
}

inline ApplianceEvent ParseEvent(const std::string& line) {
  ApplianceEvent e;
  e.line = line;
  e.event = JsonField(line, "event");
  e.command = JsonField(line, "command");
  // "params":[{"tag":"UN","type":3,"value":"jdoe"},...]
  size_t pos = line.find("\"params\":[");
  while (pos != std::string::npos) {
    pos = line.find("{\"tag\":", pos);
    if (pos == std::string::npos) break;
    const size_t end = line.find('}', pos);
    const std::string item = line.substr(pos, end - pos + 1);
    e.params.emplace_back(JsonField(item, "tag"), JsonField(item, "value"));
    pos = end;
  }
  return e;
}

class Appliance {
 public:
  explicit Appliance(const std::string& options) : dir_("v7k-appliance") {
    out_ = dir_ / L"events.txt";
    const std::string out = UnixPath(out_);
    const std::string pid = UnixPath(dir_ / L"pid");
    // A bounded life in case the test dies before it stops the appliance.
    RunShell("echo $$ > '" + pid + "'; exec '" APPLIANCE_PATH "' --port 0 --exit-after 120 " + options +
                 " > '" + out + "' 2>&1",
             false);
    WaitUntil(
        [&] {
          const std::string text = ReadFileBytes(out_);
          const size_t at = text.find("listening on 127.0.0.1:");
          if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
          port_ = static_cast<uint16_t>(atoi(text.c_str() + at + 23));
          return true;
        },
        10000);
    pidText_ = ReadFileBytes(dir_ / L"pid");
    while (!pidText_.empty() && (pidText_.back() == '\n' || pidText_.back() == '\r')) pidText_.pop_back();
  }
  ~Appliance() {
    if (!pidText_.empty()) RunShell("kill " + pidText_, true);
  }

  uint16_t Port() const { return port_; }

  std::vector<ApplianceEvent> Events() const {
    std::vector<ApplianceEvent> events;
    const std::string text = ReadFileBytes(out_);
    size_t start = text.find('\n');  // behind the listening line
    while (start != std::string::npos && start + 1 < text.size()) {
      const size_t end = text.find('\n', start + 1);
      if (end == std::string::npos) break;  // a line still being written
      const std::string line = text.substr(start + 1, end - start - 1);
      if (!line.empty() && line[0] == '{') events.push_back(ParseEvent(line));
      start = end;
    }
    return events;
  }

  // Commands of all messages received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> commands;
    for (const auto& e : Events())
      if (!e.command.empty()) commands.push_back(e.command);
    return commands;
  }

  // Commands per connection, in order.
  std::vector<std::vector<std::string>> Connections() const {
    std::vector<std::vector<std::string>> connections;
    for (const auto& e : Events()) {
      if (e.event == "connect") connections.emplace_back();
      if (!e.command.empty() && !connections.empty()) connections.back().push_back(e.command);
    }
    return connections;
  }

  size_t Count(const std::string& event) const {
    const auto events = Events();
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.event == event; }));
  }
  size_t CountCommand(const std::string& command) const {
    const auto commands = Commands();
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
  }

  bool WaitForCommand(const std::string& command, size_t count, DWORD timeoutMs = 10000) const {
    return WaitUntil([&] { return CountCommand(command) >= count; }, timeoutMs);
  }

 private:
  ScratchDir dir_;
  std::wstring out_;
  std::string pidText_;
  uint16_t port_ = 0;
};
