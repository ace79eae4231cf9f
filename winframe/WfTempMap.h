// Wrapper objects handed out for handles that no permanent object owns (the
// old font returned by SelectObject, GetDlgItem of a plain control). They never
// release their handle; each stays valid while its handle is alive, and is
// dropped once the handle has gone (checked whenever no message is being handled).
#pragma once

#include <memory>
#include <unordered_map>

template <class Wrapper, class Handle>
class WfTempMap {
 public:
  // The one wrapper of this handle; made on first request.
  Wrapper* Get(Handle handle) {
    std::unique_ptr<Wrapper>& slot = map_[handle];
    if (!slot) {
      slot = std::make_unique<Wrapper>();
      slot->AttachTemporary(handle);
    }
    return slot.get();
  }
  void Remove(Handle handle) { map_.erase(handle); }
  template <class IsGone>
  void Purge(IsGone isGone) {
    for (auto it = map_.begin(); it != map_.end();)
      it = isGone(it->first) ? map_.erase(it) : ++it;
  }

 private:
  std::unordered_map<Handle, std::unique_ptr<Wrapper>> map_;
};
