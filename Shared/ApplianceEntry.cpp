#include "ApplianceEntry.h"

namespace {

constexpr uint32_t kNoPort = 0x10000;  // beyond 16 bits: unusable

template <class Char>
std::basic_string_view<Char> TrimBlanks(std::basic_string_view<Char> text) {
  const auto blank = [](Char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

template <class Char>
bool IsDigit(Char c) {
  return c >= '0' && c <= '9';
}

// One to five digits; kNoPort for anything else.
template <class Char>
uint32_t DigitsPort(std::basic_string_view<Char> text) {
  if (text.empty() || text.size() > 5) return kNoPort;
  uint32_t port = 0;
  for (Char c : text) {
    if (!IsDigit(c)) return kNoPort;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  return port == 0 ? kNoPort : port;
}

// The rules of atoi: white space, a sign, digits up to the first other character; no digits
// give 0. Magnitudes beyond 16 bits, and negative ones, give kNoPort.
template <class Char>
uint32_t AtoiPort(std::basic_string_view<Char> text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    if (value > 0xFFFF) return kNoPort;
  }
  return negative && value != 0 ? kNoPort : value;
}

template <class Char>
std::optional<BasicApplianceAddress<Char>> Parse(std::basic_string_view<Char> entry, uint16_t defaultPort,
                                                 EntryPort rule) {
  const size_t colon = entry.find(Char(':'));
  BasicApplianceAddress<Char> address{std::basic_string<Char>(TrimBlanks(entry.substr(0, colon))), defaultPort};
  if (address.host.empty()) return std::nullopt;
  if (colon == std::basic_string_view<Char>::npos) return address;
  const std::basic_string_view<Char> text = TrimBlanks(entry.substr(colon + 1));
  const uint32_t port = rule == EntryPort::Digits ? DigitsPort(text) : AtoiPort(text);
  if (port == kNoPort) return std::nullopt;
  if (port != 0) address.port = static_cast<uint16_t>(port);
  return address;
}

}  // namespace

std::optional<BasicApplianceAddress<char>> ParseApplianceEntry(std::string_view entry, uint16_t defaultPort,
                                                               EntryPort rule) {
  return Parse(entry, defaultPort, rule);
}

std::optional<BasicApplianceAddress<wchar_t>> ParseApplianceEntry(std::wstring_view entry, uint16_t defaultPort,
                                                                  EntryPort rule) {
  return Parse(entry, defaultPort, rule);
}

bool IsBlankEntry(std::string_view entry) { return TrimBlanks(entry).empty(); }

bool IsBlankEntry(std::wstring_view entry) { return TrimBlanks(entry).empty(); }
