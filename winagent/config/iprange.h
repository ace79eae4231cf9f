// Backup chains: ranges of IPv4 addresses, each tied to an ordered list of appliance
// addresses. Built at the start of the main loop from the configuration's backup-chain text
// and a default chain over every address with the RA appliances; cleared at the end of a
// session. Used on the main-loop thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/AgentConfig.h"

struct ChainAddress {
  uint32_t address = 0;  // network byte order
  uint16_t port = 0;     // host order, 0 when none
};

struct BackupChain {
  ChainAddress rangeStart;
  ChainAddress rangeEnd;
  std::vector<ChainAddress> servers;  // in text order
};

// Reads one token: a dotted IPv4 address, optionally ":" and a port, as Windows Sockets'
// address-string conversion reads it; "255.255.255.255" is the address 0xFFFFFFFF.
// S_OK, or the conversion's error as a result code.
HRESULT ParseChainAddress(const std::wstring& token, ChainAddress& out);

// True for the characters that separate tokens and follow groups: " ;+-_=,?~`|!@#$%^&*".
bool IsChainDelimiter(wchar_t c);

class BackupChains {
 public:
  static BackupChains& Instance();

  // Empties the list and clears the default-chain flag.
  void Clear();
  // Reads groups "(chain)", each optionally followed by one delimiter, appending every valid
  // chain; stops at the first character that does not start a group and at the first chain
  // that fails.
  void ParseList(const wchar_t* text);
  // Parses "start;end;server;..." and appends the chain when it is valid.
  HRESULT ParseChain(const wchar_t* text);
  // When the default chain is present, removes it (the last chain).
  void RemoveDefault();

  // The list the main loop starts with: the configuration's backup-chain text, then the
  // default chain "0.0.0.0;255.255.255.255;" + RA when RA is not empty.
  void Assemble(const AgentConfig& config);

  const std::vector<BackupChain>& Chains() const { return chains_; }
  bool HasDefault() const { return defaultPresent_; }

 private:
  BackupChains() = default;

  bool defaultPresent_ = false;
  std::vector<BackupChain> chains_;
};
