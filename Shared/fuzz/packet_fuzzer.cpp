// libFuzzer target: one receive of untrusted bytes through the frame reader and the
// STAT parse, as both agents run them, plus a table with every parameter type.
#include <cstddef>
#include <cstdint>

#include "PacketLumo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CPacketLumo windows(kWindowsDialect, [] { return uint8_t{0}; });
  static CPacketLumo mac(kMacDialect, [] { return uint8_t{0}; });

  for (CPacketLumo* packet : {&windows, &mac}) {
    const RxMessage message = ClassifyReceive(*packet, data, size);
    if (message.kind == RxKind::BadFrame) continue;
    ReadStatReply(packet->Params(), packet->Payload(), packet->PayloadLength(), 30000);

    // A small string buffer, so that exhausting it is exercised too.
    char strings[96];
    LocalMemoryStack stack(strings, sizeof strings);
    CParam table[] = {IntParam(MakeTag("ST"), PT_UInt8, 0, PF_Required), IntParam(MakeTag("PT"), PT_UInt16, 0),
                      IntParam(MakeTag("RH"), PT_UInt32, 0),           DataParam(MakeTag("ER"), PT_String, "None"),
                      DataParam(MakeTag("VS"), PT_Text, ""),           DataParam(MakeTag("WN"), PT_Utf16, u""),
                      DataParam(MakeTag("BL"), PT_Bytes, nullptr),     EndParam()};
    packet->Params().ExtractParamsFromPayload(stack, table, packet->Payload(), packet->PayloadLength());

    // Whatever parsed builds again within the buffer's bounds.
    for (CParam& row : table) row.flags &= ~PF_Present;
    packet->ConstructFullPacket(message.command, table);
  }
  return 0;
}
