#include "PayloadParams.h"

#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>

namespace {

constexpr size_t kItemHeaderSize = 4;

void PutBE16(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

void PutBE32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

uint16_t GetBE16(const uint8_t* in) { return static_cast<uint16_t>((in[0] << 8) | in[1]); }

// Received length of a string row, counting the terminator that parsing adds.
uint16_t WithTerminator(size_t n, size_t terminator) {
  return static_cast<uint16_t>(n + terminator > 0xFFFF ? 0xFFFF : n + terminator);
}

uint32_t GetBE32(const uint8_t* in) {
  return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
         (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

size_t Utf16Count(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Value length of one row as it goes on the wire; -1 when the row gives no item at all.
long ItemLength(const CParam& row, bool utf16Params) {
  auto emptyItem = [&row]() -> long { return row.Required() ? 0 : -1; };
  switch (row.type) {
    case PT_UInt32:
      return 4;
    case PT_UInt16:
      return 2;
    case PT_UInt8:
      return 1;
    case PT_String:
    case PT_Text: {
      if (row.data == nullptr) return emptyItem();
      size_t n = row.length;
      if (n == 0) n = std::strlen(static_cast<const char*>(row.data));
      return n == 0 ? emptyItem() : static_cast<long>(n);
    }
    case PT_Utf16:
      if (utf16Params) {
        if (row.data == nullptr) return emptyItem();
        size_t n = row.length;
        if (n == 0) n = 2 * Utf16Count(static_cast<const char16_t*>(row.data));
        return n == 0 ? emptyItem() : static_cast<long>(n);
      }
      return 0;
    case PT_Bytes:
      return (row.length == 0 || row.data == nullptr) ? emptyItem() : row.length;
    default:
      return 0;
  }
}

void WriteValue(const CParam& row, uint8_t* out, size_t n, bool utf16Params) {
  switch (row.type) {
    case PT_UInt32:
      PutBE32(out, row.value);
      break;
    case PT_UInt16:
      PutBE16(out, row.value);
      break;
    case PT_UInt8:
      out[0] = static_cast<uint8_t>(row.value);
      break;
    case PT_String:
    case PT_Text:
    case PT_Bytes:
      if (n > 0) std::memcpy(out, row.data, n);
      break;
    case PT_Utf16:
      if (utf16Params) {
        const auto* units = static_cast<const char16_t*>(row.data);
        for (size_t i = 0; i < n; ++i) {
          const uint16_t unit = static_cast<uint16_t>(units[i / 2]);
          out[i] = static_cast<uint8_t>((i % 2 == 0) ? unit >> 8 : unit);
        }
      }
      break;
    default:
      break;
  }
}

}  // namespace

const char* CParam::Text() const { return data != nullptr ? static_cast<const char*>(data) : ""; }

void CParam::Print(std::ostream& out) const {
  out << '{' << static_cast<char>(tag >> 8) << static_cast<char>(tag & 0xFF) << ",[";
  if (type == PT_String || type == PT_Text)
    out << Text();
  else
    out << value;
  out << "]}\n";
}

CParam IntParam(uint16_t tag, uint32_t type, uint32_t value, uint32_t flags) {
  CParam row;
  row.tag = tag;
  row.type = type;
  row.value = value;
  row.flags = flags;
  return row;
}

CParam DataParam(uint16_t tag, uint32_t type, const void* data, uint16_t length, uint32_t flags) {
  CParam row;
  row.tag = tag;
  row.type = type;
  row.data = data;
  row.length = length;
  row.flags = flags;
  return row;
}

CParam EndParam() { return CParam(); }

LocalMemoryStack::LocalMemoryStack(void* buffer, size_t capacity)
    : m_buffer(static_cast<uint8_t*>(buffer)), m_capacity(buffer != nullptr ? capacity : 0) {}

void LocalMemoryStack::Reset() { m_used = 0; }

void* LocalMemoryStack::Alloc(size_t size, size_t align) {
  if (m_buffer == nullptr) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(m_buffer);
  const size_t start = ((base + m_used + align - 1) & ~(uintptr_t(align) - 1)) - base;
  if (start > m_capacity || size > m_capacity - start) return nullptr;
  m_used = start + size;
  return m_buffer + start;
}

uint16_t CProcessPayloadParams::ConstructPayloadFromParams(const CParam* table, uint8_t* out,
                                                           size_t capacity) const {
  size_t used = 0;
  for (const CParam* row = table; row->tag != 0; ++row) {
    const long n = ItemLength(*row, m_utf16Params);
    if (n < 0) continue;
    const size_t itemSize = kItemHeaderSize + static_cast<size_t>(n);
    // A value longer than 16 bits of length cannot be framed either.
    if (itemSize > capacity - used || static_cast<size_t>(n) > 0xFFFF) return kPayloadOverflow;
    PutBE16(out + used, row->tag);
    PutBE16(out + used + 2, static_cast<uint32_t>(n));
    WriteValue(*row, out + used + kItemHeaderSize, static_cast<size_t>(n), m_utf16Params);
    used += itemSize;
  }
  return used >= 0xFFFF ? kPayloadOverflow : static_cast<uint16_t>(used);
}

bool NextPayloadItem(const uint8_t* payload, size_t length, size_t& offset, PayloadItem& item) {
  if (offset + kItemHeaderSize > length) return false;
  const uint16_t n = GetBE16(payload + offset + 2);
  if (offset + kItemHeaderSize + n > length) return false;
  item.tag = GetBE16(payload + offset);
  item.length = n;
  item.value = payload + offset + kItemHeaderSize;
  offset += kItemHeaderSize + n;
  return true;
}

uint32_t ItemNumber(const PayloadItem& item) {
  uint32_t number = 0;
  for (size_t i = 0; i < item.length && i < 4; ++i) number = (number << 8) | item.value[i];
  return number;
}

int32_t CProcessPayloadParams::ExtractParamsFromPayload(LocalMemoryStack& strings, CParam* table,
                                                        const uint8_t* payload, size_t length) const {
  strings.Reset();
  size_t p = 0;
  PayloadItem item;
  while (NextPayloadItem(payload, length, p, item)) {
    const uint16_t tag = item.tag;
    const uint16_t n = item.length;
    const uint8_t* value = item.value;

    CParam* row = table;
    while (row->tag != 0 && row->tag != tag) ++row;
    if (row->tag == 0) continue;
    if (row->Required() && n == 0) return kResultFail;

    switch (row->type) {
      case PT_UInt32:
        if (n != 4) continue;
        row->value = GetBE32(value);
        row->length = n;
        break;
      case PT_UInt16:
        if (n != 2) continue;
        row->value = GetBE16(value);
        row->length = n;
        break;
      case PT_UInt8:
        if (n != 1) continue;
        row->value = value[0];
        row->length = n;
        break;
      case PT_String:
      case PT_Text:
        if (n > 0) {
          auto* copy = static_cast<char*>(strings.Alloc(size_t(n) + 1));
          if (copy == nullptr) return kResultMalformed;
          std::memcpy(copy, value, n);
          copy[n] = '\0';
          row->data = copy;
          row->length = WithTerminator(n, 1);
        }
        break;
      case PT_Utf16:
        if (!m_utf16Params) continue;
        if (n >= 2) {
          const size_t units = n / 2;
          auto* copy = static_cast<char16_t*>(strings.Alloc((units + 1) * sizeof(char16_t), alignof(char16_t)));
          if (copy == nullptr) return kResultMalformed;
          for (size_t i = 0; i < units; ++i) copy[i] = static_cast<char16_t>(GetBE16(value + 2 * i));
          copy[units] = u'\0';
          row->data = copy;
          // An odd last byte is no code unit: the length covers what was copied.
          row->length = WithTerminator(2 * units, 2);
        }
        break;
      case PT_Bytes:
        if (n > 0) {
          auto* copy = static_cast<uint8_t*>(strings.Alloc(n));
          if (copy == nullptr) return kResultMalformed;
          std::memcpy(copy, value, n);
          row->data = copy;
          row->length = n;
        }
        break;
      default:
        continue;
    }
    row->flags |= PF_Present;
  }
  if (p != length) return kResultMalformed;

  int32_t present = 0;
  int32_t result = 0;
  for (CParam* row = table; row->tag != 0; ++row) {
    if (row->Present()) {
      ++present;
    } else if (row->Required()) {
      result = kResultFail;
    } else {
      row->type = PT_None;
    }
  }
  return result != 0 ? result : present;
}

LgonTable::LgonTable(const LgonIdentity& id, LgonOrder order) {
  const CParam tp = IntParam(MakeTag("TP"), PT_UInt8, id.type);
  const CParam un = DataParam(MakeTag("UN"), PT_String, id.userName.c_str());
  const CParam dom = DataParam(MakeTag("DO"), PT_String, id.domainName.c_str());
  const CParam gp = DataParam(MakeTag("GP"), PT_String, id.groupName.c_str());
  const CParam cn = DataParam(MakeTag("CN"), PT_String, id.computerName.c_str());
  const CParam fn = DataParam(MakeTag("FN"), PT_String, id.fullName.c_str());
  const CParam dn = DataParam(MakeTag("DN"), PT_String, id.userDN.c_str());
  const CParam wi = DataParam(MakeTag("WI"), PT_String, id.computerDN.c_str());
  const CParam vs = DataParam(MakeTag("VS"), PT_Text, kAgentVersionText);
  const CParam vn = IntParam(MakeTag("VN"), PT_UInt32, kAgentVersionNumber);
  size_t i = 0;
  if (order == LgonOrder::Windows) {
    for (const CParam& row : {tp, un, dom, gp, cn, fn, dn, wi, vs, vn}) m_rows[i++] = row;
  } else {
    for (const CParam& row : {tp, un, dom, dn, gp, cn, fn, wi, vs, vn}) m_rows[i++] = row;
  }
  m_rows[i] = EndParam();
}

std::string LgonTable::Contents() const {
  std::ostringstream text;
  for (const CParam* row = m_rows; row->tag != 0; ++row) row->Print(text);
  return text.str();
}

LgofTable::LgofTable(uint8_t reason) {
  m_rows[0] = IntParam(MakeTag("RS"), PT_UInt8, reason, PF_Required);
  m_rows[1] = EndParam();
}

BeatTable::BeatTable(uint32_t milliseconds) {
  m_rows[0] = IntParam(MakeTag("MS"), PT_UInt32, milliseconds, PF_Required);
  m_rows[1] = EndParam();
}

StatTable::StatTable(uint32_t configuredHeartbeat) {
  m_rows[0] = IntParam(MakeTag("ST"), PT_UInt8, 0, PF_Required);
  m_rows[1] = DataParam(MakeTag("ER"), PT_String, "None");
  m_rows[2] = IntParam(MakeTag("RH"), PT_UInt32, configuredHeartbeat);
  m_rows[3] = DataParam(MakeTag("CF"), PT_String, "");
  m_rows[4] = EndParam();
}

StatReply ReadStatReply(const CProcessPayloadParams& codec, const uint8_t* payload, size_t length,
                        uint32_t configuredHeartbeat) {
  // Every copy (terminator and alignment included) is smaller than its item with the item's
  // 4-byte header, so the copies of one payload fit in its length; nothing needs zeroing.
  const size_t stringsSize = length + 2;
  const std::unique_ptr<uint8_t[]> strings = std::make_unique_for_overwrite<uint8_t[]>(stringsSize);
  LocalMemoryStack stack(strings.get(), stringsSize);
  StatTable table(configuredHeartbeat);

  StatReply reply;
  reply.parseResult = codec.ExtractParamsFromPayload(stack, table.Rows(), payload, length);
  reply.status = table.Status();
  reply.errorText = table.ErrorText();
  reply.heartbeat = table.Heartbeat();
  reply.configText = table.ConfigText();
  if (ResultFailed(reply.parseResult))
    reply.outcome = StatOutcome::Malformed;
  else if (reply.status == 0)
    reply.outcome = StatOutcome::Accepted;
  else if (reply.status == 1)
    reply.outcome = StatOutcome::VersionOld;
  else
    reply.outcome = StatOutcome::Refused;
  return reply;
}
