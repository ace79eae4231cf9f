// Parameter lists of appliance messages: tag/length/value items described by
// a table of CParam rows that serves both for building and for parsing, and
// the tables of the four messages LGON, LGOF, BEAT and STAT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "ResultCodes.h"

// Two ASCII letters, first letter in the high byte ("UN" is 0x554E).
constexpr uint16_t MakeTag(const char (&letters)[3]) {
  return static_cast<uint16_t>((static_cast<uint8_t>(letters[0]) << 8) | static_cast<uint8_t>(letters[1]));
}

// Four ASCII letters, first letter in the most significant byte ("LGON" is 0x4C474F4E).
constexpr uint32_t MakeCommand(const char (&letters)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(letters[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(letters[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(letters[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(letters[3]));
}

constexpr uint32_t kCmdLgon = MakeCommand("LGON");
constexpr uint32_t kCmdLgof = MakeCommand("LGOF");
constexpr uint32_t kCmdBeat = MakeCommand("BEAT");
constexpr uint32_t kCmdStat = MakeCommand("STAT");

// Value encodings on the wire.
enum ParamType : uint32_t {
  PT_None = 0,    // not present after parsing, or unknown: written as an empty item
  PT_UInt32 = 1,  // 4 bytes big-endian
  PT_UInt16 = 2,  // 2 bytes big-endian
  PT_String = 3,  // 8-bit string, no NUL
  PT_Text = 4,    // 8-bit string, no NUL (same coding as 3)
  PT_Utf16 = 5,   // UTF-16 big-endian code units, no NUL (only where the dialect knows it)
  PT_Bytes = 6,   // opaque bytes
  PT_UInt8 = 7,   // 1 byte
};

constexpr uint32_t PF_Required = 1;
constexpr uint32_t PF_Present = 2;  // set by parsing

// Result of ConstructPayloadFromParams when the list does not fit (65536 bytes or more,
// or more than the caller's buffer holds).
constexpr uint16_t kPayloadOverflow = 0xFFFF;

// Payload buffers of the agents hold 64 KB.
constexpr size_t kPayloadBufferSize = 65536;

// One row of a parameter table; a row with tag 0 ends the table.
// The integer and the pointer are separate fields so that a pointer never has
// to fit a 32-bit slot.
struct CParam {
  uint16_t tag = 0;
  uint32_t type = PT_None;
  uint32_t value = 0;          // types 1, 2, 7 (low bits)
  const void* data = nullptr;  // types 3, 4, 6: bytes; type 5: char16_t code units in host order
  uint32_t flags = 0;
  // Building: byte length of a string or blob (0 takes the string's own length for 3, 4, 5).
  // After parsing: the received length (strings count the terminator that parsing adds).
  uint16_t length = 0;

  bool Present() const { return (flags & PF_Present) != 0; }
  bool Required() const { return (flags & PF_Required) != 0; }
  // The string of a type 3 or 4 row ("" when it has none). It stays valid for a default
  // that parsing kept, whose row has lost its type.
  const char* Text() const;
  // Writes the row as "{" tag ",[" value "]}\n": text for types 3 and 4, else the decimal value.
  void Print(std::ostream& out) const;
};

CParam IntParam(uint16_t tag, uint32_t type, uint32_t value, uint32_t flags = 0);
CParam DataParam(uint16_t tag, uint32_t type, const void* data, uint16_t length = 0, uint32_t flags = 0);
CParam EndParam();

// Bump allocator over a caller-supplied buffer, for the strings and blobs that
// parsing copies; it never touches the heap and never hands out more than the
// buffer holds.
class LocalMemoryStack {
 public:
  LocalMemoryStack(void* buffer, size_t capacity);

  void Reset();
  // The next free place for size bytes aligned to align (a power of two), or nullptr
  // when the buffer is missing or exhausted.
  void* Alloc(size_t size, size_t align = 1);

  size_t Used() const { return m_used; }

 private:
  uint8_t* m_buffer;
  size_t m_capacity;
  size_t m_used = 0;
};

// Order of the LGON rows on the wire differs between the agents.
enum class LgonOrder { Windows, Mac };

// What differs between the two agents' use of the protocol.
struct ProtocolDialect {
  bool utf16Params;      // parameter type 5 is known
  uint8_t logoffReason;  // RS value of LGOF
  LgonOrder lgonOrder;
};

inline constexpr ProtocolDialect kWindowsDialect{true, 1, LgonOrder::Windows};
inline constexpr ProtocolDialect kMacDialect{false, 2, LgonOrder::Mac};

// One item of a parameter list as it stands on the wire: 16-bit tag, 16-bit length, value.
struct PayloadItem {
  uint16_t tag = 0;
  uint16_t length = 0;
  const uint8_t* value = nullptr;
};
// Reads the item at offset and moves offset past it. False at the end of the list, and for
// an item that the list cannot hold (offset then stays before it).
bool NextPayloadItem(const uint8_t* payload, size_t length, size_t& offset, PayloadItem& item);
// The big-endian number that an integer item of 1, 2 or 4 bytes holds.
uint32_t ItemNumber(const PayloadItem& item);

class CProcessPayloadParams {
 public:
  explicit CProcessPayloadParams(bool utf16Params) : m_utf16Params(utf16Params) {}
  explicit CProcessPayloadParams(const ProtocolDialect& dialect) : m_utf16Params(dialect.utf16Params) {}

  // Writes the parameter list of table into out (capacity bytes) and returns its length.
  // Room is checked before every item: on overflow nothing more is written and the
  // result is kPayloadOverflow; a list of 65536 bytes or more is an overflow too.
  uint16_t ConstructPayloadFromParams(const CParam* table, uint8_t* out, size_t capacity) const;

  // Parses payload into table, copying strings and blobs into strings (which is reset
  // first). Returns the number of rows present, or kResultFail (a required parameter
  // missing or empty) or kResultMalformed (items overrun the payload, stray bytes, or
  // the string buffer is exhausted).
  int32_t ExtractParamsFromPayload(LocalMemoryStack& strings, CParam* table, const uint8_t* payload,
                                   size_t length) const;

 private:
  bool m_utf16Params;
};

// ---- The four messages ----

constexpr const char* kAgentVersionText = "Identra v2.0";
constexpr uint32_t kAgentVersionNumber = 0x00010009;

// The 8-bit (UTF-8 on Windows) identity that LGON carries.
struct LgonIdentity {
  uint8_t type = 0;  // TP
  std::string userName;
  std::string domainName;
  std::string groupName;
  std::string computerName;
  std::string fullName;
  std::string userDN;
  std::string computerDN;
};

// LGON table: TP UN DO GP CN FN DN WI VS VN (Windows) or TP UN DO DN GP CN FN WI VS VN (Mac).
// No row is required, so empty strings stay off the wire. The rows point into identity,
// which must outlive the table.
class LgonTable {
 public:
  static constexpr size_t kRows = 10;
  LgonTable(const LgonIdentity& identity, LgonOrder order);
  CParam* Rows() { return m_rows; }
  const CParam* Rows() const { return m_rows; }
  // Every row printed with CParam::Print, for the "LGON packet contents: " log line.
  std::string Contents() const;

 private:
  CParam m_rows[kRows + 1];
};

// LGOF: one required RS row (type 7).
class LgofTable {
 public:
  explicit LgofTable(uint8_t reason);
  CParam* Rows() { return m_rows; }
  const CParam* Rows() const { return m_rows; }

 private:
  CParam m_rows[2];
};

// BEAT: one required MS row (type 1).
class BeatTable {
 public:
  explicit BeatTable(uint32_t milliseconds);
  CParam* Rows() { return m_rows; }
  const CParam* Rows() const { return m_rows; }

 private:
  CParam m_rows[2];
};

// STAT as the agents parse it: ST (7, required, 0), ER (3, "None"), RH (1, the
// configured heartbeat), CF (3, "").
class StatTable {
 public:
  explicit StatTable(uint32_t configuredHeartbeat);
  CParam* Rows() { return m_rows; }
  const CParam* Rows() const { return m_rows; }

  uint32_t Status() const { return m_rows[0].value; }
  const char* ErrorText() const { return m_rows[1].Text(); }
  uint32_t Heartbeat() const { return m_rows[2].value; }
  const char* ConfigText() const { return m_rows[3].Text(); }

 private:
  CParam m_rows[5];
};

// How a STAT payload is to be handled; each agent logs it through its own channels.
enum class StatOutcome {
  Accepted,    // ST 0: the logon acknowledgement
  VersionOld,  // ST 1: "Client Version Is Old"; a protocol failure
  Refused,     // any other status; a protocol failure
  Malformed,   // the parameters did not parse; a protocol failure
};

struct StatReply {
  StatOutcome outcome = StatOutcome::Malformed;
  int32_t parseResult = kResultFail;  // rows present, or the parse's result code
  uint32_t status = 0;                // ST
  std::string errorText;              // ER
  uint32_t heartbeat = 0;             // RH
  std::string configText;             // CF

  bool ProtocolFailure() const { return outcome != StatOutcome::Accepted; }
};

StatReply ReadStatReply(const CProcessPayloadParams& codec, const uint8_t* payload, size_t length,
                        uint32_t configuredHeartbeat);
