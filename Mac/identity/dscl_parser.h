// Reader of the directory tool's record listing: "Name: value" attributes, values
// continued on indented lines, embedded property lists stripped. Attributes of one
// directory record share a group index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct dscl_rec {
  std::string name;
  std::string value;
  int32_t group = 0;

  // "[group]name: value" on standard output.
  void debug_dump() const;
};

class dscl_parser {
 public:
  // find types: bit 0x2000 matches names containing the name; other non-zero types
  // match equal names; 0 matches nothing.
  static constexpr int kFindEqual = 1;
  static constexpr int kFindContains = 0x2000;

  // Reads the records of text in place of any earlier ones; returns their number.
  int parse(const char* text);
  // The same for a text the parser may let go of: once records are found, text is emptied
  // and its memory freed, so that a listing of megabytes is not held twice. With no records
  // it is left as it was, cut at its first NUL as the other form reads it.
  int parse(std::string&& text);
  // Records matching name, in order; a group other than -1 limits the search to it.
  std::vector<const dscl_rec*> find(int findType, const char* name, int32_t group) const;
  // The first equal record's value in the group, or "".
  std::string get_value(const char* name, int32_t group) const;

  const std::vector<dscl_rec>& records() const { return _records; }

 private:
  int parse(std::string_view text, std::string* owner);

  std::vector<dscl_rec> _records;
  int32_t _group = 0;
};
