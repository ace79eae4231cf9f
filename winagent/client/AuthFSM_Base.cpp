#include "client/AuthFSM_Base.h"

#include <cstdio>
#include <cstring>

#include "client/AuthFsmOwner.h"
#include "support/Logging.h"

void AuthFSM_Base::onEvent(int32_t event) {
  const int32_t before = GetState();
  ++depth_;
  HandleEvent(event);
  --depth_;
  const int32_t after = GetState();

  char eventName[kNameChars];
  char beforeName[kNameChars];
  char afterName[kNameChars];
  TsAuthFSM line(2, owner_->InstanceText());
  line << name_ << " => " << label_ << ": state change, event " << EventName(event, eventName);
  if (before != after) {
    line << " [" << StateName(before, beforeName) << "]=>[" << StateName(after, afterName)
         << "] :" << depth_;
  } else {
    line << ", no change [" << StateName(after, afterName) << "] :" << depth_;
  }
}

const char* AuthFSM_Base::FormatName(const char* known, const char* prefix, int32_t number,
                                     char* buffer) {
  if (known) {
    snprintf(buffer, kNameChars, "%s", known);
  } else {
    snprintf(buffer, kNameChars, "%s_UNKNOWN_%d", prefix, static_cast<int>(number));
  }
  return buffer;
}
