// The machine's IPv4 addresses, taken by a short-lived thread so that a hanging query stalls
// only that thread. A poll that outlives its wait keeps writing into memory of its own, and
// no second poll starts while it hangs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class AgentPlatform;

class InterfacePoll {
 public:
  explicit InterfacePoll(AgentPlatform& platform) : platform_(platform) {}
  InterfacePoll(const InterfacePoll&) = delete;
  InterfacePoll& operator=(const InterfacePoll&) = delete;

  // The addresses in host byte order, or nothing when the poll did not end within waitMs or
  // the previous one still hangs (both logged as a time-out).
  std::optional<std::vector<uint32_t>> Take(DWORD waitMs);

 private:
  struct Run;
  static DWORD WINAPI ThreadMain(void* parameter);

  AgentPlatform& platform_;
  std::shared_ptr<Run> late_;  // the poll that outlived its wait, until its thread ends
};
