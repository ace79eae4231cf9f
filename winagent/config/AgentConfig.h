// The agent's one configuration record, filled by ConfigInit and read everywhere else.
#pragma once

#include <cstdint>

#include "identity/IdentityRecord.h"

struct AgentConfig {
  // Text storage holds the cap + 1 characters the reader accepts, plus the terminator.
  wchar_t RA[258] = {};
  uint16_t RP = 0;
  uint32_t RH = 0;
  wchar_t BackupChains[520] = {};
  uint32_t RX = 0;
  uint32_t RW = 0;
  double RM = 0.0;
  uint32_t NP = 0;
  uint32_t LE = 0;
  wchar_t LF[522] = {};
  uint32_t LC = 0;
  uint32_t LD = 0;
  wchar_t CF[522] = {};
  uint32_t CS = 0;
  uint32_t CR = 0;
  int16_t UT = 0;
  IdentityRecord Identity;  // only UserDNTemplate (UQ) and ComputerDNTemplate (UM)
};

// Process-wide record; zero until a load fills it.
extern AgentConfig g_Config;
