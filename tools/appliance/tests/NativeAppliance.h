// The stand-in appliance as a child process of a native test: its first output line gives
// the port, then one JSON line per event. APPLIANCE_PATH names the program.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#ifndef APPLIANCE_PATH
#error "APPLIANCE_PATH names the stand-in appliance"
#endif

extern char** environ;

class ApplianceProcess {
 public:
  explicit ApplianceProcess(std::vector<std::string> args) {
    // A bounded lifetime first, so that a test's own --exit-after wins.
    args.insert(args.begin(), {APPLIANCE_PATH, "--exit-after", "60"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_out = out[0];
    const std::string first = Line();
    const std::string prefix = "listening on 127.0.0.1:";
    if (first.rfind(prefix, 0) == 0) m_port = static_cast<uint16_t>(std::stoi(first.substr(prefix.size())));
  }
  ~ApplianceProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) close(m_out);
  }

  uint16_t Port() const { return m_port; }

  // The next line of its output ("" after timeoutMs or at its end).
  std::string Line(int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
      }
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      pollfd p{m_out, POLLIN, 0};
      if (left < 0 || poll(&p, 1, left) <= 0) return "";  // 0: only what is there now
      char chunk[4096];
      const ssize_t n = read(m_out, chunk, sizeof chunk);
      if (n <= 0) return "";
      m_buffer.append(chunk, static_cast<size_t>(n));
    }
  }

  // Lines until one contains text; that line, or "" when none came.
  std::string LineWith(const std::string& text, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string line = Line(timeoutMs);
      if (line.empty()) return "";
      if (line.find(text) != std::string::npos) return line;
    }
    return "";
  }

  // Exit status once it ends within timeoutMs, else -1.
  int WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void Signal(int signal) { kill(m_pid, signal); }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  uint16_t m_port = 0;
  std::string m_buffer;
};
