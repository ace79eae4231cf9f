// The state-machine framework on the run loop: synchronous dispatch with one trace line per
// event, delayed events as one-shot run-loop timers, and signals other machines subscribe to.
//
// The owner class T supplies:
//   static constexpr int32_t kInitialState;
//   static const char* StateName(int32_t), EventName(int32_t), SignalName(int32_t)  (null: unnamed)
//   const char* DisplayName() const;
//   void process_event(int32_t state, int32_t event, int32_t* nextState, void* data);
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Basetypes.h"
#include "support/Logging.h"

// A programming error: the condition, function, source file and line on stderr, then abort.
#define AGENT_ASSERT(condition, file)                                                                \
  do {                                                                                               \
    if (!(condition)) {                                                                              \
      fprintf(stderr, "Assertion failed: (%s), function %s, file %s, line %d.\n", #condition, __func__, \
              file, __LINE__);                                                                       \
      abort();                                                                                       \
    }                                                                                                \
  } while (0)
#define FSM_ASSERT(condition) AGENT_ASSERT(condition, "FSM_Base")

// Internal events every machine names; only EV_AppTerminate is dispatched.
enum FSM_Base_IntEvent : int32_t {
  EV_AppTerminate = 1001,
  EV_Pause = 1002,
  EV_Debug_Dump = 1003,
};

// The signals of the logon machine.
enum FSM_Base_Signals : int32_t {
  SG_OperationComplete = 100,
  SG_Disconnected = 101,
  SG_Connected = 102,
  SG_Idle = 103,
  SG_Shutdown = 104,
  SG_ErrorAbort = 105,
  SG_AckTimeout = 106,
};
const char* FSM_Base_SignalName(int32_t signal);

const char* FSM_Base_IntEventName(int32_t event);

// A name, or the fallback "<prefix>_UNK_<number>" in the caller's buffer.
const char* FSM_NameOrUnknown(const char* name, const char* prefix, int32_t number, char* buffer, size_t size);

template <class T>
class FSM_Base {
 public:
  struct SubscriptionType {
    void (*callback)(SubscriptionType* subscription) = nullptr;
    int32_t signal = 0;
    void* context = nullptr;
    FSM_Base* source = nullptr;  // the raising machine, filled in at each raise
    int32_t id = 0;
  };

  explicit FSM_Base(T* owner) : _state(T::kInitialState), _owner(owner) {}
  FSM_Base(const FSM_Base&) = delete;
  FSM_Base& operator=(const FSM_Base&) = delete;

  ~FSM_Base() {
    for (const SigChannel& channel : _channels) FSM_ASSERT(channel.subscribers.empty());
    for (auto it = _pending.rbegin(); it != _pending.rend(); ++it) {
      CFRunLoopTimerInvalidate(*it);
      CFRelease(*it);
    }
    _pending.clear();
  }

  void onEvent(int32_t event, void* data) {
    RefxPtr<T> hold(this);  // a handler that drops the machine's references cannot end it here
    const int32_t old = _state;
    ++_depth;
    FSM_ASSERT(_owner);
    char eventName[128];
    EventName(event, eventName, sizeof eventName);
    _owner->process_event(old, event, &_state, data);
    char oldName[128], newName[128];
    StateName(old, oldName, sizeof oldName);
    StateName(_state, newName, sizeof newName);
    if (_state != old)
      Logf(SEV_DEBUG, "%s:%s state change, event %s [%s]=>[%s]", _owner->DisplayName(), "", eventName, oldName,
           newName);
    else
      Logf(SEV_DEBUG, "%s:%s event %s, no change [%s]", _owner->DisplayName(), "", eventName, newName);
    --_depth;
  }

  // Dispatches the event from the run loop after delay seconds.
  void PostEvent(double delay, bool repeat, int32_t event, void* data) {
    auto* record = new PostedEvent{event, repeat, data, this};
    CFRunLoopTimerContext context{0, record, nullptr, &PostedEvent::Free, nullptr};
    CFRunLoopTimerRef timer = CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + delay,
                                                   repeat ? delay : 0, 0, 0, &FSM_Base::TimerCallback, &context);
    _pending.push_back(timer);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
  }

  // 0 when refused (no callback or signal 0).
  int32_t SubscribeToSignal(const SubscriptionType& record) {
    if (!record.callback || record.signal == 0) return 0;
    SigChannel* channel = FindChannel(record.signal);
    if (!channel) {
      _channels.push_back(SigChannel{record.signal, {}});
      channel = &_channels.back();
    }
    SubscriptionType copy = record;
    if (copy.id == 0) copy.id = _nextSubscriptionId++;
    channel->subscribers.push_back(copy);
    return copy.id;
  }

  int32_t SubscribeToSignals(void (*callback)(SubscriptionType*), void* context, int32_t count,
                             const int32_t* signals) {
    SubscriptionType record;
    record.callback = callback;
    record.context = context;
    record.id = _nextSubscriptionId++;
    for (int32_t i = 0; i < count; ++i) {
      record.signal = signals[i];
      SubscribeToSignal(record);
    }
    return record.id;
  }

  void Unsubscribe(int32_t id) {
    for (auto channel = _channels.rbegin(); channel != _channels.rend(); ++channel) {
      auto& subs = channel->subscribers;
      for (size_t i = subs.size(); i-- > 0;)
        if (subs[i].id == id) subs.erase(subs.begin() + static_cast<long>(i));
    }
  }

  void raise_signal(int32_t signal) {
    RefxPtr<T> hold(this);
    char name[128];
    SignalName(signal, name, sizeof name);
    Logf(SEV_DEBUG, "%s: raised signal %s", _owner->DisplayName(), name);
    SigChannel* channel = FindChannel(signal);
    if (!channel) return;
    // Callbacks may unsubscribe themselves or others: walk a snapshot and call only those
    // still subscribed, each with its own copy of the record.
    const std::vector<SubscriptionType> snapshot = channel->subscribers;
    int position = 0;
    for (SubscriptionType record : snapshot) {
      ++position;
      if (!StillSubscribed(signal, record)) continue;
      record.source = this;
      try {
        record.callback(&record);
      } catch (...) {
        Logf(SEV_NOTICE, "%s: Exception caught in signal handler #%d for signal type %s", _owner->DisplayName(),
             position, name);
      }
    }
  }

  // Formats into at most 4095 characters and logs through the machine's source.
  void Logf(int32_t severity, const char* format, ...) const __attribute__((format(printf, 3, 4))) {
    if (!format) return;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    _log.Log(severity, text);
  }

  int32_t state() const { return _state; }
  int32_t depth() const { return _depth; }
  T* owner() const { return _owner.get(); }
  LogSource& Log() { return _log; }

 private:
  friend class RefxPtr<T>;

  struct SigChannel {
    int32_t signal;
    std::vector<SubscriptionType> subscribers;
  };

  struct PostedEvent {
    int32_t event;
    bool repeat;
    void* data;
    FSM_Base* machine;
    static void Free(const void* record) { delete static_cast<const PostedEvent*>(record); }
  };

  static void TimerCallback(CFRunLoopTimerRef timer, void* info) {
    const PostedEvent record = *static_cast<PostedEvent*>(info);
    FSM_Base* machine = record.machine;
    RefxPtr<T> hold(machine);  // alive for the whole dispatch
    if (!record.repeat) {
      // Unlinked first: the record goes with the timer, and a dispatch that destroys the
      // machine finds nothing of this event left to clean up.
      auto& pending = machine->_pending;
      for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (*it != timer) continue;
        pending.erase(it);
        CFRunLoopTimerInvalidate(timer);
        CFRelease(timer);
        break;
      }
    }
    try {
      machine->onEvent(record.event, record.data);
    } catch (...) {
    }
  }

  SigChannel* FindChannel(int32_t signal) {
    for (SigChannel& channel : _channels)
      if (channel.signal == signal) return &channel;
    return nullptr;
  }

  bool StillSubscribed(int32_t signal, const SubscriptionType& record) {
    SigChannel* channel = FindChannel(signal);
    if (!channel) return false;
    for (const SubscriptionType& live : channel->subscribers)
      if (live.id == record.id && live.callback == record.callback && live.context == record.context) return true;
    return false;
  }

  static void StateName(int32_t state, char* buffer, size_t size) {
    FSM_NameOrUnknown(T::StateName(state), "ST", state, buffer, size);
  }
  static void EventName(int32_t event, char* buffer, size_t size) {
    const char* name = T::EventName(event);
    FSM_NameOrUnknown(name ? name : FSM_Base_IntEventName(event), "EV", event, buffer, size);
  }
  static void SignalName(int32_t signal, char* buffer, size_t size) {
    FSM_NameOrUnknown(T::SignalName(signal), "SG", signal, buffer, size);
  }

  int32_t _state;
  int32_t _depth = 0;
  int32_t m_refCount = 0;
  int32_t _nextSubscriptionId = 100;
  std::vector<SigChannel> _channels;
  LogSource _log;
  std::vector<CFRunLoopTimerRef> _pending;
  RefPtr<T> _owner;
};

// Makes a machine around a new owner, held by the returned reference.
template <class T>
RefxPtr<T> MakeMachine(T* owner) {
  return RefxPtr<T>(new FSM_Base<T>(owner));
}
