// Framing and scrambling of appliance messages.
#include "PacketLumo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

CPacketLumo FixedPacket(uint8_t x) {
  return CPacketLumo(kWindowsDialect, [x] { return x; });
}

Bytes FrameOf(const CPacketLumo& packet) { return Bytes(packet.Frame(), packet.Frame() + packet.FrameLength()); }

Bytes PayloadOf(const CPacketLumo& packet) {
  return Bytes(packet.Payload(), packet.Payload() + packet.PayloadLength());
}

Bytes Scrambled(uint32_t key, Bytes data) {
  CPacketLumo::InnerEncrypt(key, data.data(), data.size());
  return data;
}

TEST(PacketLumo, BuildsTheWorkedBeatExampleByteForByte) {
  CPacketLumo packet = FixedPacket(0);  // k = 1
  BeatTable beat(1000);
  ASSERT_EQ(packet.ConstructFullPacket(kCmdBeat, beat.Rows()), 18u);
  EXPECT_EQ(packet.PacketLength(), 16u);
  EXPECT_EQ(packet.PayloadLength(), 8u);
  EXPECT_EQ(FrameOf(packet), (Bytes{0x51, 0x46, 0x4D, 0x49, 0x43, 0x46, 0x42, 0x55, 0x01, 0x09, 0x0D, 0x8A, 0x23,
                                    0xA4, 0x52, 0x06, 0x1A, 0xAB}));

  // The same frame read back.
  const Bytes frame = FrameOf(packet);
  uint16_t magic = 0;
  uint32_t command = 0;
  ASSERT_EQ(packet.ExtractFullPacket(frame.data(), frame.size(), &magic, &command), 18);
  EXPECT_EQ(magic, kPacketMagic);
  EXPECT_EQ(command, kCmdBeat);
  EXPECT_EQ(PayloadOf(packet), (Bytes{0x4D, 0x53, 0x00, 0x04, 0x00, 0x00, 0x03, 0xE8}));
}

TEST(PacketLumo, EveryOffsetByteFramesAndUnframes) {
  BeatTable beat(0x01020304);
  for (int x = 0; x < 256; ++x) {
    SCOPED_TRACE(x);
    CPacketLumo packet = FixedPacket(static_cast<uint8_t>(x));
    const uint8_t k = CPacketLumo::FrameOffset(static_cast<uint8_t>(x));
    EXPECT_EQ(k, 1 + ((x * 186) >> 8));
    ASSERT_EQ(packet.ConstructFullPacket(kCmdBeat, beat.Rows()), 18u);
    const Bytes built = FrameOf(packet);
    EXPECT_EQ(built[0], 0x51);
    EXPECT_EQ(built[1], static_cast<uint8_t>(0x45 + k));
    EXPECT_EQ(built[2], static_cast<uint8_t>(0x4C + k));
    uint32_t command = 0;
    ASSERT_EQ(packet.ExtractFullPacket(built.data(), built.size(), nullptr, &command), 18);
    EXPECT_EQ(command, kCmdBeat);
    EXPECT_EQ(PayloadOf(packet), (Bytes{0x4D, 0x53, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04}));
  }
  EXPECT_EQ(CPacketLumo::FrameOffset(0), 1);
  EXPECT_EQ(CPacketLumo::FrameOffset(255), 186);
}

// Zero bytes keyed with "LGON": a word is XOR then rotated (word 0 right by 1,
// word 31 by 0), a tail byte is XOR with the key byte then rotated left by 2.
TEST(PacketLumo, WordAndTailPhasesSplitWhereTheyShould) {
  const Bytes word0 = {0xA7, 0xA7, 0x23, 0x26};
  const Bytes tail = {0x39, 0x3D, 0x1D, 0x31};
  struct Case {
    size_t length;
    Bytes expected;
  };
  const Case cases[] = {
      {1, {0x39}},
      {4, tail},
      {5, {0xA7, 0xA7, 0x23, 0x26, 0x39}},
      {8, {0xA7, 0xA7, 0x23, 0x26, 0x39, 0x3D, 0x1D, 0x31}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(Scrambled(kCmdLgon, Bytes(c.length, 0)), c.expected);
  }

  const Bytes long133 = Scrambled(kCmdLgon, Bytes(133, 0));
  EXPECT_EQ(Bytes(long133.begin() + 124, long133.begin() + 128), (Bytes{0x4E, 0x4F, 0x47, 0x4C}));  // word 31
  EXPECT_EQ(Bytes(long133.begin() + 128, long133.begin() + 132), word0);                            // word 32
  EXPECT_EQ(long133[132], 0x39);

  Bytes none;
  CPacketLumo::InnerEncrypt(kCmdLgon, none.data(), 0);
  CPacketLumo::InnerDecrypt(kCmdLgon, none.data(), 0);
  EXPECT_TRUE(none.empty());
}

TEST(PacketLumo, UnscrambleInvertsScrambleForEveryPayloadLength) {
  std::mt19937 random(7);
  Bytes original(65535);
  for (uint8_t& b : original) b = static_cast<uint8_t>(random());
  Bytes work(original.size());
  for (size_t length = 0; length <= original.size(); ++length) {
    std::memcpy(work.data(), original.data(), length);
    CPacketLumo::InnerEncrypt(kCmdLgon, work.data(), length);
    CPacketLumo::InnerDecrypt(kCmdLgon, work.data(), length);
    if (std::memcmp(work.data(), original.data(), length) != 0) {
      ADD_FAILURE() << "round trip differs at length " << length;
      break;
    }
  }
}

TEST(PacketLumo, ReceiveRejectsShortOrForeignFramesAndIgnoresTrailingBytes) {
  CPacketLumo packet = FixedPacket(200);
  BeatTable beat(1000);
  packet.ConstructFullPacket(kCmdBeat, beat.Rows());
  const Bytes frame = FrameOf(packet);

  Bytes notQ = frame;
  notQ[0] = 'R';
  Bytes trailing = frame;
  trailing.insert(trailing.end(), frame.begin(), frame.end());  // a second frame behind the first
  trailing.push_back(0x55);

  struct Case {
    const char* name;
    Bytes bytes;
    int32_t result;
  };
  const Case cases[] = {
      {"nothing", {}, kResultFail},
      {"not Q", notQ, kResultFail},
      {"Q alone", {'Q'}, kResultFail},
      {"nine bytes", Bytes(frame.begin(), frame.begin() + 9), kResultFail},
      {"shorter than declared", Bytes(frame.begin(), frame.end() - 1), kResultFail},
      {"exact", frame, 18},
      {"bytes behind the frame", trailing, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPacketLumo receiver = FixedPacket(0);
    uint32_t command = 0;
    EXPECT_EQ(receiver.ExtractFullPacket(c.bytes.data(), c.bytes.size(), nullptr, &command), c.result);
    if (c.result > 0) {
      EXPECT_EQ(command, kCmdBeat);
      EXPECT_EQ(PayloadOf(receiver), (Bytes{0x4D, 0x53, 0x00, 0x04, 0x00, 0x00, 0x03, 0xE8}));
    }
  }
}

TEST(PacketLumo, ClassifiesWhatOneReceiveHolds) {
  CPacketLumo sender = FixedPacket(99);
  StatTable stat(0);
  const uint32_t statLength = sender.ConstructFullPacket(kCmdStat, stat.Rows());
  const Bytes statFrame(sender.Frame(), sender.Frame() + statLength);
  BeatTable beat(5);
  sender.ConstructFullPacket(kCmdBeat, beat.Rows());
  const Bytes beatFrame = FrameOf(sender);

  // An inner packet whose magic is "XY".
  Bytes inner(8);
  CPacketLumo::ConstructPacket(inner.data(), kCmdStat, nullptr, 0);
  inner[0] = 'X';
  inner[1] = 'Y';
  Bytes badMagic(inner.size() + 2);
  sender.OuterEncrypt(badMagic.data(), inner.data(), inner.size());

  struct Case {
    const char* name;
    Bytes bytes;
    RxKind kind;
  };
  const Case cases[] = {
      {"garbage", {'h', 'e', 'l', 'l', 'o'}, RxKind::BadFrame},
      {"bad magic", badMagic, RxKind::BadMagic},
      {"stat", statFrame, RxKind::Stat},
      {"another command", beatFrame, RxKind::OtherCommand},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPacketLumo receiver = FixedPacket(0);
    const RxMessage message = ClassifyReceive(receiver, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(message.kind, c.kind);
  }
}

TEST(PacketLumo, RefusesToFrameAListThatDoesNotFit) {
  const std::string big(70000, 'x');
  const CParam table[] = {DataParam(MakeTag("CF"), PT_String, big.data(), 0xFFFA), DataParam(MakeTag("ER"), PT_String, "zz"),
                          EndParam()};
  CPacketLumo packet = FixedPacket(0);
  EXPECT_EQ(packet.ConstructFullPacket(kCmdStat, table), 0u);
  EXPECT_EQ(packet.FrameLength(), 0u);
}

// Each receive traces its own printable copies, so client threads never share one.
TEST(PacketLumo, ReceiveTracesArePrintableAndPerCall) {
  CPacketLumo sender = FixedPacket(0);
  const std::string text = "a\r\nb";  // CR and LF inside, NULs in the lengths
  const CParam table[] = {DataParam(MakeTag("ER"), PT_String, text.c_str()), EndParam()};
  sender.ConstructFullPacket(kCmdStat, table);
  const Bytes frame = FrameOf(sender);

  std::vector<std::pair<RxTraceStage, std::string>> seen;
  CPacketLumo receiver = FixedPacket(0);
  receiver.SetReceiveTrace(
      [&seen](RxTraceStage stage, std::span<const uint8_t> bytes) { seen.emplace_back(stage, MakePrintable(bytes)); });
  ASSERT_GT(receiver.ExtractFullPacket(frame.data(), frame.size(), nullptr, nullptr), 0);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].first, RxTraceStage::Received);
  EXPECT_EQ(seen[0].second.size(), frame.size());
  EXPECT_EQ(seen[1].first, RxTraceStage::Unoffset);
  EXPECT_EQ(seen[2].first, RxTraceStage::Unscrambled);
  EXPECT_EQ(seen[2].second, std::string("LHSTAT\x01\x08" "ER\x01\x04" "a\x02\x03" "b"));
  for (const auto& [stage, printable] : seen) EXPECT_EQ(printable.find('\0'), std::string::npos);

  seen.clear();
  const Bytes longShort(frame.size() + 60, 'Q');  // declares more than it holds
  receiver.ExtractFullPacket(longShort.data(), 60, nullptr, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, RxTraceStage::NotEnough);
  EXPECT_EQ(seen[0].second, std::string(50, 'Q'));

  // Two receivers tracing at once each see only their own frame.
  auto run = [](uint32_t ms, bool* ok) {
    CPacketLumo packet = FixedPacket(static_cast<uint8_t>(ms));
    BeatTable beat(ms);
    packet.ConstructFullPacket(kCmdBeat, beat.Rows());
    const Bytes own = FrameOf(packet);
    const std::string expected = MakePrintable(own);
    bool same = true;
    packet.SetReceiveTrace([&](RxTraceStage stage, std::span<const uint8_t> bytes) {
      if (stage == RxTraceStage::Received && MakePrintable(bytes) != expected) same = false;
    });
    for (int i = 0; i < 20000; ++i) packet.ExtractFullPacket(own.data(), own.size(), nullptr, nullptr);
    *ok = same;
  };
  bool first = false, second = false;
  std::thread a(run, 0x11111111u, &first), b(run, 0x22222222u, &second);
  a.join();
  b.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
}

}  // namespace
