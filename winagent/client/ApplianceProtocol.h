// The Windows agent's side of the appliance protocol: its frame-offset source,
// its receive traces, and the log lines of what one receive held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "PacketLumo.h"

// x = (GetTickCount() >> 2) & 0xFF.
uint8_t TickFrameOffsetByte();

// A packet object with the Windows dialect, the tick-count offset source and the
// "DATA:RECV" traces (category TC_Data).
CPacketLumo MakeAgentPacket();

// Judges the bytes of one receive, which should hold a STAT, and logs what they hold
// ("'STAT' ..." lines on the client channel with prefix, "SOCKET: Unknown event ..." on
// the socket channel). True only for an accepting STAT.
bool ReceiveStat(CPacketLumo& packet, const uint8_t* bytes, size_t count, uint32_t configuredHeartbeat,
                 std::wstring_view prefix);
