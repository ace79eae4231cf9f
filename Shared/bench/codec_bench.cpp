// Building and parsing a typical LGON frame, beside a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "PacketLumo.h"

namespace {

LgonIdentity TypicalIdentity() {
  LgonIdentity id;
  id.userName = "jsmith";
  id.domainName = "CORP";
  id.groupName = "Domain Users";
  id.computerName = "WS-0042";
  id.fullName = "John Smith";
  id.userDN = "CN=John Smith,OU=Staff,DC=corp,DC=example,DC=com";
  id.computerDN = "CN=WS-0042,OU=Workstations,DC=corp,DC=example,DC=com";
  return id;
}

std::vector<uint8_t> TypicalFrame() {
  const LgonIdentity id = TypicalIdentity();
  CPacketLumo packet(kWindowsDialect, [] { return uint8_t{123}; });
  const uint32_t length = packet.ConstructFullPacket(kCmdLgon, LgonTable(id, LgonOrder::Windows).Rows());
  return std::vector<uint8_t>(packet.Frame(), packet.Frame() + length);
}

void BM_BuildLgonFrame(benchmark::State& state) {
  const LgonIdentity id = TypicalIdentity();
  const LgonTable table(id, LgonOrder::Windows);
  CPacketLumo packet(kWindowsDialect, [] { return uint8_t{123}; });
  for (auto _ : state) {
    benchmark::DoNotOptimize(packet.ConstructFullPacket(kCmdLgon, table.Rows()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packet.FrameLength()));
}

void BM_ParseLgonFrame(benchmark::State& state) {
  const std::vector<uint8_t> frame = TypicalFrame();
  const LgonIdentity none;
  CPacketLumo packet(kWindowsDialect, [] { return uint8_t{0}; });
  std::vector<char> strings(1024);
  LocalMemoryStack stack(strings.data(), strings.size());
  for (auto _ : state) {
    LgonTable table(none, LgonOrder::Windows);
    uint32_t command = 0;
    packet.ExtractFullPacket(frame.data(), frame.size(), nullptr, &command);
    benchmark::DoNotOptimize(
        packet.Params().ExtractParamsFromPayload(stack, table.Rows(), packet.Payload(), packet.PayloadLength()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}

void BM_MemcpyLgonFrame(benchmark::State& state) {
  const std::vector<uint8_t> frame = TypicalFrame();
  std::vector<uint8_t> copy(frame.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}

}  // namespace

BENCHMARK(BM_BuildLgonFrame);
BENCHMARK(BM_ParseLgonFrame);
BENCHMARK(BM_MemcpyLgonFrame);

BENCHMARK_MAIN();
