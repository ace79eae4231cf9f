#include "PacketLumo.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint8_t kFrameStart = 0x51;   // 'Q', not offset
constexpr uint8_t kFrameSecond = 0x45;  // 'E' + k
constexpr size_t kNotEnoughDump = 50;

uint32_t GetLE32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

void PutLE32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

uint8_t KeyByte(uint32_t key, size_t j) { return static_cast<uint8_t>(key >> (8 * j)); }

// dst[i] = src[i] + k (mod 256), eight bytes at a time without carries between bytes.
void AddToEachByte(uint8_t* dst, const uint8_t* src, size_t n, uint8_t k) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t kk = 0x0101010101010101ull * k;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    std::memcpy(&x, src + i, 8);
    x = ((x & kLow7) + (kk & kLow7)) ^ ((x ^ kk) & kHigh);
    std::memcpy(dst + i, &x, 8);
  }
  for (; i < n; ++i) dst[i] = static_cast<uint8_t>(src[i] + k);
}

// Words are taken while 4i + 4 < length, so the tail holds 1 to 4 bytes.
size_t WordCount(size_t length) { return length == 0 ? 0 : (length - 1) / 4; }

}  // namespace

std::string MakePrintable(std::span<const uint8_t> bytes) {
  std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (char& c : text) {
    if (c == '\0')
      c = '\x01';
    else if (c == '\r')
      c = '\x02';
    else if (c == '\n')
      c = '\x03';
  }
  return text;
}

CPacketLumo::CPacketLumo(const ProtocolDialect& dialect, FrameOffsetSource offsetSource)
    : m_params(dialect), m_offsetSource(std::move(offsetSource)), m_buffer(kBufferSize) {}

uint8_t CPacketLumo::FrameOffset(uint8_t x) { return static_cast<uint8_t>(1 + ((x * 186) >> 8)); }

void CPacketLumo::InnerEncrypt(uint32_t key, uint8_t* data, size_t length) {
  const size_t words = WordCount(length);
  for (size_t i = 0; i < words; ++i) {
    uint32_t w = GetLE32(data + 4 * i) ^ key;
    const int r = static_cast<int>((i + 1) & 31);
    w = (i % 2 == 0) ? std::rotr(w, r) : std::rotl(w, r);
    PutLE32(data + 4 * i, w);
  }
  for (size_t j = 0; 4 * words + j < length; ++j) {
    uint8_t& b = data[4 * words + j];
    b = std::rotl(static_cast<uint8_t>(b ^ KeyByte(key, j)), 2);
  }
}

void CPacketLumo::InnerDecrypt(uint32_t key, uint8_t* data, size_t length) {
  const size_t words = WordCount(length);
  for (size_t i = 0; i < words; ++i) {
    uint32_t w = GetLE32(data + 4 * i);
    const int r = static_cast<int>((i + 1) & 31);
    w = (i % 2 == 0) ? std::rotl(w, r) : std::rotr(w, r);
    PutLE32(data + 4 * i, w ^ key);
  }
  for (size_t j = 0; 4 * words + j < length; ++j) {
    uint8_t& b = data[4 * words + j];
    b = static_cast<uint8_t>(std::rotr(b, 2) ^ KeyByte(key, j));
  }
}

uint32_t CPacketLumo::ConstructPacket(uint8_t* out, uint32_t command, const uint8_t* payload,
                                      uint16_t length) {
  if (payload != out + kPacketHeaderSize && length > 0) std::memmove(out + kPacketHeaderSize, payload, length);
  out[0] = static_cast<uint8_t>(kPacketMagic >> 8);
  out[1] = static_cast<uint8_t>(kPacketMagic);
  out[2] = static_cast<uint8_t>(command >> 24);
  out[3] = static_cast<uint8_t>(command >> 16);
  out[4] = static_cast<uint8_t>(command >> 8);
  out[5] = static_cast<uint8_t>(command);
  out[6] = static_cast<uint8_t>(length >> 8);
  out[7] = static_cast<uint8_t>(length);
  return static_cast<uint32_t>(length) + kPacketHeaderSize;
}

uint16_t CPacketLumo::ExtractPacket(const uint8_t* packet, uint16_t* magic, uint32_t* command,
                                    const uint8_t** payload) {
  if (magic != nullptr) *magic = static_cast<uint16_t>((packet[0] << 8) | packet[1]);
  if (command != nullptr)
    *command = (static_cast<uint32_t>(packet[2]) << 24) | (static_cast<uint32_t>(packet[3]) << 16) |
               (static_cast<uint32_t>(packet[4]) << 8) | packet[5];
  if (payload != nullptr) *payload = packet + kPacketHeaderSize;
  return static_cast<uint16_t>((packet[6] << 8) | packet[7]);
}

uint32_t CPacketLumo::OuterEncrypt(uint8_t* frame, const uint8_t* packet, size_t length) {
  const uint8_t k = FrameOffset(m_offsetSource ? m_offsetSource() : 0);
  if (packet != frame + kFrameHeaderSize) std::memmove(frame + kFrameHeaderSize, packet, length);
  AddToEachByte(frame + kFrameHeaderSize, frame + kFrameHeaderSize, length, k);
  frame[0] = kFrameStart;
  frame[1] = static_cast<uint8_t>(kFrameSecond + k);
  return static_cast<uint32_t>(length + kFrameHeaderSize);
}

uint32_t CPacketLumo::ConstructFullPacket(uint32_t command, const CParam* table) {
  uint8_t* const frame = m_buffer.data();
  uint8_t* const payload = frame + kFrameOverhead;
  const uint16_t length = m_params.ConstructPayloadFromParams(table, payload, kPayloadBufferSize);
  if (length == kPayloadOverflow) {
    m_payloadLength = 0;
    m_packetLength = 0;
    m_frameLength = 0;
    return 0;
  }
  m_payloadLength = length;
  m_packetLength = ConstructPacket(frame + kFrameHeaderSize, command, payload, length);
  InnerEncrypt(command, payload, length);
  m_frameLength = OuterEncrypt(frame, frame + kFrameHeaderSize, m_packetLength);
  return m_frameLength;
}

int32_t CPacketLumo::ExtractFullPacket(const uint8_t* bytes, size_t count, uint16_t* magic,
                                       uint32_t* command) {
  if (count == 0 || bytes[0] != kFrameStart) return kResultFail;

  uint8_t k = 0;
  size_t frameLength = 0;
  if (count >= kFrameOverhead) {
    k = static_cast<uint8_t>(bytes[1] - kFrameSecond);
    const size_t length = (static_cast<size_t>(static_cast<uint8_t>(bytes[8] - k)) << 8) |
                          static_cast<uint8_t>(bytes[9] - k);
    frameLength = length + kFrameOverhead;
  }
  if (frameLength == 0 || count < frameLength) {
    if (m_rxTrace) m_rxTrace(RxTraceStage::NotEnough, {bytes, std::min(count, kNotEnoughDump)});
    return kResultFail;
  }
  if (m_rxTrace) m_rxTrace(RxTraceStage::Received, {bytes, frameLength});

  uint8_t* const packet = m_buffer.data();
  const size_t packetLength = frameLength - kFrameHeaderSize;
  AddToEachByte(packet, bytes + kFrameHeaderSize, packetLength, static_cast<uint8_t>(-k));
  if (m_rxTrace) m_rxTrace(RxTraceStage::Unoffset, {packet, packetLength});

  uint32_t key = 0;
  const uint16_t length = ExtractPacket(packet, nullptr, &key, nullptr);
  InnerDecrypt(key, packet + kPacketHeaderSize, length);
  if (m_rxTrace) m_rxTrace(RxTraceStage::Unscrambled, {packet, packetLength});

  ExtractPacket(packet, magic, command, nullptr);
  std::memmove(packet, packet + kPacketHeaderSize, length);
  m_payloadLength = length;
  m_packetLength = static_cast<uint32_t>(packetLength);
  m_frameLength = static_cast<uint32_t>(frameLength);
  return static_cast<int32_t>(frameLength);
}

RxMessage ClassifyReceive(CPacketLumo& packet, const uint8_t* bytes, size_t count) {
  RxMessage message;
  if (ResultFailed(packet.ExtractFullPacket(bytes, count, &message.magic, &message.command))) {
    message.kind = RxKind::BadFrame;
  } else if (message.magic != kPacketMagic) {
    message.kind = RxKind::BadMagic;
  } else {
    message.kind = message.command == kCmdStat ? RxKind::Stat : RxKind::OtherCommand;
  }
  return message;
}
