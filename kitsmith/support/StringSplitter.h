// Small 8-bit text helpers: the splitter at a delimiter, a trailing character, printf-style text.
#pragma once

#include <string>

class StringSplitter {
 public:
  enum : unsigned { kTrimRight = 1, kTrimLeft = 2 };

  StringSplitter() = default;
  StringSplitter(const std::string& text, const std::string& delimiter, unsigned flags = 0, bool fromEnd = false) {
    Split(text, delimiter, flags, fromEnd);
  }
  // Left: before the delimiter (the whole text when it is missing); right: after it.
  void Split(const std::string& text, const std::string& delimiter, unsigned flags = 0, bool fromEnd = false);

  const std::string& Left() const { return left_; }
  const std::string& Right() const { return right_; }
  bool Found() const { return position_ != -1; }

 private:
  std::string left_;
  std::string right_;
  long long position_ = -1;
};

// Leading and trailing blanks, tabs, backspaces, CR and LF removed.
std::string TrimBlanks(const std::string& text);
// The text, with c appended unless it already ends with it.
std::string EnsureTrailingChar(const std::string& text, char c);
// printf-style, at most 16383 characters; empty for a null or empty format.
std::string FormatText(const char* format, ...);
