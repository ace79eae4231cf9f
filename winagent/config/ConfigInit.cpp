#include "config/ConfigInit.h"

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string_view>

#include "platform/AgentNames.h"
#include "support/Logging.h"
#include "support/Utilities.h"

bool g_ConfigValid = false;

namespace ConfigInit {

const wchar_t kDefaultsText[] =
    L"RA[0.0.0.0]RP[139]Rh[42000]LE[0]LC[3221225471]LD[0]RX[40000]RW[60000]RM[2.000]UT[255]";

namespace {

// Check records keep fixed line numbers, so log readers can rely on them across edits.
constexpr int kCheckLineDefaultFile = 349;
constexpr int kCheckLineFileTooLarge = 376;
constexpr int kCheckLineFileRead = 381;

constexpr size_t kMaxFileBytes = 16 * 1024;  // a file this large or larger is refused
constexpr size_t kIgnoredValueCap = 520;     // cap for commented-out and unknown entries

bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Decimal text to an unsigned 32-bit value, the way the standard unsigned conversion reads it:
// leading white space, an optional sign, then digits up to the first other character (none
// gives 0). A magnitude beyond 32 bits saturates to 0xFFFFFFFF; a minus sign negates the
// value modulo 2^32 ("-1" is 0xFFFFFFFF).
uint32_t ToUnsigned32(const wchar_t* p, const wchar_t* end) {
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == L'+' || *p == L'-')) negative = *p++ == L'-';
  uint64_t value = 0;
  for (; p < end && *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

// Standard floating-point conversion; out-of-range values become +-HUGE_VAL or 0.
double ToDouble(const wchar_t* p, const wchar_t* end) {
  wchar_t buffer[kIgnoredValueCap + 2];
  size_t count = static_cast<size_t>(end - p);
  if (count > kIgnoredValueCap + 1) count = kIgnoredValueCap + 1;
  wmemcpy(buffer, p, count);
  buffer[count] = L'\0';
  return wcstod(buffer, nullptr);
}

struct Target {
  enum Kind { None, Text, U32, U16, I16, U16Extended, Double, Template };
  Kind kind = None;
  void* field = nullptr;
  size_t cap = kIgnoredValueCap;
  size_t storage = 0;  // characters of a Text field, terminator included
};

template <size_t Cap, size_t N>
Target TextTarget(wchar_t (&field)[N]) {
  static_assert(N >= Cap + 2, "the whole accepted value (cap + 1 characters) and its terminator must fit");
  return Target{Target::Text, field, Cap, N};
}

constexpr uint16_t KeyCode(char first, char second) {
  return static_cast<uint16_t>((static_cast<unsigned char>(first) << 8) | static_cast<unsigned char>(second));
}

// The key characters for messages: the log file keeps only each character's low 8 bits, so a
// character beyond ASCII is spelled out ("\u0152") rather than passing for another letter.
std::wstring KeyAsWritten(std::wstring_view key) {
  std::wstring text;
  for (wchar_t c : key) {
    if (c < 0x80) {
      text += c;
      continue;
    }
    wchar_t code[8];
    _snwprintf(code, 8, L"\\u%04X", static_cast<unsigned>(c));
    code[7] = L'\0';
    text += code;
  }
  return text;
}

char AsciiUpper(wchar_t c) { return static_cast<char>(c >= L'a' && c <= L'z' ? c - (L'a' - L'A') : c); }

// Keys are two ASCII letters, case-free: any other character matches no key.
bool LookupKey(wchar_t first, wchar_t second, Target& target) {
  if (first >= 0x80 || second >= 0x80) return false;
  AgentConfig& c = g_Config;
  switch (KeyCode(AsciiUpper(first), AsciiUpper(second))) {
    case KeyCode('R', 'A'): target = TextTarget<256>(c.RA); break;
    case KeyCode('R', 'P'): target = {Target::U16, &c.RP, 5}; break;
    case KeyCode('R', 'H'): target = {Target::U32, &c.RH, 10}; break;
    case KeyCode('R', 'X'): target = {Target::U32, &c.RX, 10}; break;
    case KeyCode('R', 'W'): target = {Target::U32, &c.RW, 10}; break;
    case KeyCode('R', 'M'): target = {Target::Double, &c.RM, 520}; break;
    case KeyCode('N', 'P'): target = {Target::U16Extended, &c.NP, 1}; break;
    case KeyCode('L', 'E'): target = {Target::U16Extended, &c.LE, 1}; break;
    case KeyCode('L', 'F'): target = TextTarget<520>(c.LF); break;
    case KeyCode('L', 'C'): target = {Target::U32, &c.LC, 10}; break;
    case KeyCode('L', 'D'): target = {Target::U32, &c.LD, 3}; break;
    case KeyCode('C', 'F'): target = TextTarget<520>(c.CF); break;
    // Revisions and schemas up to the width of any 32-bit key.
    case KeyCode('C', 'S'): target = {Target::U32, &c.CS, 10}; break;
    case KeyCode('C', 'R'): target = {Target::U32, &c.CR, 10}; break;
    case KeyCode('U', 'T'): target = {Target::I16, &c.UT, 4}; break;
    case KeyCode('U', 'Q'): target = {Target::Template, &c.Identity.UserDNTemplate, 256}; break;
    case KeyCode('U', 'M'): target = {Target::Template, &c.Identity.ComputerDNTemplate, 256}; break;
    default: return false;
  }
  return true;
}

void Store(const Target& target, const wchar_t* begin, const wchar_t* end, bool fromDefaults) {
  switch (target.kind) {
    case Target::None: break;
    case Target::Text: {
      size_t count = static_cast<size_t>(end - begin);
      if (count > target.storage - 1) count = target.storage - 1;
      auto* text = static_cast<wchar_t*>(target.field);
      wmemcpy(text, begin, count);
      text[count] = L'\0';
      break;
    }
    case Target::U32: *static_cast<uint32_t*>(target.field) = ToUnsigned32(begin, end); break;
    case Target::U16: *static_cast<uint16_t*>(target.field) = static_cast<uint16_t>(ToUnsigned32(begin, end)); break;
    case Target::I16:
      *static_cast<int16_t*>(target.field) = static_cast<int16_t>(static_cast<uint16_t>(ToUnsigned32(begin, end)));
      break;
    case Target::U16Extended: *static_cast<uint32_t*>(target.field) = ToUnsigned32(begin, end) & 0xFFFFu; break;
    case Target::Double: *static_cast<double*>(target.field) = ToDouble(begin, end); break;
    case Target::Template: {
      auto* field = static_cast<IdentityField*>(target.field);
      field->value.assign(begin, end);
      field->source = fromDefaults ? DEFAULT : CFG;
      if (!fromDefaults) g_Config.Identity.filled = true;
      break;
    }
  }
}

// Reads a whole file of less than 16 KB, converted from the ANSI code page.
HRESULT ReadOneFile(const wchar_t* path, std::unique_ptr<wchar_t[]>& text, size_t& length) {
  HandleHolder file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  if (!file.Valid()) return ResultFromWin32(GetLastError());

  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size)) return TraceCheckAt(__FILE__, kCheckLineFileRead, ResultFromWin32(GetLastError()));
  if (size.QuadPart >= static_cast<LONGLONG>(kMaxFileBytes))
    return TraceCheckAt(__FILE__, kCheckLineFileTooLarge, E_OUTOFMEMORY);

  char bytes[kMaxFileBytes];
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes, static_cast<DWORD>(kMaxFileBytes - 1), &read, nullptr))
    return TraceCheckAt(__FILE__, kCheckLineFileRead, ResultFromWin32(GetLastError()));

  size_t count = 0;
  while (count < read && bytes[count] != '\0') ++count;
  text.reset(new wchar_t[count + 1]);
  int chars = count ? MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(count), text.get(),
                                          static_cast<int>(count))
                    : 0;
  if (chars < 0) chars = 0;
  text[chars] = L'\0';
  length = static_cast<size_t>(chars);
  return S_OK;
}

std::wstring DefaultFilePath() {
  wchar_t module[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (n >= MAX_PATH) n = MAX_PATH - 1;
  module[n] = L'\0';
  std::wstring path(module);
  size_t slash = path.rfind(L'\\');
  path.resize(slash == std::wstring::npos ? 0 : slash);
  return path + L"\\idagent.cfg";
}

CrowbarCommand*& CrowbarHead() {
  static CrowbarCommand* head = nullptr;
  return head;
}

bool VersionCrowbar(const wchar_t*) { return ShowVersionBox(); }

CrowbarCommand g_VersionCrowbar(L"version", &VersionCrowbar);

}  // namespace

CrowbarCommand::CrowbarCommand(const wchar_t* commandName, Function commandFunction)
    : function(commandFunction), name(commandName) {
  CrowbarCommand** link = &CrowbarHead();
  while (*link) link = &(*link)->next;
  *link = this;
}

bool RunCrowbar(const wchar_t* text) {
  if (!text) return false;
  for (CrowbarCommand* node = CrowbarHead(); node; node = node->next) {
    if (_wcsicmp(node->name, text) != 0) continue;
    if (!node->function(text)) return false;
    TsConfigInit(1) << L"ConfigInit requesting app exit, having executed crowbar command '" << node->name << L"'.";
    return true;
  }
  return false;
}

HRESULT Parse(const wchar_t* text, size_t length, bool fromDefaults) {
  if (!text) return S_OK;
  if (length == 0) length = wcslen(text);
  auto ended = [&](size_t at) { return at >= length || text[at] == L'\0'; };

  size_t i = 0;
  for (;;) {
    while (i < length && IsSpace(text[i])) ++i;
    if (ended(i)) return S_OK;

    if (text[i] == L'{') {
      while (!ended(i) && text[i] != L'}') ++i;
      if (ended(i)) return S_OK;  // an unclosed comment swallows the rest
      ++i;
      continue;
    }

    bool commented = text[i] == L';';
    if (commented) ++i;

    size_t keyLength = ended(i) ? 0 : ended(i + 1) ? 1 : 2;
    const std::wstring key = KeyAsWritten(std::wstring_view(text + i, keyLength));
    if (keyLength < 2 || ended(i + 2) || text[i + 2] != L'[') {
      TsConfigInit(0) << L"CONFIG ERROR: Expected '[' to follow parameter " << key << L" at position " << (i + 2)
                      << L"Aborting parse due to syntax error.";
      return E_FAIL;
    }

    Target target;
    if (!commented && !LookupKey(text[i], text[i + 1], target)) {
      TsConfigInit(0) << L"CONFIG ERROR: Unknown config parameter '" << key << L"' at position" << i << L" ignored.";
    }

    size_t begin = i + 3;
    size_t j = begin;
    size_t limit = target.cap + 1;
    while (!ended(j) && text[j] != L']' && j - begin < limit) ++j;
    if (ended(j) || text[j] != L']') {
      TsConfigInit(0) << L"CONFIG ERROR: Expected ']' to follow parameter " << key << L" at position " << j
                      << L". But " << (ended(j) ? L"end of config data reached" : L"maximum parameter length exceeded");
      return E_FAIL;
    }

    Store(target, text + begin, text + j, fromDefaults);
    i = j + 1;
  }
}

HRESULT ReadConfigFile() {
  if (g_Config.CF[0] == L'\0') return S_OK;

  std::unique_ptr<wchar_t[]> text;
  size_t length = 0;
  if (g_Config.CF[0] != L'-' && SUCCEEDED(ReadOneFile(g_Config.CF, text, length)))
    return Parse(text.get(), length, false);

  // CF of "-", or a named file that cannot be read: the file beside the program.
  HRESULT hr = ReadOneFile(DefaultFilePath().c_str(), text, length);
  if (SUCCEEDED(hr)) return Parse(text.get(), length, false);
  if (hr == ResultFromWin32(ERROR_FILE_NOT_FOUND) || hr == ResultFromWin32(ERROR_PATH_NOT_FOUND)) return S_OK;
  return TraceCheckAt(__FILE__, kCheckLineDefaultFile, hr);
}

bool ReadRegistryConfig() {
  RegTextResult value = RegValueText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qel Security\\Identra", "BaseConfig");
  if (!value.valueRead) return true;
  return SUCCEEDED(Parse(value.text.c_str(), value.text.size(), false));
}

bool Validate(LoadResult& result) {
  if (g_Config.RA[0] == L'\0' || wcscmp(g_Config.RA, L"0.0.0.0") == 0) {
    result.reason = L"ERROR: No V7100 server defined";
    return false;
  }
  if (g_Config.RP == 0) {
    result.reason = L"ERROR: No valid V7100 server port defined";
    return false;
  }
  if (g_Config.UT < 0 || (g_Config.UT > 1 && g_Config.UT != 255)) g_Config.UT = 255;
  return true;
}

void Load(const wchar_t* commandLine, LoadResult& result) {
  result = LoadResult{};
  const wchar_t* whole = commandLine ? commandLine : L"";
  const wchar_t* commandText = whole;
  if (const wchar_t* service = FindServiceSwitch(whole)) {
    commandText = service + wcslen(kServiceSwitch);
    result.serviceMode = true;
  }

  Parse(kDefaultsText, 0, true);

  if (!result.serviceMode && RunCrowbar(commandText)) return;

  if (FAILED(Parse(commandText, 0, false))) {
    result.reason = std::wstring(L"Command line parse failure with command line {") + whole + L"}";
    return;
  }
  if (FAILED(ReadConfigFile())) {
    result.reason = std::wstring(L"Config file parse failure on file {") + g_Config.CF + L"}";
    return;
  }
  if (!ReadRegistryConfig()) {
    result.reason = L"Parse failure on configuration in registry";
    return;
  }
  // Again, so that the command line overrides the file and the registry.
  Parse(commandText, 0, false);

  result.ok = g_ConfigValid = Validate(result);
  if (!result.ok) TsConfigInit(0) << L"Error parsing config data: " << result.reason;
  TsConfigInit(2) << L"Config revision (CR): " << g_Config.CR << L", schema (CS): " << g_Config.CS;
}

}  // namespace ConfigInit
