#include "support/StringHelpers.h"

#include "support/KitHolders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t kMaxField = 4096;

bool IsBlank(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u < 0x80 && isspace(u);  // bytes of multibyte characters are never blanks
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Field n of text split where isDelimiter says, runs of delimiters counting as one when
// asked; false when there are fewer fields.
template <typename IsDelimiter>
bool NthField(const char* text, int n, IsDelimiter isDelimiter, bool mergeRuns, std::string& field) {
  if (!text || !*text || n < 0) return false;
  const char* p = text;
  for (int i = 0; i < n; ++i) {
    while (*p && !isDelimiter(*p)) ++p;
    if (!*p) return false;
    ++p;
    if (mergeRuns)
      while (*p && isDelimiter(*p)) ++p;
  }
  const char* end = p;
  while (*end && !isDelimiter(*end)) ++end;
  field.assign(p, std::min<size_t>(static_cast<size_t>(end - p), kMaxField));
  return true;
}

std::string NthPlainField(const char* text, int n, char delimiter) {
  std::string field;
  NthField(text, n, [delimiter](char c) { return c == delimiter; }, false, field);
  return field;
}
}  // namespace

_bstr_t GetNthField(const char* text, int n, char delimiter, bool trim) {
  const std::string field = NthPlainField(text, n, delimiter);
  return _bstr_t((trim ? Trimmed(field) : field).c_str());
}

size_t FindDelimiterOutsideQuotes(const char* text, char delimiter, char quote) {
  if (!text) return std::string::npos;
  const char* d = strchr(text, delimiter);
  const char* q = strchr(text, quote);
  if (!d) return std::string::npos;
  if (!q || q > d) return static_cast<size_t>(d - text);
  const char* closing = strchr(q + 1, quote);
  if (!closing) return std::string::npos;
  d = strchr(closing + 1, delimiter);
  return d ? static_cast<size_t>(d - text) : std::string::npos;
}

_bstr_t GetNthQuotedField(const char* text, int n, char delimiter, char quote) {
  if (!text || !*text || n < 0) return _bstr_t("");
  const char* rest = text;
  for (int i = 0;; ++i) {
    const size_t at = FindDelimiterOutsideQuotes(rest, delimiter, i == 0 ? quote : '"');
    if (i == n) {
      const size_t length = at == std::string::npos ? strlen(rest) : at;
      return _bstr_t(std::string(rest, std::min(length, kMaxField)).c_str());
    }
    if (at == std::string::npos) return _bstr_t("");
    rest += at + 1;
  }
}

int GetNthFieldAsInt(const char* text, int n, char delimiter) {
  return atoi(Trimmed(NthPlainField(text, n, delimiter)).c_str());
}

double GetNthFieldAsDouble(const char* text, int n, char delimiter) {
  return atof(Trimmed(NthPlainField(text, n, delimiter)).c_str());
}

_bstr_t GetNthToken(const char* text, int n, const char* delimiters, bool trim) {
  std::string field;
  const char* set = delimiters ? delimiters : "";
  NthField(text, n, [set](char c) { return c != '\0' && strchr(set, c) != nullptr; }, true, field);
  return _bstr_t((trim ? Trimmed(field) : field).c_str());
}

_bstr_t GetKeyValue(const char* text, const char* key, const char* terminator) {
  if (!text || !*text || !key || !*key) return _bstr_t("");
  const char* found = strstr(text, key);
  if (!found) return _bstr_t("");
  const char* equals = strchr(found + strlen(key), '=');
  if (!equals) return _bstr_t("");
  std::string value(equals + 1);
  if (terminator && *terminator) {
    const size_t end = value.find(terminator[0]);
    if (end != std::string::npos) value.resize(end);
  }
  return _bstr_t(Trimmed(value).c_str());
}

int CountFields(const char* text, char delimiter) {
  if (!text || !*text) return 0;
  int count = 1;
  for (const char* p = text; *p; ++p)
    if (*p == delimiter) ++count;
  return count;
}

_bstr_t TrimText(const char* text) { return _bstr_t(Trimmed(text ? text : "").c_str()); }

bool EnsureRegistryKey(HKEY root, const char* subKey) {
  KeyHolder key;
  return key.Create(root, subKey, KEY_WRITE);
}

bool WriteRegistryString(HKEY root, const char* subKey, const char* valueName, const char* text) {
  if (!EnsureRegistryKey(root, subKey)) return false;
  const KeyHolder key(root, subKey, KEY_SET_VALUE);
  if (!key.Valid()) return false;
  const DWORD size = text ? static_cast<DWORD>(strlen(text) + 1) : 0;
  return RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS;
}

bool WriteRegistryInt(HKEY root, const char* subKey, const char* valueName, int value) {
  return WriteRegistryString(root, subKey, valueName, IntToText(value).c_str());
}

bool RegistryValueExists(HKEY root, const char* subKey, const char* valueName) {
  const KeyHolder key(root, subKey, KEY_QUERY_VALUE);
  if (!key.Valid()) return false;
  if (!valueName) return true;
  BYTE buffer[4096];
  DWORD size = sizeof(buffer);
  return RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, buffer, &size) == ERROR_SUCCESS;
}

std::string IntToText(int value, char* buffer, int radix) {
  std::string text;
  if (radix >= 2 && radix <= 16) {
    // The magnitude is taken unsigned, so the most negative value has one too.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      text.insert(text.begin(), "0123456789abcdef"[magnitude % static_cast<unsigned>(radix)]);
      magnitude /= static_cast<unsigned>(radix);
    } while (magnitude);
    if (value < 0) text.insert(text.begin(), '-');
  }
  if (buffer) {
    strncpy(buffer, text.c_str(), 31);
    buffer[31] = '\0';
  }
  return text;
}

int FormatToBuffer(char* buffer, size_t size, bool crlf, const char* format, ...) {
  // Room for at least one character and the NUL, and for CR LF when asked.
  if (!buffer || size < (crlf ? 3u : 1u)) return 0;
  buffer[0] = '\0';
  if (!format || !*format) return 0;
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, size - (crlf ? 2 : 0), format, args);
  va_end(args);
  if (n < 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (crlf) return EnsureTrailingCrLf(buffer, size);
  return static_cast<int>(strlen(buffer));
}

int EnsureTrailingCrLf(char* buffer, size_t size) {
  // CR LF and the NUL must fit after the text.
  if (!buffer || size < 3 || !*buffer) return 0;
  size_t length = strnlen(buffer, size - 3);
  buffer[length] = '\0';
  for (;;) {
    if (length >= 1 && buffer[length - 1] == '\n' && (length < 2 || buffer[length - 2] != '\r')) {
      buffer[--length] = '\0';
    } else if (length >= 3 && buffer[length - 1] == '\n' && buffer[length - 2] == '\r' && buffer[length - 3] == '\n') {
      length -= 2;
      buffer[length] = '\0';
    } else if (length >= 2 && buffer[length - 1] == '\n' && buffer[length - 2] == '\r') {
      return static_cast<int>(length);
    } else {
      break;
    }
  }
  buffer[length] = '\r';
  buffer[length + 1] = '\n';
  buffer[length + 2] = '\0';
  return static_cast<int>(length + 2);
}
