#include "config/TavoAuthConfig.h"

#include <cstring>
#include <limits>

#include "ApplianceEntry.h"
#include "Crc32.h"
#include "support/File_aid.h"
#include "support/Logging.h"
#include "ResultCodes.h"
#include "support/XCFString.h"

CTavoAuthConfig g_TavoAuthConfig = {};

const char kConfigDefaultsText[] =
    "RA[0.0.0.0]RP[139]Rh[42000]rr[10000]RC[120000]lf[./Identra.log]LE[1]LC[3221225471]Rt[3]RX[25000]RY[30000]"
    "RZ[10000]ut[255]";

namespace {

constexpr size_t kIgnoredValueCap = 512;  // unknown, switched-off and CF entries
constexpr size_t kNameChars = 256;        // names and DNs of LocalUserT

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// The rules of atoi over [p, end): white space, a sign, digits up to the first other
// character. Digits accumulate in 64 bits and saturate instead of overflowing.
int64_t ToNumber(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t value = 0;
  for (; p < end && IsDigit(*p); ++p) {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  const int64_t magnitude = static_cast<int64_t>(value);
  return negative ? -magnitude : magnitude;
}

// Cut to the field's width, two's complement ("-1" gives all ones).
template <typename T>
T CutTo(int64_t value) {
  return static_cast<T>(static_cast<uint64_t>(value));
}

void CopyText(char* field, size_t storage, const char* begin, size_t count) {
  if (count > storage - 1) count = storage - 1;
  std::memcpy(field, begin, count);
  field[count] = '\0';
}

template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  CopyText(field, N, text.data(), text.size());
}

struct Target {
  enum Kind { Discard, Text, U8, U16, U32, IdentType, LogFile, LogDebug };
  Kind kind = Discard;
  void* field = nullptr;
  size_t cap = kIgnoredValueCap;
  size_t storage = 0;  // bytes of a text field
};

template <size_t Cap, size_t N>
Target TextTarget(char (&field)[N], Target::Kind kind = Target::Text) {
  static_assert(N >= Cap + 2, "the whole accepted value and its terminator must fit");
  return Target{kind, field, Cap, N};
}

constexpr uint16_t KeyCode(char first, char second) {
  return static_cast<uint16_t>((static_cast<unsigned char>(first) << 8) | static_cast<unsigned char>(second));
}

// False for an unknown key. CF is known and discarded.
bool LookupKey(CTavoAuthConfig& c, char first, char second, Target& target) {
  switch (KeyCode(Upper(first), Upper(second))) {
    case KeyCode('R', 'A'): target = TextTarget<256>(c.RA); break;
    case KeyCode('R', 'P'): target = {Target::U16, &c.RP, 5}; break;
    case KeyCode('R', 'H'): target = {Target::U32, &c.RH, 10}; break;
    case KeyCode('R', 'R'): target = {Target::U32, &c.RR, 10}; break;
    case KeyCode('R', 'C'): target = {Target::U32, &c.RC, 10}; break;
    case KeyCode('R', 'V'): target = TextTarget<512>(c.RV); break;
    case KeyCode('R', 'X'): target = {Target::U32, &c.RX, 10}; break;
    case KeyCode('R', 'Y'): target = {Target::U32, &c.RY, 10}; break;
    case KeyCode('R', 'Z'): target = {Target::U32, &c.RZ, 10}; break;
    case KeyCode('R', 'T'): target = {Target::U32, &c.RT, 10}; break;
    case KeyCode('N', 'P'): target = {Target::U8, &c.NP, 1}; break;
    case KeyCode('L', 'E'): target = {Target::U8, &c.LE, 1}; break;
    case KeyCode('L', 'F'): target = TextTarget<512>(c.LF, Target::LogFile); break;
    case KeyCode('L', 'C'): target = {Target::U32, &c.LC, 10}; break;
    case KeyCode('L', 'D'): target = {Target::LogDebug, &c.LD, 3}; break;
    case KeyCode('C', 'C'): target = TextTarget<256>(c.CC); break;
    case KeyCode('C', 'T'): target = {Target::U32, &c.CT, 10}; break;
    // Revisions and schemas of any width the tool writes, as the Windows agent reads them.
    case KeyCode('C', 'S'): target = {Target::U32, &c.CS, 10}; break;
    case KeyCode('C', 'R'): target = {Target::U32, &c.CR, 10}; break;
    case KeyCode('U', 'T'): target = {Target::IdentType, &c.LocalUser.identType, 3}; break;
    case KeyCode('U', 'X'): target = TextTarget<512>(c.UX); break;
    case KeyCode('U', 'Q'): target = TextTarget<256>(c.LocalUser.userDNTemplate); break;
    case KeyCode('U', 'M'): target = TextTarget<256>(c.LocalUser.machineDNTemplate); break;
    case KeyCode('C', 'F'): target = {}; break;
    default: return false;
  }
  return true;
}

void Store(CTavoAuthConfig& config, const Target& target, const char* begin, const char* end) {
  const size_t count = static_cast<size_t>(end - begin);
  switch (target.kind) {
    case Target::Discard: break;
    case Target::Text: CopyText(static_cast<char*>(target.field), target.storage, begin, count); break;
    case Target::LogFile:
      CopyText(static_cast<char*>(target.field), target.storage, begin, count);
      config.LE = count == 0 ? 1 : 0;
      break;
    case Target::U8: *static_cast<uint8_t*>(target.field) = CutTo<uint8_t>(ToNumber(begin, end)); break;
    case Target::U16: *static_cast<uint16_t*>(target.field) = CutTo<uint16_t>(ToNumber(begin, end)); break;
    case Target::U32: *static_cast<uint32_t*>(target.field) = CutTo<uint32_t>(ToNumber(begin, end)); break;
    case Target::LogDebug:
      config.LD = CutTo<uint32_t>(ToNumber(begin, end));
      LogHub<LogContext>::Get().SetLevelFromLD(static_cast<int32_t>(config.LD));
      break;
    case Target::IdentType: {
      auto* type = static_cast<int32_t*>(target.field);
      const uint32_t high = static_cast<uint32_t>(*type) & 0xFFFF0000u;
      *type = static_cast<int32_t>(high | CutTo<uint16_t>(ToNumber(begin, end)));
      break;
    }
  }
}

// The key characters as written, for messages; a text may end after one of them.
std::string KeyText(const char* text, size_t at, size_t length) {
  std::string key;
  for (size_t i = at; i < at + 2 && i < length && text[i] != '\0'; ++i) key += text[i];
  return key;
}

// The whole file; failures logged with the reader's messages.
int32_t ReadConfigBytes(const char* path, std::string& bytes) {
  File_aid::File<char> file(path, File_aid::kRead);
  if (!file.IsOpen()) {
    Logf(SEV_DEBUG, "Cannot find or open '%s'", path);
    return kResultFail;
  }
  const int64_t read = file.Read();
  if (read < 0) {
    Logf(SEV_ERROR, "File %s exists and was opened, but read failed", path);
    return kResultFail;
  }
  bytes.assign(file.Contents().data(), static_cast<size_t>(read));
  return kResultOk;
}

}  // namespace

int32_t ParseParams::Exec(CTavoAuthConfig& config, const char* source, const char* text, size_t length) {
  if (!text) text = "";
  if (length == 0) length = std::strlen(text);
  const std::string shown(text, length);
  Logf(SEV_DEBUG, "Parsing parameters from '%s', text=<<%s>>", source ? source : "", shown.c_str());

  auto ended = [&](size_t at) { return at >= length || text[at] == '\0'; };
  size_t i = 0;
  for (;;) {
    while (i < length && IsSpace(text[i])) ++i;
    if (ended(i)) return kResultOk;

    if (text[i] == '{') {
      while (!ended(i) && text[i] != '}') ++i;
      if (ended(i)) return kResultOk;  // an unclosed comment swallows the rest
      ++i;
      continue;
    }

    const bool switchedOff = text[i] == ';';
    if (switchedOff) ++i;

    const std::string key = KeyText(text, i, length);
    const size_t bracket = i + 2;
    if (key.size() < 2 || ended(bracket) || text[bracket] != '[') {
      Logf(SEV_ERROR,
           "CONFIG ERROR: Expected '[' to follow parameter \"%s\" at position %li.  Aborting parse due to syntax "
           "error.\n",
           key.c_str(), static_cast<long>(bracket));
      return kResultFail;
    }

    Target target;
    if (!switchedOff && !LookupKey(config, text[i], text[i + 1], target)) {
      Logf(SEV_INFO, "CONFIG ERROR: Unknown config parameter \"%s\" at position %li.  Ignored.\n", key.c_str(),
           static_cast<long>(i));
    }

    const size_t begin = bracket + 1;
    size_t j = begin;
    while (!ended(j) && text[j] != ']' && j - begin < target.cap + 1) ++j;
    if (ended(j) || text[j] != ']') {
      Logf(SEV_ERROR, "CONFIG ERROR: Expected ']' to follow parameter \"%s\" at position %li.  But %s.\n",
           key.c_str(), static_cast<long>(j),
           ended(j) ? "end of config data reached" : "maximum parameter length exceeded");
      return kResultFail;
    }

    Store(config, target, text + begin, text + j);
    i = j + 1;
  }
}

int32_t ParseParams::Exec(CTavoAuthConfig& config, int argc, const char* const* argv) {
  std::string joined;
  for (int n = 1; n < argc; ++n) {
    joined += argv[n] ? argv[n] : "";
    joined += ' ';
  }
  return Exec(config, "Command line", joined.c_str(), joined.size());
}

int32_t ValidateConfig(const CTavoAuthConfig& config) {
  if (std::strcmp(config.RA, "ERROR") == 0) {
    Logf(SEV_ERROR, "%s", "ERROR");
    return kResultFail;
  }
  return kResultOk;
}

int32_t ParseConfigFile(const char* path, CTavoAuthConfig& config) {
  std::string bytes;
  const int32_t read = ReadConfigBytes(path, bytes);
  if (ResultFailed(read)) return read;

  const std::string source = std::string("File: ") + path;
  const int32_t parsed = ParseParams::Exec(config, source.c_str(), bytes.c_str(), bytes.size());
  const int32_t valid = ValidateConfig(config);
  if (config.CR != 0) Logf(SEV_INFO, "Configuration revision = %d", static_cast<int>(config.CR));
  if (config.CS != 0) Logf(SEV_INFO, "Config schema version = %d", static_cast<int>(config.CS));
  return ResultFailed(parsed) ? parsed : valid;
}

std::vector<std::string> ConfigFileFolders(const std::string& optionsDir) {
  return {optionsDir + "/", "/Applications/QelIdentra/"};
}

int32_t LoadConfigFile(CTavoAuthConfig& config, const std::vector<std::string>& folders) {
  std::vector<const char*> list;
  for (const std::string& folder : folders) list.push_back(folder.c_str());
  // No folder holds it: the bare name, in the working folder.
  const XCFString folder =
      File_aid::FindFileInPathList("Idagent.cfg", list.data(), static_cast<int32_t>(list.size()), nullptr);
  const std::string path = std::string(folder.c_str()) + "Idagent.cfg";
  Logf(SEV_INFO, "Loading config file %s", path.c_str());
  const int32_t result = ParseConfigFile(path.c_str(), config);
  if (ResultFailed(result)) Logf(SEV_ERROR, "CONFIG ERROR: Unable to load or parse config file '%s'", path.c_str());
  return result;
}

V7kAddrT V7kAddrT::ParseCreate(const char* text, uint16_t defaultPort, const char** next) {
  if (!text) text = "";
  const char* end = std::strchr(text, ';');
  if (!end) end = std::strchr(text, ',');
  if (next) *next = end ? end + 1 : nullptr;
  const std::string entry = end ? std::string(text, end) : std::string(text);

  const auto parsed = ParseApplianceEntry(entry, defaultPort, EntryPort::Atoi);
  if (!parsed) {
    // An empty or blank entry (two separators in a row, or one at the end) is no address at all.
    if (!IsBlankEntry(entry))
      Logf(SEV_ERROR, "Web filter address '%s' names no host or no valid port; skipped.\n", entry.c_str());
    return V7kAddrT{entry.substr(0, entry.find(':')), 0};
  }
  return V7kAddrT{parsed->host, parsed->port};
}

std::string SearchReplace(const char* text, const char* search, const char* replacement, bool caseSensitive,
                          bool all, int* count) {
  if (count) *count = 0;
  if (!text || !*text) return std::string();
  if (!search || !*search) return text;
  if (!replacement) replacement = "";

  std::string result;
  const size_t searchLength = std::strlen(search);
  const char* rest = text;
  for (;;) {
    const char* match = caseSensitive ? std::strstr(rest, search) : stristr(rest, search).result();
    if (!match) break;
    result.append(rest, match);
    result += replacement;
    rest = match + searchLength;
    if (count) ++*count;
    if (!all) break;
  }
  result += rest;
  return result;
}

int ApplyDistinguishedNameTemplates(CTavoAuthConfig& config) {
  CTavoAuthConfig::LocalUserT& user = config.LocalUser;
  int total = 0;
  auto apply = [&total](char (&target)[257], const char* templ, const char* name) {
    if (!*templ) return;
    int count = 0;
    CopyText(target, SearchReplace(templ, "%1", name, true, true, &count));
    total += count;
  };
  apply(user.userDN, user.userDNTemplate, user.userName);
  apply(user.machineDN, user.machineDNTemplate, user.machineName);
  return total;
}

void CTavoAuthConfig::LocalUserT::SetUserName(const char* name) {
  CopyText(userName, sizeof userName, name ? name : "", name ? strnlen(name, kNameChars) : 0);
  for (size_t i = 1; userName[i] != '\0'; ++i) {
    const char c = userName[i];
    if ((c == '\r' || c == '\n' || c == ' ') && userName[i - 1] != '\\') {
      userName[i] = '\0';
      break;
    }
  }
}

uint32_t CTavoAuthConfig::LocalUserT::GetUserIdentityHash() const {
  static const CCRC32 crc32;
  uint32_t crc = CCRC32::kInitial;
  for (const char* field : {userName, machineName, domainName, groupName, userDN, machineDN})
    crc32.PartialCRC(&crc, field, std::strlen(field));
  return CCRC32::Finish(crc);
}
