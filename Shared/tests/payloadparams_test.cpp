// Parameter lists: building, parsing, the message tables and STAT handling.
#include "PayloadParams.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Item {
  std::string tag;
  Bytes value;
};

Bytes Payload(const std::vector<Item>& items, size_t strayBytes = 0) {
  Bytes out;
  for (const Item& item : items) {
    out.push_back(static_cast<uint8_t>(item.tag[0]));
    out.push_back(static_cast<uint8_t>(item.tag[1]));
    out.push_back(static_cast<uint8_t>(item.value.size() >> 8));
    out.push_back(static_cast<uint8_t>(item.value.size()));
    out.insert(out.end(), item.value.begin(), item.value.end());
  }
  out.insert(out.end(), strayBytes, 0);
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The items of a built list in wire order, as "TAG=length".
std::vector<std::string> Walk(const uint8_t* data, size_t length) {
  std::vector<std::string> out;
  for (size_t p = 0; p + 4 <= length;) {
    const size_t n = (data[p + 2] << 8) | data[p + 3];
    out.push_back(std::string{static_cast<char>(data[p]), static_cast<char>(data[p + 1])} + "=" + std::to_string(n));
    p += 4 + n;
  }
  return out;
}

struct Built {
  uint16_t length;
  Bytes bytes;
};

Built Build(const CParam* table, const CProcessPayloadParams& codec = CProcessPayloadParams(kWindowsDialect)) {
  Bytes out(kPayloadBufferSize);
  const uint16_t length = codec.ConstructPayloadFromParams(table, out.data(), out.size());
  out.resize(length == kPayloadOverflow ? 0 : length);
  return {length, out};
}

TEST(PayloadParams, LgonCarriesTheIdentityInEachAgentsOrderAndLeavesOutEmptyStrings) {
  LgonIdentity id;
  id.type = 1;
  id.userName = "alice";
  id.groupName = "staff";
  id.computerName = "WS1";
  id.fullName = "Alice A";
  id.userDN = "CN=alice";
  id.computerDN = "CN=WS1";
  // no domain

  const Built windows = Build(LgonTable(id, LgonOrder::Windows).Rows());
  EXPECT_EQ(Walk(windows.bytes.data(), windows.length),
            (std::vector<std::string>{"TP=1", "UN=5", "GP=5", "CN=3", "FN=7", "DN=8", "WI=6", "VS=12", "VN=4"}));
  const Built mac = Build(LgonTable(id, LgonOrder::Mac).Rows());
  EXPECT_EQ(Walk(mac.bytes.data(), mac.length),
            (std::vector<std::string>{"TP=1", "UN=5", "DN=8", "GP=5", "CN=3", "FN=7", "WI=6", "VS=12", "VN=4"}));

  EXPECT_EQ(Bytes(windows.bytes.begin(), windows.bytes.begin() + 14),
            (Bytes{'T', 'P', 0, 1, 1, 'U', 'N', 0, 5, 'a', 'l', 'i', 'c', 'e'}));
  EXPECT_EQ(Bytes(windows.bytes.end() - 8, windows.bytes.end()), (Bytes{'V', 'N', 0, 4, 0x00, 0x01, 0x00, 0x09}));

  LgonTable table(id, LgonOrder::Windows);
  EXPECT_EQ(table.Contents(),
            "{TP,[1]}\n{UN,[alice]}\n{DO,[]}\n{GP,[staff]}\n{CN,[WS1]}\n{FN,[Alice A]}\n{DN,[CN=alice]}\n"
            "{WI,[CN=WS1]}\n{VS,[Identra v2.0]}\n{VN,[65545]}\n");

  // Long strings go whole.
  id.userName = std::string(5000, 'u');
  const Built longName = Build(LgonTable(id, LgonOrder::Windows).Rows());
  EXPECT_EQ(Walk(longName.bytes.data(), longName.length)[1], "UN=5000");
}

TEST(PayloadParams, BuildEncodesEachTypeAndItsEmptyCases) {
  const char16_t wide[] = u"A\u00e9";
  const uint8_t blob[] = {9, 8, 7};
  const CParam table[] = {
      IntParam(MakeTag("AA"), PT_UInt32, 0x01020304),
      IntParam(MakeTag("BB"), PT_UInt16, 0xABCD),
      IntParam(MakeTag("CC"), PT_UInt8, 0x7F),
      DataParam(MakeTag("DD"), PT_String, "hello", 3),  // the row's length wins
      DataParam(MakeTag("EE"), PT_Utf16, wide),
      DataParam(MakeTag("FF"), PT_Bytes, blob, 3),
      DataParam(MakeTag("GG"), PT_String, "", 0, PF_Required),  // required empty: an item of length 0
      DataParam(MakeTag("HH"), PT_String, ""),                   // not required: no item
      DataParam(MakeTag("II"), PT_Bytes, blob, 0),               // empty blob: no item
      IntParam(MakeTag("JJ"), 9, 55),                            // unknown type: an item of length 0
      EndParam(),
  };
  const Built windows = Build(table);
  EXPECT_EQ(windows.bytes, (Bytes{'A', 'A', 0, 4, 1, 2, 3, 4,                  //
                                  'B', 'B', 0, 2, 0xAB, 0xCD,                  //
                                  'C', 'C', 0, 1, 0x7F,                        //
                                  'D', 'D', 0, 3, 'h', 'e', 'l',               //
                                  'E', 'E', 0, 4, 0x00, 0x41, 0x00, 0xE9,      //
                                  'F', 'F', 0, 3, 9, 8, 7,                     //
                                  'G', 'G', 0, 0,                              //
                                  'J', 'J', 0, 0}));
  EXPECT_EQ(windows.length, windows.bytes.size());

  // Without type 5 the UTF-16 row is an empty item.
  const Built mac = Build(table, CProcessPayloadParams(kMacDialect));
  EXPECT_EQ(Walk(mac.bytes.data(), mac.length)[4], "EE=0");
}

TEST(PayloadParams, BuildNeverWritesPastItsBufferAndReportsOverflow) {
  const std::string forty(40, 's');
  const CParam three[] = {DataParam(MakeTag("AA"), PT_String, forty.c_str()), DataParam(MakeTag("BB"), PT_String, forty.c_str()),
                          DataParam(MakeTag("CC"), PT_String, forty.c_str()), EndParam()};
  Bytes out(200, 0xCC);
  const CProcessPayloadParams codec(kWindowsDialect);
  EXPECT_EQ(codec.ConstructPayloadFromParams(three, out.data(), 100), kPayloadOverflow);
  EXPECT_EQ(Bytes(out.begin() + 88, out.end()), Bytes(112, 0xCC));  // two items written, nothing more
  EXPECT_EQ(codec.ConstructPayloadFromParams(three, out.data(), 132), 132);

  // Around the 64 KB bound of a 16-bit payload length.
  struct Case {
    size_t valueLength;
    uint16_t result;
  };
  for (const Case c : {Case{65530, 65534}, Case{65531, kPayloadOverflow}, Case{65532, kPayloadOverflow},
                       Case{70000, kPayloadOverflow}}) {
    SCOPED_TRACE(c.valueLength);
    const std::string value(c.valueLength, 'v');
    const CParam table[] = {DataParam(MakeTag("CF"), PT_String, value.c_str()), EndParam()};
    Bytes buffer(kPayloadBufferSize + 16, 0xCC);
    EXPECT_EQ(codec.ConstructPayloadFromParams(table, buffer.data(), kPayloadBufferSize), c.result);
    EXPECT_EQ(Bytes(buffer.end() - 16, buffer.end()), Bytes(16, 0xCC));
  }
}

TEST(PayloadParams, StatParseRules) {
  const uint32_t configured = 45000;
  struct Case {
    const char* name;
    Bytes payload;
    int32_t result;
    uint32_t status;
    std::string error;
    uint32_t heartbeat;
  };
  const Case cases[] = {
      {"status only", Payload({{"ST", {0}}}), 1, 0, "None", configured},
      {"all four", Payload({{"ST", {3}}, {"ER", Text("bad")}, {"RH", {0, 0, 0x75, 0x30}}, {"CF", Text("RH[1]")}}), 4, 3,
       "bad", 30000},
      {"empty payload", {}, kResultFail, 0, "None", configured},
      {"ST missing", Payload({{"ER", Text("x")}}), kResultFail, 0, "x", configured},
      {"ST empty", Payload({{"ST", {}}}), kResultFail, 0, "None", configured},
      {"one stray byte", Payload({{"ST", {0}}}, 1), kResultMalformed, 0, "None", configured},
      {"three stray bytes", Payload({{"ST", {0}}}, 3), kResultMalformed, 0, "None", configured},
      {"item overruns", Bytes{'S', 'T', 0, 2, 0}, kResultMalformed, 0, "None", configured},
      {"unknown tag skipped", Payload({{"ZZ", Text("??")}, {"ST", {0}}}), 1, 0, "None", configured},
      {"ST of length 2 skipped, then missing", Payload({{"ST", {0, 0}}}), kResultFail, 0, "None", configured},
      {"later duplicate wins", Payload({{"ST", {0}}, {"ER", Text("one")}, {"ST", {9}}, {"ER", Text("two")}}), 2, 9, "two",
       configured},
      {"RH of length 2 skipped", Payload({{"ST", {0}}, {"RH", {1, 2}}}), 1, 0, "None", configured},
      {"ER empty keeps its default", Payload({{"ST", {0}}, {"ER", {}}}), 2, 0, "None", configured},
  };
  const CProcessPayloadParams codec(kWindowsDialect);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char strings[256];
    LocalMemoryStack stack(strings, sizeof strings);
    StatTable table(configured);
    EXPECT_EQ(codec.ExtractParamsFromPayload(stack, table.Rows(), c.payload.data(), c.payload.size()), c.result);
    EXPECT_EQ(table.Status(), c.status);
    EXPECT_EQ(table.ErrorText(), c.error);
    if (c.result >= 0) {
      EXPECT_EQ(table.Heartbeat(), c.heartbeat);
      EXPECT_EQ(table.Rows()[2].type, c.heartbeat == configured ? PT_None : PT_UInt32);  // absent rows lose their type
    }
  }
}

TEST(PayloadParams, ParsedStringsStayInsideTheCallersBuffer) {
  const std::string config(60000, 'c');
  const Bytes payload = Payload({{"ST", {0}}, {"ER", Text("error")}, {"CF", Text(config)}});
  const CProcessPayloadParams codec(kWindowsDialect);

  std::vector<char> small(64 + 16, 'G');  // room for ER, not for CF; the tail is a guard
  LocalMemoryStack stack(small.data(), 64);
  StatTable table(0);
  EXPECT_EQ(codec.ExtractParamsFromPayload(stack, table.Rows(), payload.data(), payload.size()), kResultMalformed);
  EXPECT_LE(stack.Used(), 64u);
  EXPECT_EQ(std::string(small.begin() + 64, small.end()), std::string(16, 'G'));

  LocalMemoryStack none(nullptr, 1000);
  StatTable table2(0);
  EXPECT_EQ(codec.ExtractParamsFromPayload(none, table2.Rows(), payload.data(), payload.size()), kResultMalformed);

  std::vector<char> enough(kPayloadBufferSize);
  LocalMemoryStack big(enough.data(), enough.size());
  StatTable table3(0);
  EXPECT_EQ(codec.ExtractParamsFromPayload(big, table3.Rows(), payload.data(), payload.size()), 3);
  EXPECT_EQ(table3.ConfigText(), config);
  EXPECT_EQ(table3.Rows()[3].length, 60001);
}

TEST(PayloadParams, Utf16AndBytesRoundTripOnlyWhereTheDialectKnowsThem) {
  const char16_t wide[] = u"Zo\u00eb";
  const uint8_t blob[] = {0, 1, 0, 2};
  const CParam sent[] = {DataParam(MakeTag("WN"), PT_Utf16, wide), DataParam(MakeTag("BL"), PT_Bytes, blob, 4), EndParam()};
  const Built built = Build(sent);

  for (const ProtocolDialect& dialect : {kWindowsDialect, kMacDialect}) {
    SCOPED_TRACE(dialect.utf16Params);
    const CProcessPayloadParams codec(dialect);
    char strings[64];
    LocalMemoryStack stack(strings + 1, sizeof strings - 1);  // odd start: UTF-16 copies must still align
    const char16_t fallback[] = u"none";
    CParam table[] = {DataParam(MakeTag("BL"), PT_Bytes, nullptr), DataParam(MakeTag("WN"), PT_Utf16, fallback), EndParam()};
    const int32_t count = codec.ExtractParamsFromPayload(stack, table, built.bytes.data(), built.length);
    const auto* blobOut = static_cast<const uint8_t*>(table[0].data);
    ASSERT_NE(blobOut, nullptr);
    EXPECT_EQ(Bytes(blobOut, blobOut + table[0].length), Bytes(blob, blob + 4));
    if (dialect.utf16Params) {
      EXPECT_EQ(count, 2);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(table[1].data) % alignof(char16_t), 0u);
      EXPECT_EQ(std::u16string(static_cast<const char16_t*>(table[1].data)), u"Zo\u00eb");
      EXPECT_EQ(table[1].length, 8);

      // An odd byte behind the last code unit is dropped; the length covers only the copy,
      // so building from the parsed row reads nothing past it.
      const Bytes odd = Payload({{"WN", {0x00, 0x41, 0x00}}});
      CParam oddTable[] = {DataParam(MakeTag("WN"), PT_Utf16, fallback), EndParam()};
      ASSERT_EQ(codec.ExtractParamsFromPayload(stack, oddTable, odd.data(), odd.size()), 1);
      EXPECT_EQ(std::u16string(static_cast<const char16_t*>(oddTable[0].data)), u"A");
      EXPECT_EQ(oddTable[0].length, 4);
    } else {
      EXPECT_EQ(count, 1);  // type 5 skipped: the row keeps its default
      EXPECT_EQ(table[1].data, fallback);
    }
  }
}

TEST(PayloadParams, StatRepliesAreClassified) {
  const CProcessPayloadParams codec(kMacDialect);
  struct Case {
    const char* name;
    Bytes payload;
    StatOutcome outcome;
    uint32_t status;
    std::string error;
    uint32_t heartbeat;
    std::string config;
  };
  const Case cases[] = {
      {"accepted", Payload({{"ST", {0}}}), StatOutcome::Accepted, 0, "None", 1234, ""},
      {"accepted with settings", Payload({{"ST", {0}}, {"RH", {0, 0, 0x03, 0xE8}}, {"CF", Text("LD[4]")}}),
       StatOutcome::Accepted, 0, "None", 1000, "LD[4]"},
      {"version old", Payload({{"ST", {1}}, {"ER", Text("upgrade")}}), StatOutcome::VersionOld, 1, "upgrade", 1234, ""},
      {"refused", Payload({{"ST", {7}}}), StatOutcome::Refused, 7, "None", 1234, ""},
      {"no status", Payload({{"ER", Text("oops")}}), StatOutcome::Malformed, 0, "oops", 1234, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StatReply reply = ReadStatReply(codec, c.payload.data(), c.payload.size(), 1234);
    EXPECT_EQ(reply.outcome, c.outcome);
    EXPECT_EQ(reply.ProtocolFailure(), c.outcome != StatOutcome::Accepted);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.errorText, c.error);
    if (c.outcome != StatOutcome::Malformed) {
      EXPECT_EQ(reply.heartbeat, c.heartbeat);
      EXPECT_EQ(reply.configText, c.config);
    } else {
      EXPECT_EQ(reply.parseResult, kResultFail);
    }
  }
}

TEST(PayloadParams, LogoffAndHeartbeatTablesFollowTheDialect) {
  EXPECT_EQ(Build(LgofTable(kWindowsDialect.logoffReason).Rows()).bytes, (Bytes{'R', 'S', 0, 1, 1}));
  EXPECT_EQ(Build(LgofTable(kMacDialect.logoffReason).Rows()).bytes, (Bytes{'R', 'S', 0, 1, 2}));
  EXPECT_EQ(Build(BeatTable(0).Rows()).bytes, (Bytes{'M', 'S', 0, 4, 0, 0, 0, 0}));
  std::ostringstream printed;
  BeatTable(77).Rows()[0].Print(printed);
  EXPECT_EQ(printed.str(), "{MS,[77]}\n");
}

}  // namespace
