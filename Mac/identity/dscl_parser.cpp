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
    stripped.append(text, from, start - from).append(kStripped);
    from = end + std::strlen(kPlistEnd);
  }
  if (from == 0) return text;
  stripped.append(text, from, std::string_view::npos);
  return stripped;
}

// A record starts at a line whose first ':' is preceded only by letters and digits, or
// at a last line without a line feed that holds a ':' anywhere.
std::vector<size_t> RecordStarts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const size_t lineEnd = eol == std::string_view::npos ? text.size() : eol;
    const void* colon = std::memchr(text.data() + pos, ':', lineEnd - pos);
    if (colon) {
      const char* first = text.data() + pos;
      const bool alnum = std::all_of(first, static_cast<const char*>(colon), IsAlnum);
      if (alnum || eol == std::string_view::npos) starts.push_back(pos);
    }
    pos = lineEnd + 1;
  }
  return starts;
}

}  // namespace

void dscl_rec::debug_dump() const { std::printf("[%d]%s: %s\n", group, name.c_str(), value.c_str()); }

int dscl_parser::parse(const char* input) { return parse(std::string_view(input ? input : ""), nullptr); }

int dscl_parser::parse(std::string&& text) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return parse(std::string_view(text), &text);
}

int dscl_parser::parse(std::string_view input, std::string* owner) {
  _records.clear();
  _group = 0;
  if (!input.empty() && input[0] == '\x01') {
    dscl_rec().debug_dump();
    return 0;
  }
  std::string stripped;
  const std::string_view text = StripPropertyLists(input, stripped);

  // Where each record's name and value lie, found before anything is copied.
  struct Span {
    size_t begin, space, value, end;
  };
  std::vector<Span> spans;
  const std::vector<size_t> starts = RecordStarts(text);
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t begin = starts[k];
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : text.size();
    size_t space = begin;
    while (space < end && !IsSpace(text[space])) ++space;
    size_t value = space;
    while (value < end && IsSpace(text[value])) ++value;
    if (space == begin || value >= end) continue;  // no value
    spans.push_back({begin, space, value, end});
  }
  if (spans.empty()) return 0;
  // The values are copied out of the stripped text: the listing itself is needed no more.
  if (owner && !stripped.empty()) std::string().swap(*owner);

  _records.reserve(spans.size());
  char previous = '~';
  for (const Span& span : spans) {
    dscl_rec rec;
    rec.name = text.substr(span.begin, span.space - 1 - span.begin);
    rec.value = text.substr(span.value, span.end - span.value);
    if (!rec.value.empty() && rec.value.back() == '\n') rec.value.pop_back();
    for (char& c : rec.value)
      if (c == '\n') c = ' ';

    const char first = rec.name.empty() ? '\0' : rec.name[0];
    if ((IsLower(first) && IsUpper(previous)) || (IsUpper(first) && IsUpper(previous) && previous > first)) ++_group;
    previous = first;
    rec.group = _group;
    _records.push_back(std::move(rec));
  }
  if (owner) std::string().swap(*owner);
  return static_cast<int>(_records.size());
}

std::vector<const dscl_rec*> dscl_parser::find(int findType, const char* name, int32_t group) const {
  std::vector<const dscl_rec*> found;
  if (findType == 0 || !name) return found;
  // Group indexes never fall along the records: a group's first record is found by halving.
  auto rec = _records.begin();
  if (group != -1)
    rec = std::partition_point(_records.begin(), _records.end(), [&](const dscl_rec& r) { return r.group < group; });
  for (; rec != _records.end(); ++rec) {
    if (group != -1 && rec->group > group) break;
    if (rec->name.find("/Local/Default") != std::string::npos) continue;
    const bool match = (findType & kFindContains) ? rec->name.find(name) != std::string::npos : rec->name == name;
    if (match) found.push_back(&*rec);
  }
  return found;
}

std::string dscl_parser::get_value(const char* name, int32_t group) const {
  const std::vector<const dscl_rec*> found = find(kFindEqual, name, group);
  return found.empty() ? std::string() : found.front()->value;
}
