#include "identity/dscl_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

constexpr char kPlistEnd[] = "\n</plist>\n";
// The stripped block keeps its closing line feed, so the attribute after it stays a record.
constexpr char kStripped[] = ": --stripped --\n";

// Finds needle at or after from, remembering the last hit so that a search repeated from
// further on costs nothing until it is passed: every byte is looked at about once.
class NextHit {
 public:
  NextHit(std::string_view text, const char* needle) : _text(text), _needle(needle), _at(text.find(needle)) {}
  size_t From(size_t from) {
    if (_at != std::string_view::npos && _at < from) _at = _text.find(_needle, from);
    return _at;
  }

 private:
  std::string_view _text;
  std::string_view _needle;
  size_t _at;
};

// Replaces each embedded property list, with the attribute's colon before it, by a marker.
// The result is built anew into stripped (replacing in place would move the rest of the text
// each time), and only when there is a list: a listing of megabytes is not copied for nothing.
std::string_view StripPropertyLists(std::string_view text, std::string& stripped) {
  NextHit colonList(text, ":\n <?xml"), list(text, " <?xml"), listEnd(text, kPlistEnd);
  size_t from = 0;
  for (;;) {
    size_t start = text.compare(from, 7, "\n <?xml") == 0 ? from : colonList.From(from);
    if (start == std::string_view::npos) start = list.From(from);
    const size_t end = start == std::string_view::npos ? std::string_view::npos : listEnd.From(start);
    if (end == std::string_view::npos) break;
    if (from == 0) stripped.reserve(text.size());  // never longer; grown by doubling it would be held twice
    stripped.append(text, from, start - from).append(kStripped);
    from = end + std::strlen(kPlistEnd);
  }
  if (from == 0) return text;
  stripped.append(text, from, std::string_view::npos);
  return stripped;
}

// Calls each(begin, space, value, end) for every attribute of text with a value. An
// attribute starts at a line whose first ':' is preceded only by letters and digits, or at
// a last line without a line feed that holds a ':' anywhere, and ends where the next one
// starts; its name ends before the character before the first white space, its value starts
// at the first non-white character after that.
template <class Each>
void ForEachAttribute(std::string_view text, Each&& each) {
  const auto attribute = [&](size_t begin, size_t end) {
    size_t space = begin;
    while (space < end && !IsSpace(text[space])) ++space;
    size_t value = space;
    while (value < end && IsSpace(text[value])) ++value;
    if (space != begin && value < end) each(begin, space, value, end);
  };
  size_t start = std::string_view::npos;
  for (size_t pos = 0; pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const size_t lineEnd = eol == std::string_view::npos ? text.size() : eol;
    const void* colon = std::memchr(text.data() + pos, ':', lineEnd - pos);
    if (colon &&
        (std::all_of(text.data() + pos, static_cast<const char*>(colon), IsAlnum) || eol == std::string_view::npos)) {
      if (start != std::string_view::npos) attribute(start, pos);
      start = pos;
    }
    pos = lineEnd + 1;
  }
  if (start != std::string_view::npos) attribute(start, text.size());
}

}  // namespace

void dscl_rec::debug_dump() const {
  std::printf("[%d]%s: %s\n", group, std::string(name).c_str(), std::string(value).c_str());
}

int dscl_parser::parse(const char* input) { return parse(std::string_view(input ? input : ""), nullptr); }

int dscl_parser::parse(std::string&& text) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return parse(std::string_view(text), &text);
}

bool dscl_parser::Keeps(std::string_view name) const {
  return _keep.empty() || std::find(_keep.begin(), _keep.end(), name) != _keep.end();
}

int dscl_parser::parse(std::string_view input, std::string* owner) {
  _records.clear();
  std::string().swap(_text);
  _group = 0;
  if (!input.empty() && input[0] == '\x01') {
    dscl_rec().debug_dump();
    return 0;
  }
  if (input.size() > UINT32_MAX) return 0;  // where attributes lie is kept in 32 bits
  std::string stripped;
  std::string_view text = StripPropertyLists(input, stripped);

  // Counted first, so that the room for what is kept is taken once, at its size.
  size_t count = 0, kept = 0;
  ForEachAttribute(text, [&](size_t begin, size_t space, size_t, size_t) {
    ++count;
    if (Keeps(text.substr(begin, space - 1 - begin))) ++kept;
  });
  if (count == 0) return 0;
  if (text.data() != input.data()) {
    _text = std::move(stripped);
  } else if (owner) {
    _text = std::move(*owner);
  } else {
    _text = input;
  }
  if (owner) std::string().swap(*owner);
  text = _text;

  _records.reserve(kept);
  char previous = '~';
  ForEachAttribute(text, [&](size_t begin, size_t space, size_t value, size_t end) {
    const size_t nameLength = space - 1 - begin;
    const char first = nameLength ? text[begin] : '\0';
    if ((IsLower(first) && IsUpper(previous)) || (IsUpper(first) && IsUpper(previous) && previous > first)) ++_group;
    previous = first;
    if (!Keeps(text.substr(begin, nameLength))) return;
    // A final line feed ends the value; the others become blanks, in place.
    if (_text[end - 1] == '\n') --end;
    std::replace(_text.begin() + static_cast<std::ptrdiff_t>(value), _text.begin() + static_cast<std::ptrdiff_t>(end),
                 '\n', ' ');
    _records.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(nameLength), static_cast<uint32_t>(value),
                        static_cast<uint32_t>(end - value), _group});
  });
  return static_cast<int>(count);
}

dscl_rec dscl_parser::View(const Kept& kept) const {
  const std::string_view text = _text;
  return {text.substr(kept.name, kept.nameLength), text.substr(kept.value, kept.valueLength), kept.group};
}

std::vector<dscl_rec> dscl_parser::records() const {
  std::vector<dscl_rec> all;
  all.reserve(_records.size());
  for (const Kept& kept : _records) all.push_back(View(kept));
  return all;
}

void dscl_parser::find(int findType, const char* name, int32_t group,
                       const std::function<bool(const dscl_rec&)>& each) const {
  if (findType == 0 || !name) return;
  // Group indexes never fall along the records: a group's first record is found by halving.
  auto kept = _records.begin();
  if (group != -1)
    kept = std::partition_point(_records.begin(), _records.end(), [&](const Kept& k) { return k.group < group; });
  for (; kept != _records.end(); ++kept) {
    if (group != -1 && kept->group > group) break;
    const dscl_rec rec = View(*kept);
    if (rec.name.find("/Local/Default") != std::string_view::npos) continue;
    const bool match = (findType & kFindContains) ? rec.name.find(name) != std::string_view::npos : rec.name == name;
    if (match && !each(rec)) return;
  }
}

std::string dscl_parser::get_value(const char* name, int32_t group) const {
  std::string value;
  find(kFindEqual, name, group, [&](const dscl_rec& rec) {
    value = rec.value;
    return false;
  });
  return value;
}
