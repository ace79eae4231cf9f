#include "client/ApplianceProtocol.h"

#include <windows.h>

#include "support/Logging.h"

uint8_t TickFrameOffsetByte() { return static_cast<uint8_t>((GetTickCount() >> 2) & 0xFF); }

CPacketLumo MakeAgentPacket() {
  CPacketLumo packet(kWindowsDialect, TickFrameOffsetByte);
  packet.SetReceiveTrace([](RxTraceStage stage, std::span<const uint8_t> bytes) {
    const wchar_t* format = nullptr;
    int level = 3;
    switch (stage) {
      case RxTraceStage::NotEnough:
        format = L"DATA:RECV:NOTENOUGH:%hs\n";
        level = 0;
        break;
      case RxTraceStage::Received:
        format = L"DATA:RECV(4):%hs\n";
        break;
      case RxTraceStage::Unoffset:
        format = L"DATA:RECV(3):%hs\n";
        break;
      case RxTraceStage::Unscrambled:
        format = L"DATA:RECV(2):%hs\n";
        break;
    }
    // The printable copy only for a line that is written.
    if (format && TraceFilter(level, TC_Data)) TracePrintf(TC_Data, level, format, MakePrintable(bytes).c_str());
  });
  return packet;
}

namespace {

bool HandleStat(const CPacketLumo& packet, uint32_t configuredHeartbeat, std::wstring_view prefix) {
  const StatReply reply = ReadStatReply(packet.Params(), packet.Payload(), packet.PayloadLength(), configuredHeartbeat);
  switch (reply.outcome) {
    case StatOutcome::Accepted:
      TsV7kClient(1, prefix) << L"'STAT' SUCCESS received: user identity accepted by web filter appliance";
      return true;
    case StatOutcome::VersionOld:
    case StatOutcome::Refused:
      TsV7kClient(0, prefix) << L"'STAT' error: code:" << reply.status << L" message:\"" << reply.errorText
                             << L"\".\n";
      if (reply.outcome == StatOutcome::VersionOld)
        TsV7kClient(0, prefix) << L"'STAT' 1: Client Version Is Old.  Terminating.\n";
      break;
    case StatOutcome::Malformed:
      break;
  }
  TsV7kClient(0, prefix) << L"'STAT' received but has protocol errors.\n";
  return false;
}

}  // namespace

bool ReceiveStat(CPacketLumo& packet, const uint8_t* bytes, size_t count, uint32_t configuredHeartbeat,
                 std::wstring_view prefix) {
  const RxMessage message = ClassifyReceive(packet, bytes, count);
  switch (message.kind) {
    case RxKind::BadFrame:
    case RxKind::BadMagic:
      return false;
    case RxKind::Stat:
      return HandleStat(packet, configuredHeartbeat, prefix);
    case RxKind::OtherCommand:
      TracePrintf(TC_Socket, 0, L"SOCKET: Unknown event '%hc%hc%hc%hc' received.\n",
                  static_cast<char>(message.command >> 24), static_cast<char>(message.command >> 16),
                  static_cast<char>(message.command >> 8), static_cast<char>(message.command));
      return false;
  }
  return false;
}
