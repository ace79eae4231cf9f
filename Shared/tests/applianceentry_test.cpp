#include <gtest/gtest.h>

#include <string>

#include "ApplianceEntry.h"

namespace {

constexpr uint16_t kDefault = 139;
constexpr int kBad = -1;  // no usable address

TEST(ApplianceEntry, HostAndPortUnderBothRules) {
  struct Row {
    const char* entry;
    int digits;  // port under EntryPort::Digits, or kBad
    int atoi;    // port under EntryPort::Atoi, or kBad
    const char* host;
  } rows[] = {
      {"10.0.0.1", kDefault, kDefault, "10.0.0.1"},
      {"filter.example:8080", 8080, 8080, "filter.example"},
      {"10.0.0.1:1", 1, 1, "10.0.0.1"},
      {"10.0.0.1:65535", 65535, 65535, "10.0.0.1"},
      {"10.0.0.1:00080", 80, 80, "10.0.0.1"},
      {"10.0.0.1:0", kBad, kDefault, "10.0.0.1"},
      {"10.0.0.1:", kBad, kDefault, "10.0.0.1"},
      {"10.0.0.1:x", kBad, kDefault, "10.0.0.1"},
      {"10.0.0.1:80x", kBad, 80, "10.0.0.1"},
      {"10.0.0.1:80:90", kBad, 80, "10.0.0.1"},
      {"10.0.0.1:+81", kBad, 81, "10.0.0.1"},
      {"10.0.0.1:-0", kBad, kDefault, "10.0.0.1"},
      {"10.0.0.1:-80", kBad, kBad, ""},
      {"10.0.0.1:65536", kBad, kBad, ""},
      {"127.0.0.1:109173", kBad, kBad, ""},  // not port 43637
      {"10.0.0.1:99999999999999999999", kBad, kBad, ""},
      {":8080", kBad, kBad, ""},
      {":", kBad, kBad, ""},
      {"", kBad, kBad, ""},
      // Blanks and tabs around host and port are no part of them.
      {" filter2.example.com", kDefault, kDefault, "filter2.example.com"},
      {"\t10.1.2.3 \t", kDefault, kDefault, "10.1.2.3"},
      {"  filter.example : 8080\t", 8080, 8080, "filter.example"},
      {"filter.example:\t80 ", 80, 80, "filter.example"},
      {"filter.example: ", kBad, kDefault, "filter.example"},
      {"filter.example:8 0", kBad, 8, "filter.example"},
      {"filter two", kDefault, kDefault, "filter two"},  // inside the host it stays
      {"\n10.1.2.3", kDefault, kDefault, "\n10.1.2.3"},   // only blanks and tabs go
      {" \t:80", kBad, kBad, ""},
      {" \t ", kBad, kBad, ""},
  };
  for (const Row& row : rows) {
    for (const EntryPort rule : {EntryPort::Digits, EntryPort::Atoi}) {
      const int port = rule == EntryPort::Digits ? row.digits : row.atoi;
      SCOPED_TRACE(std::string(row.entry) + (rule == EntryPort::Digits ? " (digits)" : " (atoi)"));
      const auto narrow = ParseApplianceEntry(std::string_view(row.entry), kDefault, rule);
      const std::string text(row.entry);
      const auto wide = ParseApplianceEntry(std::wstring(text.begin(), text.end()), kDefault, rule);
      ASSERT_EQ(narrow.has_value(), port != kBad);
      ASSERT_EQ(wide.has_value(), port != kBad);
      if (port == kBad) continue;
      EXPECT_EQ(narrow->host, row.host);
      EXPECT_EQ(narrow->port, port);
      const std::string host(row.host);
      EXPECT_EQ(wide->host, std::wstring(host.begin(), host.end()));
      EXPECT_EQ(wide->port, port);
    }
  }
}

TEST(ApplianceEntry, BlankEntries) {
  for (const char* entry : {"", " ", "\t \t"}) {
    EXPECT_TRUE(IsBlankEntry(std::string_view(entry))) << entry;
    const std::string text(entry);
    EXPECT_TRUE(IsBlankEntry(std::wstring(text.begin(), text.end()))) << entry;
  }
  for (const char* entry : {" a ", ":", "\n"}) EXPECT_FALSE(IsBlankEntry(std::string_view(entry))) << entry;
}

}  // namespace
