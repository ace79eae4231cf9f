#include "options/AuthCfg.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace AuthCfg {

OptionThunkT::OptionThunkT(const char* optionId, int32_t typeCode, const wchar_t* text) {
  id[0] = optionId[0];
  id[1] = optionId[1];
  type = typeCode;
  description = text;
  level = kAdvanced;
  category = 1;
  source = kDefault;
}

namespace {
bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
}  // namespace

int32_t DecimalToInt(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > 2147483648LL) value = 2147483648LL;  // past either limit: stays clamped
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int32_t>(value);
}

double DecimalToDouble(const std::wstring& text) {
  // Only [sign] digits [. digits] [exponent], with '.' as the decimal point.
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  std::string number;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) number += static_cast<char>(text[i++]);
  size_t digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) number += static_cast<char>(text[i]);
  if (i < text.size() && text[i] == L'.') {
    number += '.';
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) number += static_cast<char>(text[i]);
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) exponent += static_cast<char>(text[j++]);
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j) exponent += static_cast<char>(text[j]);
      number += exponent;
    }
  }
  return strtod(number.c_str(), nullptr);
}

std::wstring ValueText(bool value) { return value ? L"1" : L"0"; }
std::wstring ValueText(uint8_t value) { return std::to_wstring(value); }
std::wstring ValueText(uint16_t value) { return std::to_wstring(value); }
std::wstring ValueText(uint32_t value) { return std::to_wstring(static_cast<int32_t>(value)); }
std::wstring ValueText(double value) {
  char text[512];
  snprintf(text, sizeof(text), "%0.6lf", value);
  return std::wstring(text, text + strlen(text));
}
std::wstring ValueText(const std::wstring& value) { return value; }

bool ValueFromText(const std::wstring& text, bool& value) {
  value = DecimalToInt(text) != 0;
  return true;
}
bool ValueFromText(const std::wstring& text, uint8_t& value) {
  value = static_cast<uint8_t>(DecimalToInt(text));
  return true;
}
bool ValueFromText(const std::wstring& text, uint16_t& value) {
  value = static_cast<uint16_t>(DecimalToInt(text));
  return true;
}
bool ValueFromText(const std::wstring& text, uint32_t& value) {
  value = static_cast<uint32_t>(DecimalToInt(text));
  return true;
}
bool ValueFromText(const std::wstring& text, double& value) {
  // "1e999" converts to infinity, which is written "inf": the tool reads that back as 0.
  const double converted = DecimalToDouble(text);
  if (!std::isfinite(converted)) return false;
  value = converted;
  return true;
}
bool ValueFromText(const std::wstring& text, std::wstring& value) {
  value = text;
  return true;
}

}  // namespace AuthCfg

using namespace AuthCfg;

namespace {
template <typename Option, typename T>
void Register(CfgSet& set, const char* id, T value, int32_t level, int32_t category, const wchar_t* description) {
  auto option = std::make_unique<Option>(id, &value, description);
  option->level = level;
  option->category = category;
  set.Add(std::move(option));
}
}  // namespace

CfgSet& CfgSet::ResetToDefaults() {
  Clear();
  const std::wstring none;
  Register<WStringOption>(*this, "RA", none, kBasic, 1,
                          L"Server host address or name; e.g. \"10.1.2.3\". May contain a list of hosts, see "
                          L"documentation.");
  Register<UShortOption>(*this, "RP", uint16_t{139}, kBasic, 1, L"Server host port number.");
  Register<WStringOption>(*this, "CF", none, kBasic, 4,
                          L"Path on client computer to configuration file with additional option settings - Windows "
                          L"only. (May be UNC)");
  Register<DWordOption>(*this, "LD", uint32_t{1}, kBasic, 2, L"Log verbosity level: 0 = nothing, 4 = max detail.");
  Register<WStringOption>(*this, "UQ", none, kAdvanced, 3,
                          L"Template used for generating user LDAP Distinguished Name. '%1' is replaced with raw "
                          L"username");
  Register<WStringOption>(*this, "UM", none, kAdvanced, 3,
                          L"Template used for generating computer LDAP Distinguished Name. '%1' is replaced with raw "
                          L"computer name");
  Register<UCharOption>(*this, "UT", uint8_t{255}, kAdvanced, 3,
                        L"Environment type: 255=Auto(default),0=Windows,1=Novell,2=Sun,3=OpenDir,4=AD_via_OD,5=OSX");
  Register<DWordOption>(*this, "RH", uint32_t{42000}, kAdvanced, 1,
                        L"Interval (MS) at which heartbeat pings are sent to the server");
  Register<DWordOption>(*this, "RX", uint32_t{40000}, kAdvanced, 1,
                        L"Logon timeout (MS) to receive logon ack from server after sending request");
  Register<DWordOption>(*this, "RW", uint32_t{60000}, kAdvanced, 1,
                        L"Initial retry time window size (MS) for random selection during server congestion "
                        L"mitigation");
  Register<DoubleOption>(*this, "RM", 2.0, kAdvanced, 1,
                         L"Window resize multiplier - used to expand RW window with each successive logon ack "
                         L"timeout");
  Register<BoolOption>(*this, "LE", false, kAdvanced, 2,
                       L"Use Windows event log instead of logfile (Windows only, 1 or 0)");
  Register<WStringOption>(*this, "LF", none, kAdvanced, 2, L"Log file path on client computer (Windows only)");
  Register<DWordOption>(*this, "LC", uint32_t{0xFFFFFFFF}, kAdvanced, 2,
                        L"Bitmap of logging categories to enable (Windows only.  -1 = 'all')");
  Register<DWordOption>(*this, "CR", uint32_t{0}, kAdvanced, 4, L"Revision number for this configuration data");
  Register<DWordOption>(*this, "CS", uint32_t{2}, kAdvanced, 4, L"Configuration schema ID (System-defined)");
  Register<WStringOption>(*this, "UU", none, kAdvanced, 3, L"User name override. (Ignored in release builds)");
  Register<WStringOption>(*this, "UN", none, kAdvanced, 3, L"Display name override. (Ignored in release builds)");
  Register<WStringOption>(*this, "UG", none, kAdvanced, 3, L"Group name override. (Ignored in release builds)");
  Register<WStringOption>(*this, "UD", none, kAdvanced, 3, L"Domain name override. (Ignored in release builds)");
  Register<WStringOption>(*this, "UL", none, kAdvanced, 3, L"User LDAP DN override. (Ignored in release builds)");
  Register<WStringOption>(*this, "UC", none, kAdvanced, 3, L"Computer name override. (Ignored in release builds)");
  Register<WStringOption>(*this, "WI", none, kAdvanced, 3,
                          L"Computer LDAP DN override. (Ignored in release builds)");
  return *this;
}

OptionThunkT* CfgSet::Add(OptionHolder option) {
  if (!option) return nullptr;
  options_.push_back(std::move(option));
  return options_.back().get();
}

OptionThunkT* CfgSet::Find(const char* id) const {
  if (!id || !id[0]) return nullptr;
  for (const auto& option : options_)
    if (option->id[0] == id[0] && option->id[1] == id[1]) return option.get();
  return nullptr;
}

std::wstring CfgSet::TextById(const char* id) const {
  const OptionThunkT* option = Find(id);
  return option ? option->ToText() : std::wstring();
}

CfgSet& CfgSet::CloneInto(CfgSet& target) const {
  if (&target == this) return target;
  target.Clear();
  for (const auto& option : options_) target.Add(option->Clone());
  return target;
}

bool CfgSet::Differs(const CfgSet& other) const {
  if (&other == this) return false;
  for (size_t i = 0; i < options_.size() && i < other.options_.size(); ++i)
    if (!OptionEquals(*options_[i], *other.options_[i])) return true;
  return false;
}

std::wostream& CfgSet::Dump(std::wostream& out, const CfgSet& set, bool crlf) {
  const wchar_t* e = crlf ? L"\r\n" : L"\n";
  int n = 0;
  for (const auto& option : set) {
    out << e << L"- - - - Option #" << ++n << L": - - - - - - - - - " << e << L"   Name: " << option->id[0]
        << option->id[1] << e << L"   Desc: " << option->description << e << L"   Type: " << TypeName(option->type) << e
        << L"   Value: " << option->ToText() << e << L"   Source: " << SourceName(option->source) << e;
  }
  return out;
}

bool OptionEquals(const OptionThunkT& a, const OptionThunkT& b) {
  return a.id[0] == b.id[0] && a.id[1] == b.id[1] && a.type == b.type && a.source == b.source &&
         a.ToText() == b.ToText();
}

const wchar_t* TypeName(int32_t type) {
  static const wchar_t* const kNames[] = {L"NULL", L"Bool", L"UChar", L"UShort", L"Int", L"DWord", L"Double", L"WString"};
  return type >= 0 && type <= 7 ? kNames[type] : L"INVALID TYPE!";
}

const wchar_t* CategoryName(int32_t category) {
  static const wchar_t* const kNames[] = {L"NULL", L"Server communication", L"Logging", L"User/Computer identity",
                                          L"Miscellaneous"};
  return category >= 0 && category <= 4 ? kNames[category] : L"!Unknown category!";
}

const wchar_t* SourceName(int32_t source) {
  static const wchar_t* const kNames[] = {L"Default", L"Config file", L"Registry", L"Command line", L"Editor"};
  return source >= 1 && source <= 5 ? kNames[source - 1] : L"Unknown source!";
}
