// The tool's in-memory agent configuration: 23 typed options, each with its two-letter ID,
// description, level, category and the source of its current value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace AuthCfg {

enum Source : int32_t { kDefault = 1, kConfigFile = 2, kRegistry = 3, kCommandLine = 4, kEditor = 5 };
enum Level : int32_t { kBasic = 0, kAdvanced = 1 };

struct OptionBaseT {
  char id[3] = {'!', '!', '\0'};
  int32_t type = 0;
  const wchar_t* description = L"!Invalid!";
  int32_t level = 0;
  int32_t category = 0;
  int32_t source = 0;
};

class OptionThunkT : public OptionBaseT {
 public:
  virtual ~OptionThunkT() = default;
  // Converts the text and records the source; refuses (and changes nothing) only a number
  // that is not finite.
  virtual bool SetFromText(const std::wstring& text, int32_t newSource) = 0;
  virtual std::wstring ToText() const = 0;
  virtual std::unique_ptr<OptionThunkT> Clone() const = 0;

 protected:
  OptionThunkT() = default;
  OptionThunkT(const OptionThunkT&) = default;
  OptionThunkT(const char* optionId, int32_t typeCode, const wchar_t* text);
};

// Text conversions shared by the option types.
int32_t DecimalToInt(const std::wstring& text);  // clamped to the signed 32-bit range
double DecimalToDouble(const std::wstring& text);
std::wstring ValueText(bool value);
std::wstring ValueText(uint8_t value);
std::wstring ValueText(uint16_t value);
std::wstring ValueText(uint32_t value);
std::wstring ValueText(double value);
std::wstring ValueText(const std::wstring& value);
// False, and the value untouched, only for a number that is not finite (an agent would read
// its text as another number, or as none).
bool ValueFromText(const std::wstring& text, bool& value);
bool ValueFromText(const std::wstring& text, uint8_t& value);
bool ValueFromText(const std::wstring& text, uint16_t& value);
bool ValueFromText(const std::wstring& text, uint32_t& value);
bool ValueFromText(const std::wstring& text, double& value);
bool ValueFromText(const std::wstring& text, std::wstring& value);

// An option holding a T; its type code is N + 1.
template <typename T, int N>
class OptionT : public OptionThunkT {
 public:
  OptionT(const char* optionId, const T* defaultValue, const wchar_t* text)
      : OptionThunkT(optionId, N + 1, text), value(defaultValue ? *defaultValue : T()) {}

  bool SetFromText(const std::wstring& text, int32_t newSource) override {
    if (!ValueFromText(text, value)) return false;
    source = newSource;
    return true;
  }
  std::wstring ToText() const override { return ValueText(value); }
  std::unique_ptr<OptionThunkT> Clone() const override { return std::make_unique<OptionT>(*this); }

  T value;
};

using BoolOption = OptionT<bool, 0>;
using UCharOption = OptionT<uint8_t, 1>;
using UShortOption = OptionT<uint16_t, 2>;
using DWordOption = OptionT<uint32_t, 4>;
using DoubleOption = OptionT<double, 5>;
using WStringOption = OptionT<std::wstring, 6>;

}  // namespace AuthCfg

// The option set: owns its options, in registration order.
class CfgSet {
 public:
  using OptionHolder = std::unique_ptr<AuthCfg::OptionThunkT>;

  CfgSet() = default;
  CfgSet(const CfgSet&) = delete;
  CfgSet& operator=(const CfgSet&) = delete;

  // Frees every option and registers the 23 options with their defaults.
  CfgSet& ResetToDefaults();
  AuthCfg::OptionThunkT* Add(OptionHolder option);
  void Clear() { options_.clear(); }
  // The first option with exactly these two ID characters, or null.
  AuthCfg::OptionThunkT* Find(const char* id) const;
  std::wstring TextById(const char* id) const;
  // Replaces the target's options with clones of these.
  CfgSet& CloneInto(CfgSet& target) const;
  // True at the first pair, walked in step, that is not equal; a shorter set alone is no difference.
  bool Differs(const CfgSet& other) const;

  // A readable listing of every option, lines ended by CR LF or LF.
  static std::wostream& Dump(std::wostream& out, const CfgSet& set, bool crlf);

  size_t Size() const { return options_.size(); }
  bool Empty() const { return options_.empty(); }
  auto begin() const { return options_.begin(); }
  auto end() const { return options_.end(); }

 private:
  std::vector<OptionHolder> options_;
};

// Same ID, type, source and text.
bool OptionEquals(const AuthCfg::OptionThunkT& a, const AuthCfg::OptionThunkT& b);
const wchar_t* TypeName(int32_t type);
const wchar_t* CategoryName(int32_t category);
const wchar_t* SourceName(int32_t source);
