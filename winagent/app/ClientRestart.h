// The appliance clients of the RA list, as the main object starts them and checks that each
// still runs.
#pragma once

#include <cstdint>

#include "config/AgentConfig.h"

class AgentPlatform;
class UserIdentification;

class ClientRestart {
 public:
  ClientRestart(const AgentConfig& config, AgentPlatform& platform) : config_(config), platform_(platform) {}

  // Stops every client, then (unless the shutdown event becomes set within 250 ms) starts
  // one per RA entry, numbered on from the last one (the first is 1000). An entry without a
  // host or a valid port is logged and skipped.
  void StartAll(UserIdentification* identification);
  // Under the registry lock: the first RA entry whose client is missing or has ended is
  // logged, and in service mode the process ends there. True when there was one.
  bool FindMissingClient();

 private:
  const AgentConfig& config_;
  AgentPlatform& platform_;
  int32_t counter_ = 1000;
};
