// The configuration language: entries ID[value]{extra}; its reader and writer over a CfgSet,
// and the loading and saving of configuration files.
#pragma once

#include "options/AuthCfg.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

struct CfgEntry {
  bool ok = false;
  bool endOfText = false;
  std::wstring error;
  char id[3] = {};
  std::wstring value;
  std::wstring extra;
  size_t next = 0;  // position after the entry
};

// One parse of a NUL-terminated text into a set that holds its options already.
class CfgParser {
 public:
  CfgParser(CfgSet& set, const wchar_t* text, int32_t source);

  CfgEntry ParseEntry(size_t position) const;

  int32_t count = 0;
  bool success = false;
  std::wstring error;
  std::wostringstream warnings;

 private:
  CfgSet& set_;
  const wchar_t* text_;
  int32_t source_;
};

// Writes the canonical text of a set: CS[2] CR[revision], then every option not at its default.
// A value holding "]" cannot be written: the writer stops with an error naming the option.
class CfgWriter {
 public:
  CfgWriter(const CfgSet& set, std::ostream& out);

  bool done = false;
  std::string error;
};

// 0 unknown, 1 8-bit, 2 UTF-16 little-endian, 3 UTF-16 big-endian.
int DetectTextEncoding(const unsigned char* bytes, size_t length);

// The most characters that both agents' readers take in a value of the key.
size_t AgentValueLimit(const char* id);

class CfgFile {
 public:
  // Resets the set to defaults and loads the file into it (source Config file); a file that
  // cannot be read leaves the set as it was.
  struct Load {
    Load(CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
  };
  // Writes the set's text to the file through a temporary file beside it, so that a failed
  // save leaves the old file whole.
  struct Save {
    Save(const CfgSet& set, const std::wstring& path);
    Save(const CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
  };
};
