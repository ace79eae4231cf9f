#include "options/CfgText.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {
bool IsCfgSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool IsIdLetter(wchar_t c) { return c >= L'A' && c <= L'Z'; }

// Finds the closing character of a bracketed part at `at`; the part's text and the position
// after it, or an error naming the rest of the text from the opening character.
bool ReadEnclosed(const wchar_t* text, size_t& position, wchar_t open, wchar_t close, const wchar_t* message,
                  std::wstring& part, std::wstring& error) {
  size_t at = position;
  while (IsCfgSpace(text[at])) ++at;
  if (text[at] != open) return true;
  const wchar_t* end = wcschr(text + at + 1, close);
  if (!end) {
    error = std::wstring(message) + (text + at);
    return false;
  }
  part.assign(text + at + 1, end);
  position = static_cast<size_t>(end - text) + 1;
  return true;
}

struct Limit {
  const char* id;
  size_t characters;
};
// The smaller of the two agents' accepted lengths (cap + 1) for the keys the tool writes.
constexpr Limit kAgentLimits[] = {
    {"RA", 257}, {"RP", 6},  {"RH", 11}, {"RX", 11}, {"RW", 11}, {"LD", 4},  {"LE", 2},
    {"LC", 11},  {"CR", 11}, {"CS", 11}, {"UT", 4},  {"UQ", 257}, {"UM", 257},
};
// Keys one agent does not know are read with its cap for unknown entries (512 + 1).
constexpr size_t kUnknownKeyLimit = 513;

std::string OptionName(const AuthCfg::OptionThunkT& option) { return std::string(option.id, 2); }

// The file holds 8-bit text that every reader takes byte for byte: characters U+0001 to U+00FF.
bool FitsFileText(wchar_t c) { return c != L'\0' && static_cast<uint32_t>(c) <= 0xFF; }

std::string FileText(const std::wstring& text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(static_cast<unsigned char>(text[i]));
  return out;
}

bool Written(const AuthCfg::OptionThunkT& option) {
  return option.source != AuthCfg::kDefault && strcmp(option.id, "CR") != 0 && strcmp(option.id, "CS") != 0;
}
}  // namespace

size_t AgentValueLimit(const char* id) {
  for (const Limit& limit : kAgentLimits)
    if (id[0] == limit.id[0] && id[1] == limit.id[1]) return limit.characters;
  return kUnknownKeyLimit;
}

std::string WritableValueProblem(const AuthCfg::OptionThunkT& option) {
  const std::wstring text = option.ToText();
  for (const wchar_t c : text) {
    if (FitsFileText(c)) continue;
    char code[16];
    snprintf(code, sizeof(code), "U+%04X", static_cast<unsigned>(c));
    return "Value of option '" + OptionName(option) + "' holds the character " + code +
           ", which the configuration file cannot hold";
  }
  if (text.find(L']') != std::wstring::npos)
    return "Value of option '" + OptionName(option) + "' contains ']', which the configuration language cannot hold";
  const size_t limit = AgentValueLimit(option.id);
  if (text.size() > limit)
    return "Value of option '" + OptionName(option) + "' is longer than " + std::to_string(limit) +
           " characters, the most an agent reads";
  return "";
}

CfgParser::CfgParser(CfgSet& set, const wchar_t* text, int32_t source) : set_(set), text_(text), source_(source) {
  if (set_.Empty()) {
    error = L"ERROR: Cannot parse a CfgSet which has not been initialized\n";
    return;
  }
  for (size_t position = 0;;) {
    CfgEntry entry = ParseEntry(position);
    if (!entry.ok) {
      error = entry.error;
      break;
    }
    if (entry.endOfText) break;
    position = entry.next;
    AuthCfg::OptionThunkT* option = set_.Find(entry.id);
    if (!option) {
      warnings << L"WARNING: Ignoring unknown option '" << entry.id[0] << entry.id[1] << L"'\n";
      continue;
    }
    if (!option->SetFromText(entry.value, source_)) {
      // One value the tool cannot hold must not cost the file's other settings.
      CfgRefusal refusal;
      std::memcpy(refusal.id, entry.id, sizeof(refusal.id));
      refusal.value = entry.value;
      refused.push_back(std::move(refusal));
      continue;
    }
    ++count;
  }
  success = error.empty();
}

CfgEntry CfgParser::ParseEntry(size_t position) const {
  CfgEntry entry;
  const wchar_t* text = text_ ? text_ : L"";
  while (IsCfgSpace(text[position])) ++position;
  if (!text[position]) {
    entry.ok = true;
    entry.endOfText = true;
    entry.next = position;
    return entry;
  }
  if (!IsIdLetter(text[position]) || !IsIdLetter(text[position + 1])) {
    entry.error = std::wstring(L"Expected option ID, found: ") + (text + position);
    return entry;
  }
  entry.id[0] = static_cast<char>(text[position]);
  entry.id[1] = static_cast<char>(text[position + 1]);
  position += 2;
  if (!ReadEnclosed(text, position, L'[', L']', L"Error, expected closing bracket ']' at: ", entry.value, entry.error) ||
      !ReadEnclosed(text, position, L'{', L'}', L"Error, expected closing brace '}' at: ", entry.extra, entry.error))
    return entry;
  entry.ok = true;
  entry.next = position;
  return entry;
}

CfgWriter::CfgWriter(const CfgSet& set, std::ostream& out) {
  // The language has no escape and the file no other encoding: a value that would not read
  // back as it stands stops the whole text.
  for (const auto& option : set) {
    if (!Written(*option) && strcmp(option->id, "CR") != 0) continue;
    error = WritableValueProblem(*option);
    if (!error.empty()) return;
  }
  out << "CS[" << 2 << "] ";
  const std::string revision = FileText(set.TextById("CR"));
  if (!revision.empty()) out << "CR[" << revision << "] ";
  for (const auto& option : set)
    if (Written(*option)) out << option->id << "[" << FileText(option->ToText()) << "] ";
  done = true;
}

int DetectTextEncoding(const unsigned char* bytes, size_t length) {
  if (!bytes || length < 2) return 0;
  if (bytes[0] == 0xFE && bytes[1] == 0xFF) return 3;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE) return 2;
  if (bytes[0] != 0 && bytes[1] == 0 && length > 3 && bytes[2] != 0 && bytes[3] == 0) return 2;
  return (bytes[0] != 0 && bytes[1] != 0) ? 1 : 0;
}

std::wstring DecodeConfigText(const unsigned char* bytes, size_t length) {
  std::wstring text;
  switch (DetectTextEncoding(bytes, length)) {
    case 2:
    case 3: {
      // 16-bit text in either byte order; the byte-order mark is not part of the text.
      const bool bigEndian = bytes[0] == 0xFE && bytes[1] == 0xFF;
      size_t unit = (bigEndian || (bytes[0] == 0xFF && bytes[1] == 0xFE)) ? 1 : 0;
      for (; unit < length / 2; ++unit) {
        const unsigned char lo = bytes[unit * 2 + (bigEndian ? 1 : 0)];
        const unsigned char hi = bytes[unit * 2 + (bigEndian ? 0 : 1)];
        const wchar_t c = static_cast<wchar_t>(lo | (hi << 8));
        if (!c) break;
        text += c;
      }
      break;
    }
    default:
      for (size_t i = 0; i < length && bytes[i]; ++i) text += static_cast<wchar_t>(bytes[i]);
      break;
  }
  return text;
}
