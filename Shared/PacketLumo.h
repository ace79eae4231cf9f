// Framing and scrambling of appliance messages.
//
// Outer frame: 'Q', 'E' + k, then the inner packet with every byte + k (mod 256).
// Inner packet: magic "LH", 4-letter command, 16-bit payload length, payload
// scrambled with the command. All integers big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "PayloadParams.h"
#include "ResultCodes.h"

constexpr uint16_t kPacketMagic = 0x4C48;  // "LH"

// Supplies the byte x from which each frame's offset k is drawn
// (Windows: GetTickCount() >> 2; macOS: rand(); tests: a fixed byte).
using FrameOffsetSource = std::function<uint8_t()>;

// Stages of the receive path, for the agents' receive traces.
enum class RxTraceStage {
  NotEnough,    // not enough bytes for the declared frame (at most the first 50 bytes)
  Received,     // the frame as received
  Unoffset,     // the inner packet with the frame offset removed
  Unscrambled,  // the inner packet with its payload unscrambled
};

// The bytes of one stage, as they stand; a hook that writes them makes its own printable
// copy (MakePrintable), so nothing is copied for a trace that is filtered out.
using RxTraceHook = std::function<void(RxTraceStage stage, std::span<const uint8_t> bytes)>;

// The bytes with NUL as 0x01, CR as 0x02, LF as 0x03.
std::string MakePrintable(std::span<const uint8_t> bytes);

class CPacketLumo {
 public:
  static constexpr size_t kFrameHeaderSize = 2;
  static constexpr size_t kPacketHeaderSize = 8;
  static constexpr size_t kFrameOverhead = kFrameHeaderSize + kPacketHeaderSize;
  static constexpr size_t kBufferSize = kFrameOverhead + kPayloadBufferSize;

  CPacketLumo(const ProtocolDialect& dialect, FrameOffsetSource offsetSource);

  // Builds the whole frame of command with the parameters of table in the packet's
  // buffer. Returns the frame length, or 0 when the list does not fit (nothing to send).
  uint32_t ConstructFullPacket(uint32_t command, const CParam* table);

  // Takes at most one message from bytes. Returns the frame length (payload length + 10)
  // or kResultFail; on success the unscrambled payload stands at Payload().
  int32_t ExtractFullPacket(const uint8_t* bytes, size_t count, uint16_t* magic, uint32_t* command);

  // Writes the inner header at out and the payload behind it (unless it already stands
  // there). Returns length + 8.
  static uint32_t ConstructPacket(uint8_t* out, uint32_t command, const uint8_t* payload, uint16_t length);

  // Reads an inner header; every out argument may be null. Returns the payload length.
  static uint16_t ExtractPacket(const uint8_t* packet, uint16_t* magic, uint32_t* command,
                                const uint8_t** payload);

  // Scramble / unscramble a payload in place, keyed by the packet's command.
  static void InnerEncrypt(uint32_t key, uint8_t* data, size_t length);
  static void InnerDecrypt(uint32_t key, uint8_t* data, size_t length);

  // Frames an inner packet with a fresh offset from the source (in place when packet is
  // frame + 2). Returns length + 2.
  uint32_t OuterEncrypt(uint8_t* frame, const uint8_t* packet, size_t length);

  // k = 1 + ((x * 186) >> 8), 1 to 186.
  static uint8_t FrameOffset(uint8_t x);

  void SetReceiveTrace(RxTraceHook hook) { m_rxTrace = std::move(hook); }

  // The last frame built.
  const uint8_t* Frame() const { return m_buffer.data(); }
  uint32_t FrameLength() const { return m_frameLength; }
  // The last payload received, unscrambled.
  const uint8_t* Payload() const { return m_buffer.data(); }
  uint16_t PayloadLength() const { return m_payloadLength; }
  uint32_t PacketLength() const { return m_packetLength; }

  const CProcessPayloadParams& Params() const { return m_params; }

 private:
  CProcessPayloadParams m_params;
  FrameOffsetSource m_offsetSource;
  RxTraceHook m_rxTrace;
  std::vector<uint8_t> m_buffer;
  uint32_t m_frameLength = 0;
  uint32_t m_packetLength = 0;
  uint16_t m_payloadLength = 0;
};

// What one receive holds, for an agent that expects only STAT.
enum class RxKind {
  BadFrame,      // not 'Q', too short, or shorter than declared
  BadMagic,      // a frame whose magic is not "LH"
  Stat,          // STAT: handle with ReadStatReply(packet.Params(), packet.Payload(), ...)
  OtherCommand,  // "Unknown event '%c%c%c%c' received."
};

struct RxMessage {
  RxKind kind = RxKind::BadFrame;
  uint16_t magic = 0;
  uint32_t command = 0;
};

RxMessage ClassifyReceive(CPacketLumo& packet, const uint8_t* bytes, size_t count);
