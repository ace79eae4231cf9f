#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ServiceMode.h"
#include "client/AuthFSM_Inner.h"
#include "client/AuthFSM_Outer.h"
#include "client/AuthFsmOwner.h"
#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

using O = AuthFSM_OuterIds;
using I = AuthFSM_InnerIds;

// What the machines did, in order: owner calls and the trace lines (as written to the log).
std::vector<std::string>* g_journal = nullptr;

void Note(const std::string& entry) {
  if (g_journal) g_journal->push_back(entry);
}

void RecordExit(DWORD delayMs) { Note("Exit(" + std::to_string(delayMs) + ")"); }

struct Answers {
  bool identity = true;
  bool logonStartOk = true;
  bool receiveOk = true;
  bool identityChanged = false;
  bool heartbeatOk = true;
  bool connectFailsAtOnce = false;  // Connect reports the loss from inside itself
  UINT heartbeatPeriod = 4321;
};

class RecordingOwner : public AuthFsmOwner {
 public:
  Answers answers;
  AuthFSM_Outer* outer = nullptr;
  uint32_t counter = 0;

  const wchar_t* InstanceText() override { return L"(7) "; }
  bool HasUserIdentity() override { return answers.identity; }
  void Connect() override {
    Note("Connect");
    if (answers.connectFailsAtOnce) outer->onEvent(O::EV_V7kConnectionLost);
  }
  void Close() override { Note("Close"); }
  void SelectReadClose() override { Note("SelectReadClose"); }
  bool LogonStart() override {
    Note("LogonStart");
    return answers.logonStartOk;
  }
  HRESULT SendLogoff() override {
    Note("SendLogoff");
    return S_OK;
  }
  uint32_t AdvanceHeartbeatCounter() override {
    counter += 250;
    return counter;
  }
  HRESULT SendHeartbeat(uint32_t value) override {
    Note("SendHeartbeat(" + std::to_string(value) + ")");
    return answers.heartbeatOk ? S_OK : E_FAIL;
  }
  bool Receive() override {
    Note("Receive");
    return answers.receiveOk;
  }
  void RecordLogon() override { Note("RecordLogon"); }
  bool IdentityCheck() override {
    Note("IdentityCheck");
    return answers.identityChanged;
  }
  void RetryAfterLoss() override { Note("RetryAfterLoss"); }
  void RetryAfterAckTimeout() override { Note("RetryAfterAckTimeout"); }
  void ThreadEnd() override { Note("ThreadEnd"); }
  void ArmTimer(V7kTimerId id, UINT ms) override {
    Note("ArmTimer(" + std::to_string(id) + "," + std::to_string(ms) + ")");
  }
  void StopTimer(V7kTimerId id) override { Note("StopTimer(" + std::to_string(id) + ")"); }
  UINT HeartbeatPeriod() override { return answers.heartbeatPeriod; }
  void Pause(DWORD ms) override { Note("Pause(" + std::to_string(ms) + ")"); }
  void ServiceModeExit(DWORD ms) override {
    if (IsServiceMode()) RecordExit(ms);
  }
};

// Where the machines stand before the event under test, reached through events.
enum class Start {
  Init,
  Connecting,
  AckPending,       // Outer ST_Connected, Inner ST_LogonAckPending
  Heartbeat,        // Outer ST_Connected, Inner ST_HeartbeatPending
  OuterDead,        // from ST_Init by EV_Shutdown
  InnerAckPending,  // events straight to the Inner while the Outer stays in ST_Init
  InnerDead,
};

void Reach(Start start, AuthFSM_Outer& outer, AuthFSM_Inner& inner) {
  switch (start) {
    case Start::Init:
      break;
    case Start::Connecting:
      outer.onEvent(O::EV_V7kConnectReq);
      break;
    case Start::AckPending:
      outer.onEvent(O::EV_V7kConnectReq);
      outer.onEvent(O::EV_V7kConnected);
      break;
    case Start::Heartbeat:
      Reach(Start::AckPending, outer, inner);
      outer.onEvent(O::EV_V7kRxData);
      break;
    case Start::OuterDead:
      outer.onEvent(O::EV_Shutdown);
      break;
    case Start::InnerAckPending:
      inner.onEvent(I::EV_Start);
      break;
    case Start::InnerDead:
      inner.onEvent(I::EV_Start);
      inner.onEvent(I::EV_LogonAckTimeout);
      break;
  }
}

class AuthFsmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogPathOverride(log_ / L"fsm.log");
    SetDebuggerQuery([] { return true; });  // every line passes the filter
    SetTraceCapture([](int, const std::wstring& line) { Note(Narrow(line)); });
    g_journal = &journal_;
  }
  void TearDown() override {
    g_journal = nullptr;
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetServiceMode(false);
    SetLogPathOverride(L"");
  }

  ScratchDir log_;
  std::vector<std::string> journal_;
};

const std::string kFsm = "AuthFSM:(7) ";
std::string OuterLine(const std::string& rest) {
  return kFsm + "Outer => : state change, event " + rest;
}
std::string InnerLine(const std::string& rest) {
  return kFsm + "Inner => : state change, event " + rest;
}

const std::vector<std::string> kResetInner = {"StopTimer(105)", "StopTimer(102)"};

std::vector<std::string> Seq(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(AuthFsmTest, TransitionTable) {
  enum Target { kOuter, kInner };
  struct Case {
    const char* what;
    Start start;
    Target target;
    int32_t event;
    Answers answers;
    bool serviceMode;
    std::vector<std::string> journal;
    int32_t outerAfter;
    int32_t innerAfter;
  };
  const Answers ok;
  Answers noIdentity;
  noIdentity.identity = false;
  Answers connectFails;
  connectFails.connectFailsAtOnce = true;
  Answers logonFails;
  logonFails.logonStartOk = false;
  Answers badReply;
  badReply.receiveOk = false;
  Answers changed;
  changed.identityChanged = true;
  Answers beatFails;
  beatFails.heartbeatOk = false;
  Answers noHeartbeat;
  noHeartbeat.heartbeatPeriod = 0;

  const std::vector<std::string> deadEntry = Seq({kResetInner, {"Close", "ThreadEnd"}});

  const Case cases[] = {
      {"connect request with an identity",
       Start::Init,
       kOuter,
       O::EV_V7kConnectReq,
       ok,
       false,
       {"Connect", OuterLine("EV_V7kConnectReq [ST_Init]=>[ST_Connecting] :0")},
       O::ST_Connecting,
       I::ST_Init},
      {"connect request without identity waits 5 s",
       Start::Init,
       kOuter,
       O::EV_V7kConnectReq,
       noIdentity,
       false,
       {"V7kClient:(7) No user identity currently loaded.", "ArmTimer(106,5000)",
        OuterLine("EV_V7kConnectReq, no change [ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"connecting is set before Connect runs",
       Start::Init,
       kOuter,
       O::EV_V7kConnectReq,
       connectFails,
       false,
       {"Connect", "Close", "RetryAfterLoss",
        OuterLine("EV_V7kConnectionLost [ST_Connecting]=>[ST_Init] :1"),
        OuterLine("EV_V7kConnectReq, no change [ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"shutdown before any connection", Start::Init, kOuter, O::EV_Shutdown, ok, false,
       Seq({deadEntry, {OuterLine("EV_Shutdown [ST_Init]=>[ST_Dead] :0")}}), O::ST_Dead,
       I::ST_Init},
      {"unlisted event in ST_Init",
       Start::Init,
       kOuter,
       O::EV_V7kConnectionLost,
       ok,
       false,
       {OuterLine("EV_V7kConnectionLost, no change [ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"unnamed number",
       Start::Init,
       kOuter,
       3104,
       ok,
       false,
       {OuterLine("EV_UNKNOWN_3104, no change [ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"the Outer does not name the Inner's events",
       Start::Init,
       kOuter,
       I::EV_Start,
       ok,
       false,
       {OuterLine("EV_UNKNOWN_2100, no change [ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"connect lost",
       Start::Connecting,
       kOuter,
       O::EV_V7kConnectionLost,
       ok,
       false,
       {"Close", "RetryAfterLoss", OuterLine("EV_V7kConnectionLost [ST_Connecting]=>[ST_Init] :0")},
       O::ST_Init,
       I::ST_Init},
      {"connected starts the logon",
       Start::Connecting,
       kOuter,
       O::EV_V7kConnected,
       ok,
       false,
       {"SelectReadClose", "LogonStart", InnerLine("EV_Start [ST_Init]=>[ST_LogonAckPending] :0"),
        OuterLine("EV_V7kConnected [ST_Connecting]=>[ST_Connected] :0")},
       O::ST_Connected,
       I::ST_LogonAckPending},
      {"failed logon send resets the Inner", Start::Connecting, kOuter, O::EV_V7kConnected,
       logonFails, false,
       Seq({{"SelectReadClose", "LogonStart"},
            kResetInner,
            {"Close", "RetryAfterLoss"},
            {OuterLine("EV_V7kConnectionLost [ST_Connected]=>[ST_Init] :1"),
             InnerLine("EV_Start, no change [ST_Init] :0"),
             OuterLine("EV_V7kConnected [ST_Connecting]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"shutdown while connecting", Start::Connecting, kOuter, O::EV_Shutdown, ok, false,
       Seq({{"Close"}, deadEntry, {OuterLine("EV_Shutdown [ST_Connecting]=>[ST_Dead] :0")}}),
       O::ST_Dead, I::ST_Init},
      {"accepting reply",
       Start::AckPending,
       kOuter,
       O::EV_V7kRxData,
       ok,
       false,
       {"Receive", "RecordLogon", "ArmTimer(102,4321)",
        InnerLine("EV_LogonAckRx [ST_LogonAckPending]=>[ST_HeartbeatPending] :1"),
        InnerLine("EV_TcpDataRx [ST_LogonAckPending]=>[ST_HeartbeatPending] :0"),
        OuterLine("EV_V7kRxData, no change [ST_Connected] :0")},
       O::ST_Connected,
       I::ST_HeartbeatPending},
      {"accepting reply with a heartbeat period of 0 arms no heartbeat",
       Start::AckPending,
       kOuter,
       O::EV_V7kRxData,
       noHeartbeat,
       false,
       {"Receive", "RecordLogon", InnerLine("EV_LogonAckRx [ST_LogonAckPending]=>[ST_HeartbeatPending] :1"),
        InnerLine("EV_TcpDataRx [ST_LogonAckPending]=>[ST_HeartbeatPending] :0"),
        OuterLine("EV_V7kRxData, no change [ST_Connected] :0")},
       O::ST_Connected,
       I::ST_HeartbeatPending},
      {"refused reply goes back to the Outer", Start::AckPending, kOuter, O::EV_V7kRxData, badReply,
       false,
       Seq({{"Receive"},
            kResetInner,
            {"Close", "RetryAfterLoss"},
            {OuterLine("EV_V7kProtoFail [ST_Connected]=>[ST_Init] :1"),
             InnerLine("EV_ProtoFail [ST_LogonAckPending]=>[ST_Init] :1"),
             InnerLine("EV_TcpDataRx [ST_LogonAckPending]=>[ST_Init] :0"),
             OuterLine("EV_V7kRxData [ST_Connected]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"connection lost", Start::Heartbeat, kOuter, O::EV_V7kConnectionLost, ok, false,
       Seq({kResetInner,
            {"Close", "RetryAfterLoss",
             OuterLine("EV_V7kConnectionLost [ST_Connected]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"protocol failure", Start::AckPending, kOuter, O::EV_V7kProtoFail, ok, false,
       Seq({kResetInner,
            {"Close", "RetryAfterLoss",
             OuterLine("EV_V7kProtoFail [ST_Connected]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"ack timeout at the Outer", Start::AckPending, kOuter, O::EV_V7kLogonAckTimeout, ok, false,
       Seq({kResetInner,
            {"Close", "RetryAfterAckTimeout",
             OuterLine("EV_V7kLogonAckTimeout [ST_Connected]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"ack timeout at the Inner", Start::AckPending, kInner, I::EV_LogonAckTimeout, ok, false,
       Seq({kResetInner,
            {"Close", "RetryAfterAckTimeout",
             OuterLine("EV_V7kLogonAckTimeout [ST_Connected]=>[ST_Init] :0"),
             InnerLine("EV_LogonAckTimeout [ST_LogonAckPending]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"identity unchanged",
       Start::Heartbeat,
       kOuter,
       O::EV_UserIdentCheck,
       ok,
       false,
       {"IdentityCheck", OuterLine("EV_UserIdentCheck, no change [ST_Connected] :0")},
       O::ST_Connected,
       I::ST_HeartbeatPending},
      {"identity changed while the ack is pending: one logoff, one end", Start::AckPending, kOuter,
       O::EV_UserIdentCheck, changed, false,
       Seq({{"IdentityCheck", "SendLogoff", "Pause(1000)",
             InnerLine("EV_LogoffReq [ST_LogonAckPending]=>[ST_Dead] :0")},
            deadEntry,
            {OuterLine("EV_Shutdown [ST_Connected]=>[ST_Dead] :1"),
             OuterLine("EV_UserIdentCheck [ST_Connected]=>[ST_Dead] :0")}}),
       O::ST_Dead, I::ST_Init},
      {"shutdown while heartbeating sends no logoff", Start::Heartbeat, kOuter, O::EV_Shutdown, ok,
       false,
       Seq({{InnerLine("EV_LogoffReq [ST_HeartbeatPending]=>[ST_Dead] :0")},
            deadEntry,
            {OuterLine("EV_Shutdown [ST_Connected]=>[ST_Dead] :0")}}),
       O::ST_Dead, I::ST_Init},
      {"shutdown while the ack is pending", Start::AckPending, kOuter, O::EV_Shutdown, ok, false,
       Seq({{"SendLogoff", "Pause(1000)",
             InnerLine("EV_LogoffReq [ST_LogonAckPending]=>[ST_Dead] :0")},
            deadEntry,
            {OuterLine("EV_Shutdown [ST_Connected]=>[ST_Dead] :0")}}),
       O::ST_Dead, I::ST_Init},
      {"event at the dead Outer in a session", Start::OuterDead, kOuter, O::EV_V7kConnectReq, ok,
       false, Seq({deadEntry, {OuterLine("EV_V7kConnectReq, no change [ST_Dead] :0")}}), O::ST_Dead,
       I::ST_Init},
      {"event at the dead Outer in service mode", Start::OuterDead, kOuter, O::EV_V7kRxData, ok,
       true, Seq({deadEntry, {"Exit(5000)", OuterLine("EV_V7kRxData, no change [ST_Dead] :0")}}),
       O::ST_Dead, I::ST_Init},
      {"heartbeat",
       Start::Heartbeat,
       kInner,
       I::EV_HeartbeatTimer,
       ok,
       false,
       {"SendHeartbeat(250)", InnerLine("EV_HeartbeatTimer, no change [ST_HeartbeatPending] :0")},
       O::ST_Connected,
       I::ST_HeartbeatPending},
      {"failed heartbeat loses the connection", Start::Heartbeat, kInner, I::EV_HeartbeatTimer,
       beatFails, false,
       Seq({{"SendHeartbeat(250)"},
            kResetInner,
            {"Close", "RetryAfterLoss",
             OuterLine("EV_V7kConnectionLost [ST_Connected]=>[ST_Init] :0"),
             InnerLine("EV_HeartbeatTimer [ST_HeartbeatPending]=>[ST_Init] :0")}}),
       O::ST_Init, I::ST_Init},
      {"data while heartbeating is not read",
       Start::Heartbeat,
       kOuter,
       O::EV_V7kRxData,
       ok,
       false,
       {InnerLine("EV_TcpDataRx, no change [ST_HeartbeatPending] :0"),
        OuterLine("EV_V7kRxData, no change [ST_Connected] :0")},
       O::ST_Connected,
       I::ST_HeartbeatPending},
      {"heartbeat outside ST_HeartbeatPending",
       Start::AckPending,
       kInner,
       I::EV_HeartbeatTimer,
       ok,
       false,
       {InnerLine("EV_HeartbeatTimer, no change [ST_LogonAckPending] :0")},
       O::ST_Connected,
       I::ST_LogonAckPending},
      {"EV_NULL is never acted on",
       Start::AckPending,
       kInner,
       I::EV_NULL,
       ok,
       false,
       {InnerLine("EV_NULL, no change [ST_LogonAckPending] :0")},
       O::ST_Connected,
       I::ST_LogonAckPending},
      {"unnamed Inner number",
       Start::InnerAckPending,
       kInner,
       2106,
       ok,
       false,
       {InnerLine("EV_UNKNOWN_2106, no change [ST_LogonAckPending] :0")},
       O::ST_Init,
       I::ST_LogonAckPending},
      {"the Inner does not name the Outer's events",
       Start::InnerAckPending,
       kInner,
       O::EV_Shutdown,
       ok,
       false,
       {InnerLine("EV_UNKNOWN_3107, no change [ST_LogonAckPending] :0")},
       O::ST_Init,
       I::ST_LogonAckPending},
      {"event at the dead Inner in a session",
       Start::InnerDead,
       kInner,
       I::EV_Start,
       ok,
       false,
       {InnerLine("EV_Start, no change [ST_Dead] :0")},
       O::ST_Init,
       I::ST_Dead},
      {"event at the dead Inner in service mode",
       Start::InnerDead,
       kInner,
       I::EV_LogoffReq,
       ok,
       true,
       {"Exit(5000)", InnerLine("EV_LogoffReq, no change [ST_Dead] :0")},
       O::ST_Init,
       I::ST_Dead},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingOwner owner;
    AuthFSM_Inner inner(&owner);
    AuthFSM_Outer outer(&owner, &inner);
    owner.outer = &outer;
    Reach(c.start, outer, inner);
    journal_.clear();
    owner.answers = c.answers;
    SetServiceMode(c.serviceMode);

    if (c.target == kOuter) {
      outer.onEvent(c.event);
    } else {
      inner.onEvent(c.event);
    }
    SetServiceMode(false);

    EXPECT_EQ(journal_, c.journal);
    EXPECT_EQ(outer.GetState(), c.outerAfter);
    EXPECT_EQ(inner.GetState(), c.innerAfter);
    EXPECT_EQ(outer.Depth(), 0);
    EXPECT_EQ(inner.Depth(), 0);
  }
}

TEST(AuthFsmNames, EachMachineNamesItsOwnNumbers) {
  struct Case {
    int32_t number;
    const char* outerState;
    const char* outerEvent;
    const char* innerState;
    const char* innerEvent;
  };
  const Case cases[] = {
      {0, "ST_UNKNOWN_0", "EV_UNKNOWN_0", "ST_UNKNOWN_0", "EV_NULL"},
      {2040, "ST_Init", "EV_UNKNOWN_2040", "ST_UNKNOWN_2040", "EV_UNKNOWN_2040"},
      {2043, "ST_UNKNOWN_2043", "EV_UNKNOWN_2043", "ST_UNKNOWN_2043", "EV_UNKNOWN_2043"},
      {2044, "ST_Dead", "EV_UNKNOWN_2044", "ST_UNKNOWN_2044", "EV_UNKNOWN_2044"},
      {2101, "ST_UNKNOWN_2101", "EV_UNKNOWN_2101", "ST_UNKNOWN_2101", "EV_UNKNOWN_2101"},
      {2108, "ST_UNKNOWN_2108", "EV_UNKNOWN_2108", "ST_UNKNOWN_2108", "EV_ProtoFail"},
      {3104, "ST_UNKNOWN_3104", "EV_UNKNOWN_3104", "ST_UNKNOWN_3104", "EV_UNKNOWN_3104"},
      {3108, "ST_UNKNOWN_3108", "EV_UserIdentCheck", "ST_UNKNOWN_3108", "EV_UNKNOWN_3108"},
      {9021, "ST_UNKNOWN_9021", "EV_UNKNOWN_9021", "ST_UNKNOWN_9021", "EV_UNKNOWN_9021"},
      {9023, "ST_UNKNOWN_9023", "EV_UNKNOWN_9023", "ST_HeartbeatPending", "EV_UNKNOWN_9023"},
      {-2147483647 - 1, "ST_UNKNOWN_-2147483648", "EV_UNKNOWN_-2147483648",
       "ST_UNKNOWN_-2147483648", "EV_UNKNOWN_-2147483648"},
  };
  RecordingOwner owner;
  AuthFSM_Inner inner(&owner);
  AuthFSM_Outer outer(&owner, &inner);
  char buffer[AuthFSM_Base::kNameChars];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_STREQ(outer.StateName(c.number, buffer), c.outerState);
    EXPECT_STREQ(outer.EventName(c.number, buffer), c.outerEvent);
    EXPECT_STREQ(inner.StateName(c.number, buffer), c.innerState);
    EXPECT_STREQ(inner.EventName(c.number, buffer), c.innerEvent);
  }
}

}  // namespace
