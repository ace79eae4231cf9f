// One received STAT frame the size of a logon, three ways: the agent's receive path (frame
// in, STAT judged, traces filtered as the default configuration filters them), the codec
// alone, and a one-pass loop doing the format's least work (take the offset off every byte,
// XOR the payload's words with the key). Prints nanoseconds per frame and the ratio to the loop.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client/ApplianceProtocol.h"
#include "config/AgentConfig.h"
#include "config/ConfigInit.h"
#include "PacketLumo.h"

namespace {

constexpr uint32_t kHeartbeat = 42000;

std::vector<uint8_t> StatFrame() {
  // A configuration text in CF brings the frame to the size of a typical logon frame.
  static const std::string config = "RA[10.20.30.40;10.20.30.41]RP[139]RH[60000]LC[3221225471]LD[1]UT[255]"
                                    "UQ[CN=%1,OU=Staff,DC=corp,DC=example,DC=com]";
  const CParam rows[] = {IntParam(MakeTag("ST"), PT_UInt8, 0), DataParam(MakeTag("ER"), PT_String, "None"),
                         IntParam(MakeTag("RH"), PT_UInt32, 60000), DataParam(MakeTag("CF"), PT_String, config.c_str()),
                         EndParam()};
  CPacketLumo packet(kWindowsDialect, [] { return uint8_t{123}; });
  const uint32_t length = packet.ConstructFullPacket(kCmdStat, rows);
  return std::vector<uint8_t>(packet.Frame(), packet.Frame() + length);
}

// The least the format asks: one pass over the frame.
uint32_t ReferencePass(const uint8_t* frame, size_t length, uint8_t* out) {
  const uint8_t k = static_cast<uint8_t>(frame[1] - 0x45);
  const size_t packet = length - CPacketLumo::kFrameHeaderSize;
  for (size_t i = 0; i < packet; ++i) out[i] = static_cast<uint8_t>(frame[i + CPacketLumo::kFrameHeaderSize] - k);
  uint32_t key;
  std::memcpy(&key, out + 2, 4);
  uint32_t sum = 0;
  for (size_t i = CPacketLumo::kPacketHeaderSize; i + 4 <= packet; i += 4) {
    uint32_t word;
    std::memcpy(&word, out + i, 4);
    word ^= key;
    std::memcpy(out + i, &word, 4);
    sum += word;
  }
  return sum;
}

double Frequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(f.QuadPart);
}

// Best of five rounds, in nanoseconds per call.
double Measure(const std::function<void()>& once, int calls) {
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) once();
    QueryPerformanceCounter(&end);
    const double ns = static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 / Frequency() / calls;
    if (ns < best) best = ns;
  }
  return best;
}

}  // namespace

int wmain() {
  ConfigInit::Parse(ConfigInit::kDefaultsText, 0, true);  // LC and LD as shipped: the dumps filtered out
  const std::vector<uint8_t> frame = StatFrame();
  constexpr int kCalls = 200000;

  CPacketLumo agent = MakeAgentPacket();
  volatile bool accepted = true;
  const double agentNs = Measure(
      [&] { accepted = accepted & ReceiveStat(agent, frame.data(), frame.size(), kHeartbeat, L"(1000) "); }, kCalls);

  CPacketLumo codec(kWindowsDialect, [] { return uint8_t{0}; });
  volatile int outcome = 0;
  const double codecNs = Measure(
      [&] {
        const RxMessage message = ClassifyReceive(codec, frame.data(), frame.size());
        if (message.kind == RxKind::Stat)
          outcome = static_cast<int>(
              ReadStatReply(codec.Params(), codec.Payload(), codec.PayloadLength(), kHeartbeat).outcome);
      },
      kCalls);

  std::vector<uint8_t> out(frame.size());
  volatile uint32_t sum = 0;
  const double referenceNs = Measure([&] { sum = sum + ReferencePass(frame.data(), frame.size(), out.data()); }, kCalls);

  std::printf("receive of one %zu-byte STAT frame          ns/frame  x one-pass loop\n", frame.size());
  std::printf("  agent receive path (frame in, STAT judged) %8.1f  %6.2f\n", agentNs, agentNs / referenceNs);
  std::printf("  codec alone                                %8.1f  %6.2f\n", codecNs, codecNs / referenceNs);
  std::printf("  one-pass loop (offset off, words XORed)    %8.1f  %6.2f\n", referenceNs, 1.0);
  std::printf("  agent / codec                                        %6.2f\n", agentNs / codecNs);
  return accepted ? 0 : 1;
}
