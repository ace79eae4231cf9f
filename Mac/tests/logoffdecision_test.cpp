// Its own program: the record of acknowledged logons lives as long as the process.
#include <gtest/gtest.h>

#include "AuthFsmFixture.h"

namespace {

TEST(LogoffDecision, FirstAcknowledgedLogonPerApplianceDecides) {
  struct Step {
    const char* peer;
    const char* local;
    uint32_t hash;
    bool ack;            // acknowledge after asking
    bool expectLogoff;
  } steps[] = {
      {"10.1.0.1", "10.0.0.5", 7, true, true},    // nothing known yet
      {"10.1.0.1", "10.0.0.5", 7, false, false},  // the same logon again
      {"10.1.0.1", "10.0.0.6", 7, false, true},   // another local address
      {"10.1.0.1", "10.0.0.5", 8, true, true},    // another identity; its ack changes nothing
      {"10.1.0.1", "10.0.0.5", 8, false, true},
      {"10.1.0.1", "10.0.0.5", 7, false, false},  // the first acknowledged one still counts
      {"10.1.0.2", "10.0.0.5", 7, false, true},   // each appliance on its own
  };
  for (const Step& s : steps) {
    EXPECT_EQ(LogoffDecision::SendLogoff(s.peer, s.local, s.hash), s.expectLogoff) << s.peer << " " << s.local << " "
                                                                                   << s.hash;
    if (s.ack) LogoffDecision::OnServerLogonAck(s.peer, s.local, s.hash);
  }
  ASSERT_NE(LogoffDecision::find("10.1.0.1"), nullptr);
  EXPECT_EQ(LogoffDecision::find("10.1.0.1")->hash, 7u);
  EXPECT_EQ(LogoffDecision::find("10.9.9.9"), nullptr);
}

TEST_F(AuthFsmTest, LogoffPrecedesALogonUnlessTheSameOneWasAcknowledged) {
  ApplianceProcess appliance({"--port", "0"});
  const auto logOn = [&](const char* user, int logons) {
    SetIdentity(user, "CORP", "CN=user,DC=corp");
    RefxPtr<AuthFSM_Outer> outer = Start(appliance.Port());
    ASSERT_TRUE(Pump(&appliance, [&] { return Count("LGON") == logons; }));
    ASSERT_TRUE(Pump(&appliance, [&] { return outer->state() == AuthFSM_Outer::ST_Connected &&
                                             log.Matching("event EV_LogonAckRx").size() == static_cast<size_t>(logons); }));
    outer->onEvent(EV_AppTerminate, nullptr);
  };
  logOn("alice", 1);
  logOn("alice", 2);
  logOn("bob", 3);
  const std::vector<std::string> expected = {"LGOF", "LGON", "LGON", "LGOF", "LGON"};
  EXPECT_EQ(Commands(), expected);
}

}  // namespace
