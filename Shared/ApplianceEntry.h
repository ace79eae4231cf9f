// One entry of the appliance list (the key RA): "host" or "host:port". The agents split the
// list themselves, each at its own separators, and read each entry here in their own kind
// of text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How the text after the ':' is read.
enum class EntryPort {
  Digits,  // one to five digits giving 1-65535; anything else makes the entry unusable
  Atoi,    // read like atoi: no number or 0 gives the default port, a value outside
           // 0-65535 makes the entry unusable
};

template <class Char>
struct BasicApplianceAddress {
  std::basic_string<Char> host;
  uint16_t port = 0;
};

// Host and port of one entry, each without the blanks and tabs around it (a host name never
// holds one); empty for an entry that names no host or no usable port.
std::optional<BasicApplianceAddress<char>> ParseApplianceEntry(std::string_view entry, uint16_t defaultPort,
                                                               EntryPort rule);
std::optional<BasicApplianceAddress<wchar_t>> ParseApplianceEntry(std::wstring_view entry, uint16_t defaultPort,
                                                                  EntryPort rule);

// True for an entry of nothing but blanks and tabs: like an empty one, no address at all.
bool IsBlankEntry(std::string_view entry);
bool IsBlankEntry(std::wstring_view entry);
