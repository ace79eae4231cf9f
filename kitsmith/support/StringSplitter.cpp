#include "support/StringSplitter.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
constexpr char kBlanks[] = " \t\b\r\n";
constexpr size_t kFormatBuffer = 16384;
}  // namespace

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

void StringSplitter::Split(const std::string& text, const std::string& delimiter, unsigned flags, bool fromEnd) {
  left_.clear();
  right_.clear();
  position_ = -1;
  if (text.empty()) return;
  const size_t at = delimiter.empty() ? std::string::npos : fromEnd ? text.rfind(delimiter) : text.find(delimiter);
  if (at == std::string::npos) {
    left_ = text;
  } else {
    position_ = static_cast<long long>(at);
    left_ = text.substr(0, at);
    right_ = text.substr(at + delimiter.size());
  }
  if (flags & kTrimRight) right_ = TrimBlanks(right_);
  if (flags & kTrimLeft) left_ = TrimBlanks(left_);
}

std::string EnsureTrailingChar(const std::string& text, char c) {
  if (!text.empty() && text.back() == c) return text;
  return text + c;
}

std::string FormatText(const char* format, ...) {
  if (!format || !*format) return {};
  std::vector<char> buffer(kFormatBuffer);
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  if (written < 0) return {};
  buffer.back() = 0;
  return buffer.data();
}
