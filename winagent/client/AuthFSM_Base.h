// Framework of the client's two state machines: one entry point for events, a nesting depth,
// and one trace line per dispatch.
#pragma once

#include <cstdint>

class AuthFsmOwner;

class AuthFSM_Base {
 public:
  static constexpr int kNameChars = 50;

  // The names of a machine's known states and events (null for a number without one).
  using NameLookup = const char* (*)(int32_t number);

  AuthFSM_Base(const char* name, AuthFsmOwner* owner, NameLookup states, NameLookup events)
      : name_(name), owner_(owner), states_(states), events_(events) {}
  AuthFSM_Base(const AuthFSM_Base&) = delete;
  AuthFSM_Base& operator=(const AuthFSM_Base&) = delete;

  // Delivers one event: runs the handler (which may dispatch to this machine or its peer)
  // and then writes the trace line, so nested dispatches are traced first.
  void onEvent(int32_t event);

  virtual void HandleEvent(int32_t event) = 0;
  // Write the name into buffer (kNameChars characters) and return it: the known one, or
  // "EV_UNKNOWN_<number>" / "ST_UNKNOWN_<number>".
  const char* EventName(int32_t event, char* buffer) const { return FormatName(events_(event), "EV", event, buffer); }
  const char* StateName(int32_t state, char* buffer) const { return FormatName(states_(state), "ST", state, buffer); }
  virtual int32_t GetState() = 0;

  int32_t Depth() const { return depth_; }

 protected:
  ~AuthFSM_Base() = default;

  const char* name_;
  const char* label_ = "";  // never filled in this agent
  AuthFsmOwner* owner_;
  int32_t depth_ = 0;

 private:
  // Copies a known name, or "<prefix>_UNKNOWN_<number>" for a number without one.
  static const char* FormatName(const char* known, const char* prefix, int32_t number,
                                char* buffer);

  NameLookup states_;
  NameLookup events_;
};
