// How the agent judges and logs one receive that should hold a STAT.
#include "client/ApplianceProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ApplianceProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogPathOverride(log_ / L"protocol.log");
    SetDebuggerQuery([] { return true; });
    SetTraceCapture([this](int level, const std::wstring& line) {
      lines_.push_back(std::to_string(level) + " " + Narrow(line));
    });
  }
  void TearDown() override {
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetLogPathOverride(L"");
  }

  static Bytes Frame(uint32_t command, const CParam* table) {
    CPacketLumo sender(kWindowsDialect, [] { return uint8_t{77}; });
    const uint32_t length = sender.ConstructFullPacket(command, table);
    return Bytes(sender.Frame(), sender.Frame() + length);
  }

  // The lines other than the receive dumps.
  std::vector<std::string> Judged() const {
    std::vector<std::string> out;
    for (const std::string& line : lines_)
      if (line.find("DATA:RECV(") == std::string::npos) out.push_back(line);
    return out;
  }

  ScratchDir log_;
  std::vector<std::string> lines_;
};

TEST_F(ApplianceProtocolTest, JudgesAndLogsEachKindOfReply) {
  const CParam ok[] = {IntParam(MakeTag("ST"), PT_UInt8, 0, PF_Required), EndParam()};
  const CParam old[] = {IntParam(MakeTag("ST"), PT_UInt8, 1), DataParam(MakeTag("ER"), PT_String, "too old"), EndParam()};
  const CParam refused[] = {IntParam(MakeTag("ST"), PT_UInt8, 9), EndParam()};
  const CParam noStatus[] = {DataParam(MakeTag("ER"), PT_String, "what"), EndParam()};
  const CParam beat[] = {IntParam(MakeTag("MS"), PT_UInt32, 5), EndParam()};
  const std::string accepted = "V7kClient:(3) 'STAT' SUCCESS received: user identity accepted by web filter appliance";
  const std::string protocolErrors = "0 V7kClient:(3) 'STAT' received but has protocol errors.\n";

  struct Case {
    const char* name;
    Bytes bytes;
    bool result;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"accepted", Frame(kCmdStat, ok), true, {"1 " + accepted}},
      {"version old",
       Frame(kCmdStat, old),
       false,
       {"0 V7kClient:(3) 'STAT' error: code:1 message:\"too old\".\n",
        "0 V7kClient:(3) 'STAT' 1: Client Version Is Old.  Terminating.\n", protocolErrors}},
      {"refused", Frame(kCmdStat, refused), false, {"0 V7kClient:(3) 'STAT' error: code:9 message:\"None\".\n", protocolErrors}},
      {"no status", Frame(kCmdStat, noStatus), false, {protocolErrors}},
      {"another command", Frame(kCmdBeat, beat), false, {"0 SOCKET: Unknown event 'BEAT' received.\n"}},
      {"garbage", Bytes{'G', 'E', 'T', ' ', '/'}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines_.clear();
    CPacketLumo packet = MakeAgentPacket();
    EXPECT_EQ(ReceiveStat(packet, c.bytes.data(), c.bytes.size(), 30000, L"(3) "), c.result);
    EXPECT_EQ(Judged(), c.lines);
  }
}

TEST_F(ApplianceProtocolTest, DumpsTheReceivePathPrintably) {
  const CParam ok[] = {IntParam(MakeTag("ST"), PT_UInt8, 0), DataParam(MakeTag("ER"), PT_String, "a\r\nb"), EndParam()};
  const Bytes frame = Frame(kCmdStat, ok);
  CPacketLumo packet = MakeAgentPacket();
  ASSERT_TRUE(ReceiveStat(packet, frame.data(), frame.size(), 0, L""));  // payload length 13: a CR
  ASSERT_GE(lines_.size(), 3u);
  EXPECT_EQ(lines_[0].rfind("3 DATA:RECV(4):Q", 0), 0u);
  EXPECT_EQ(lines_[1].rfind("3 DATA:RECV(3):LHSTAT", 0), 0u);
  EXPECT_EQ(lines_[2], std::string("3 DATA:RECV(2):LHSTAT\x01\x02" "ST\x01\x01\x01" "ER\x01\x04" "a\x02\x03" "b\n"));

  lines_.clear();
  const Bytes cut(frame.begin(), frame.end() - 1);
  EXPECT_FALSE(ReceiveStat(packet, cut.data(), cut.size(), 0, L""));
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].rfind("0 DATA:RECV:NOTENOUGH:Q", 0), 0u);
}

TEST(ApplianceProtocol, FrameOffsetFollowsTheTickCount) {
  const uint8_t before = static_cast<uint8_t>((GetTickCount() >> 2) & 0xFF);
  const uint8_t x = TickFrameOffsetByte();
  const uint8_t after = static_cast<uint8_t>((GetTickCount() >> 2) & 0xFF);
  EXPECT_TRUE(x == before || x == after);
}

}  // namespace
