// Loading of the agent's configuration record (g_Config) from its sources:
// built-in defaults, command line, configuration file, registry "BaseConfig".
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

#include "config/AgentConfig.h"

// True once a load has validated the record.
extern bool g_ConfigValid;

namespace ConfigInit {

struct LoadResult {
  bool ok = false;
  bool serviceMode = false;
  std::wstring reason;
};

// The built-in defaults, parsed at the start of every load.
extern const wchar_t kDefaultsText[];

// Fills g_Config from every source in order and validates it.
void Load(const wchar_t* commandLine, LoadResult& result);

// Reads one configuration text into g_Config. A length of 0 means the whole
// zero-terminated text. S_OK, or E_FAIL on a syntax error (entries before it
// keep their values).
HRESULT Parse(const wchar_t* text, size_t length, bool fromDefaults);

// Reads and parses the file chosen by CF; falls back to "idagent.cfg" beside
// the program for a CF of "-" or an unreadable file.
HRESULT ReadConfigFile();

// Reads and parses HKLM "SOFTWARE\Qel Security\Identra" value "BaseConfig".
// A missing, empty or oversized value counts as success.
bool ReadRegistryConfig();

bool Validate(LoadResult& result);

// Runs the crowbar command whose name equals the whole text (case-free).
// True when the command asks the application to exit.
bool RunCrowbar(const wchar_t* text);

// Node of the crowbar list; constructing a static one appends it to the list.
struct CrowbarCommand {
  using Function = bool (*)(const wchar_t* text);
  CrowbarCommand(const wchar_t* commandName, Function commandFunction);
  CrowbarCommand(const CrowbarCommand&) = delete;
  CrowbarCommand& operator=(const CrowbarCommand&) = delete;

  Function function;
  CrowbarCommand* next = nullptr;
  const wchar_t* name;
};

}  // namespace ConfigInit
