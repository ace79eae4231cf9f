// The agent's one configuration record and its reader of the KEY[value] language:
// built-in defaults, command line, "Idagent.cfg", and text pushed by the appliance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Text fields hold the cap + 1 characters the reader accepts, plus the terminator.
struct CTavoAuthConfig {
  struct LocalUserT {
    char userName[257];
    char domainName[257];
    char machineName[257];
    char groupName[257];
    char fullName[257];
    char userDN[257];
    char machineDN[257];
    char userDNTemplate[258];     // UQ
    char machineDNTemplate[258];  // UM
    int32_t identType;            // UT writes its low 16 bits

    // Keeps the name up to its first unescaped line break or blank (never cut at the
    // first character).
    void SetUserName(const char* name);
    // CRC-32 over user, machine, domain, group, user DN and machine DN.
    uint32_t GetUserIdentityHash() const;
  };

  LocalUserT LocalUser;
  char UX[514];
  char RA[258];
  uint16_t RP;
  uint32_t RH;
  uint32_t RR;
  uint32_t RC;
  char RV[514];
  uint32_t RX;
  uint32_t RY;
  uint32_t RZ;
  uint32_t RT;
  uint8_t NP;
  uint8_t LE;
  char LF[514];
  uint32_t LC;
  uint32_t LD;
  char CC[258];
  uint32_t CT;
  uint32_t CS;
  uint32_t CR;
};

// The process-wide record, zero until the first source is read.
extern CTavoAuthConfig g_TavoAuthConfig;

// Parsed first, under the source name "Defaults".
extern const char kConfigDefaultsText[];

class ParseParams {
 public:
  // Reads configuration text into the record; a length of 0 means up to the terminator.
  // 0, or 0x80004005 on a syntax error (entries before it stay applied).
  static int32_t Exec(CTavoAuthConfig& config, const char* source, const char* text, size_t length);
  // The command line from the second argument on, each followed by one blank,
  // under the source name "Command line".
  static int32_t Exec(CTavoAuthConfig& config, int argc, const char* const* argv);
};

// Reads, parses and validates one configuration file.
int32_t ParseConfigFile(const char* path, CTavoAuthConfig& config);

// 0x80004005 when RA is "ERROR", else 0.
int32_t ValidateConfig(const CTavoAuthConfig& config);

// The folders searched for "Idagent.cfg", each ending in "/": the options folder,
// then the application folder.
std::vector<std::string> ConfigFileFolders(const std::string& optionsDir);

// Loads "Idagent.cfg" from the first of the folders that holds it, else from the
// working folder; a missing or bad file is logged and the record keeps what it has.
int32_t LoadConfigFile(CTavoAuthConfig& config, const std::vector<std::string>& folders);

// One appliance address of the RA list.
struct V7kAddrT {
  std::string host;
  uint16_t port = 0;

  // The first entry of the list; next becomes the text after its separator, or null
  // after the last entry. Blanks and tabs around host and port are dropped. An entry with
  // no host or a port beyond 16 bits is logged and comes back with port 0, which the caller
  // skips; so does an empty or blank entry, silently.
  static V7kAddrT ParseCreate(const char* text, uint16_t defaultPort, const char** next);
};
using V7kAddrVector = std::vector<V7kAddrT>;

// Replaces the first (or every) occurrence of search; count receives the number of
// replacements.
std::string SearchReplace(const char* text, const char* search, const char* replacement, bool caseSensitive,
                          bool all, int* count);

// Fills the user and machine DNs from UQ and UM ("%1" is the name); the number of
// replacements made.
int ApplyDistinguishedNameTemplates(CTavoAuthConfig& config);
