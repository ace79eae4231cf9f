// Reader of the directory tool's record listing: "Name: value" attributes, values
// continued on indented lines, embedded property lists stripped. Attributes of one
// directory record share a group index.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One attribute, seen in the parser's text: valid while the parser lives and reads nothing new.
struct dscl_rec {
  std::string_view name;
  std::string_view value;
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

  // Keeps every attribute read.
  dscl_parser() = default;
  // Keeps only the attributes of these names (every attribute still counts and still
  // places the groups): a listing of millions of lines costs what the few attributes asked
  // for hold, not a record per line.
  explicit dscl_parser(std::vector<std::string_view> keep) : _keep(std::move(keep)) {}

  // Reads the attributes of text in place of any earlier ones; returns their number, kept
  // or not. A text of 4 GiB or more has none.
  int parse(const char* text);
  // The same for a text the parser may take over: once attributes are found it holds the
  // text (or what is left of it once property lists are stripped) and text is left empty,
  // so that a listing of megabytes is not held twice. With none found text is left as it
  // was, cut at its first NUL as the other form reads it.
  int parse(std::string&& text);

  // Calls each with every kept attribute matching name, in order, until it answers false; a
  // group other than -1 limits the search to it.
  void find(int findType, const char* name, int32_t group, const std::function<bool(const dscl_rec&)>& each) const;
  // The first equal attribute's value in the group, or "".
  std::string get_value(const char* name, int32_t group) const;

  // Every kept attribute, in order.
  std::vector<dscl_rec> records() const;

 private:
  // Where an attribute lies in _text; its value's line feeds are already blanks.
  struct Kept {
    uint32_t name, nameLength, value, valueLength;
    int32_t group;
  };

  int parse(std::string_view text, std::string* owner);
  bool Keeps(std::string_view name) const;
  dscl_rec View(const Kept& kept) const;

  std::vector<std::string_view> _keep;
  std::string _text;
  std::vector<Kept> _records;
  int32_t _group = 0;
};
