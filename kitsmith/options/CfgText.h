// The configuration language: entries ID[value]{extra}; its reader and writer over a CfgSet,
// and the decoding of a file's bytes into its text. Plain C++, so that the native fuzzer
// builds it too; the files themselves are CfgFile.h's.
#pragma once

#include "options/AuthCfg.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

struct CfgEntry {
  bool ok = false;
  bool endOfText = false;
  std::wstring error;
  char id[3] = {};
  std::wstring value;
  std::wstring extra;
  size_t next = 0;  // position after the entry
};

// An entry whose value its option would not take: the option keeps the value it had.
struct CfgRefusal {
  char id[3] = {};
  std::wstring value;
};

// One parse of a NUL-terminated text into a set that holds its options already. A value an
// option refuses does not stop it: the entry is listed in `refused` and the parse goes on.
class CfgParser {
 public:
  CfgParser(CfgSet& set, const wchar_t* text, int32_t source);

  CfgEntry ParseEntry(size_t position) const;

  int32_t count = 0;
  bool success = false;
  std::wstring error;
  std::wostringstream warnings;
  std::vector<CfgRefusal> refused;

 private:
  CfgSet& set_;
  const wchar_t* text_;
  int32_t source_;
};

// Writes the canonical text of a set: CS[2] CR[revision], then every option not at its default.
// Each value is checked as it will be written (WritableValueProblem); when one fails, nothing
// is written and the error names the option.
class CfgWriter {
 public:
  CfgWriter(const CfgSet& set, std::ostream& out);

  bool done = false;
  std::string error;
};

// Why the agents could not read the option's value as the writer writes it, or "": a
// character the file's 8-bit text cannot hold (NUL, or above U+00FF), a "]", which would end
// the value early, or more characters than an agent reads for the key.
std::string WritableValueProblem(const AuthCfg::OptionThunkT& option);

// 0 unknown, 1 8-bit, 2 UTF-16 little-endian, 3 UTF-16 big-endian.
int DetectTextEncoding(const unsigned char* bytes, size_t length);

// A configuration file's bytes as the text the parser reads: 16-bit text in either byte order
// (without its byte-order mark), else each byte as the character of its value; up to the
// first NUL character.
std::wstring DecodeConfigText(const unsigned char* bytes, size_t length);

// The most characters that both agents' readers take in a value of the key.
size_t AgentValueLimit(const char* id);
