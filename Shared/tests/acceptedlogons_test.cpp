#include <gtest/gtest.h>

#include <string>

#include "AcceptedLogons.h"

namespace {

// Successive logons of one process: whether each begins with a logoff, and which are
// acknowledged after it.
template <class Text>
void RunLogonTable(Text (*text)(const char*)) {
  struct Step {
    const char* peer;
    const char* local;
    uint32_t hash;
    bool ack;
    bool logoff;
  } steps[] = {
      {"10.1.0.1", "10.0.0.5", 7, true, true},    // nothing known yet
      {"10.1.0.1", "10.0.0.5", 7, false, false},  // the same logon again
      {"10.1.0.1", "10.0.0.6", 7, false, true},   // another local address
      {"10.1.0.1", "10.0.0.5", 8, true, true},    // another identity; its ack replaces nothing
      {"10.1.0.1", "10.0.0.5", 8, false, true},
      {"10.1.0.1", "10.0.0.5", 7, false, false},  // the first acknowledged one still counts
      {"10.1.0.2", "10.0.0.5", 7, false, true},   // each appliance on its own
      {"10.1.0.2", "10.0.0.5", 7, true, true},
      {"10.1.0.2", "10.0.0.5", 7, false, false},
      {"10.1.0.1", "10.0.0.5", 7, false, false},  // ... and the other one is untouched by it
  };
  AcceptedLogons<Text> accepted;
  for (const Step& s : steps) {
    EXPECT_EQ(LogoffBeforeLogon(accepted, text(s.peer), text(s.local), s.hash), s.logoff)
        << s.peer << " " << s.local << " " << s.hash;
    if (s.ack) RecordAcceptedLogon(accepted, text(s.peer), text(s.local), s.hash);
  }
  ASSERT_EQ(accepted.size(), 2u);
  const AcceptedLogon<Text>& first = accepted.at(text("10.1.0.1"));
  EXPECT_EQ(first.peer, text("10.1.0.1"));
  EXPECT_EQ(first.local, text("10.0.0.5"));
  EXPECT_EQ(first.hash, 7u);
}

TEST(AcceptedLogons, OnlyTheFirstAcknowledgedLogonOfAnApplianceSavesTheLogoff) {
  RunLogonTable<std::string>([](const char* s) { return std::string(s); });
  RunLogonTable<std::wstring>([](const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); });
}

}  // namespace
