#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/FSM_Base.h"
#include "TestSupport.h"

namespace {

// A small machine whose handlers do what each test asks of them.
struct Toy {
  enum : int32_t { ST_A = 10, ST_B = 11 };
  enum : int32_t { EV_Go = 20, EV_Nested = 21, EV_Post = 22, EV_Drop = 23, EV_Note = 24 };
  static constexpr int32_t kInitialState = ST_A;
  static const char* StateName(int32_t s) { return s == ST_A ? "ST_A" : s == ST_B ? "ST_B" : nullptr; }
  static const char* EventName(int32_t e) {
    switch (e) {
      case EV_Go:
        return "EV_Go";
      case EV_Nested:
        return "EV_Nested";
      case EV_Post:
        return "EV_Post";
      case EV_Drop:
        return "EV_Drop";
      case EV_Note:
        return "EV_Note";
      default:
        return nullptr;
    }
  }
  static const char* SignalName(int32_t s) { return s == 7 ? "SG_Toy" : nullptr; }
  const char* DisplayName() const { return "Toy"; }

  explicit Toy(std::vector<std::string>* journal) : journal(journal) {}
  ~Toy() { journal->push_back("destroyed"); }

  void process_event(int32_t state, int32_t event, int32_t* next, void* data) {
    journal->push_back(std::string("in ") + (EventName(event) ? EventName(event) : "?") +
                       (data ? std::string(" ") + static_cast<const char*>(data) : ""));
    switch (event) {
      case EV_Go:
        *next = state == ST_A ? ST_B : ST_A;
        break;
      case EV_Nested:
        *next = ST_B;
        fsm->onEvent(EV_Go, nullptr);  // sees ST_B at once and goes back to ST_A
        break;
      case EV_Post:
        fsm->PostEvent(0.00001, false, EV_Note, const_cast<char*>("posted"));
        break;
      case EV_Drop:
        keeper->decr();  // the last outside reference goes mid-dispatch
        break;
      case 1234:
        *next = 4321;
        break;
      default:
        break;
    }
    journal->push_back("out");
  }

  std::vector<std::string>* journal;
  FSM_Base<Toy>* fsm = nullptr;
  RefxPtr<Toy>* keeper = nullptr;
};

RefxPtr<Toy> MakeToy(std::vector<std::string>* journal) {
  auto* toy = new Toy(journal);
  RefxPtr<Toy> machine = MakeMachine(toy);
  toy->fsm = machine.get();
  machine->Log().SetName("Toy");
  return machine;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " | ") + item;
  return text;
}

TEST(FSM_Base, DispatchTraceLinesNestedFirst) {
  VirtualClock clock;
  std::vector<std::string> journal;
  {
    LogLines log;
    RefxPtr<Toy> toy = MakeToy(&journal);
    toy->onEvent(Toy::EV_Go, nullptr);
    toy->onEvent(999, nullptr);
    toy->onEvent(EV_AppTerminate, nullptr);
    toy->onEvent(Toy::EV_Nested, nullptr);  // the outer line sees the state the inner one wrote
    toy->onEvent(1234, nullptr);
    EXPECT_EQ(toy->state(), 4321);
    EXPECT_EQ(toy->depth(), 0);
    const std::vector<std::string> expected = {
        "0 Toy => Toy: state change, event EV_Go [ST_A]=>[ST_B]",
        "0 Toy => Toy: event EV_UNK_999, no change [ST_B]",
        "0 Toy => Toy: event EV_AppTerminate, no change [ST_B]",
        "0 Toy => Toy: state change, event EV_Go [ST_B]=>[ST_A]",
        "0 Toy => Toy: state change, event EV_Nested [ST_B]=>[ST_A]",
        "0 Toy => Toy: state change, event EV_UNK_1234 [ST_A]=>[ST_UNK_4321]",
    };
    EXPECT_EQ(log.Matching("Toy:"), expected);
  }
  EXPECT_EQ(journal.back(), "destroyed");
}

TEST(FSM_Base, PostedEventsRunLaterInFireOrder) {
  VirtualClock clock;
  std::vector<std::string> journal;
  RefxPtr<Toy> toy = MakeToy(&journal);
  toy->PostEvent(2.0, false, Toy::EV_Note, const_cast<char*>("late"));
  toy->PostEvent(1.0, false, Toy::EV_Note, const_cast<char*>("first"));
  toy->PostEvent(1.0, false, Toy::EV_Note, const_cast<char*>("second"));
  toy->onEvent(Toy::EV_Post, nullptr);  // posts "posted" a few microseconds ahead
  EXPECT_EQ(Joined(journal), "in EV_Post | out");
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  EXPECT_EQ(Joined(journal),
            "in EV_Post | out | in EV_Note posted | out | in EV_Note first | out | in EV_Note second | out | "
            "in EV_Note late | out");
}

TEST(FSM_Base, MachineDroppedInsideItsDispatchLivesUntilItEnds) {
  VirtualClock clock;
  std::vector<std::string> journal;
  auto* keeper = new RefxPtr<Toy>(MakeToy(&journal));
  (*keeper)->owner()->keeper = keeper;
  (*keeper)->PostEvent(5.0, false, Toy::EV_Note, const_cast<char*>("never"));
  // A posted event whose dispatch drops the last reference.
  (*keeper)->PostEvent(1.0, false, Toy::EV_Drop, nullptr);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  EXPECT_EQ(Joined(journal), "in EV_Drop | out | destroyed");
  delete keeper;
}

TEST(FSM_Base, DestroyedMachineTakesItsPendingEventsOffTheLoop) {
  VirtualClock clock;
  std::vector<std::string> journal;
  {
    RefxPtr<Toy> toy = MakeToy(&journal);
    toy->PostEvent(1.0, false, Toy::EV_Note, const_cast<char*>("never"));
    toy->PostEvent(0.00001, false, Toy::EV_Note, const_cast<char*>("never"));
  }
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  EXPECT_EQ(Joined(journal), "destroyed");
}

// Signals -----------------------------------------------------------------------------------

struct SignalProbe {
  std::vector<std::string> calls;
  FSM_Base<Toy>* machine = nullptr;
  int32_t removeOnCall = 0;  // an id to unsubscribe when called
  bool throwOnCall = false;
  std::string name;
};

void OnSignal(FSM_Base<Toy>::SubscriptionType* s) {
  auto* probe = static_cast<SignalProbe*>(s->context);
  probe->calls.push_back(probe->name + ":" + std::to_string(s->signal) + (s->source == probe->machine ? "" : "?"));
  if (probe->removeOnCall) probe->machine->Unsubscribe(probe->removeOnCall);
  if (probe->throwOnCall) throw 1;
}

TEST(FSM_Base, SubscriptionIdsAndRefusals) {
  VirtualClock clock;
  std::vector<std::string> journal;
  RefxPtr<Toy> toy = MakeToy(&journal);
  SignalProbe probe;
  probe.machine = toy.get();
  probe.name = "p";
  const int32_t signals[] = {5, 6, 7};
  const int32_t id = toy->SubscribeToSignals(&OnSignal, &probe, 3, signals);
  EXPECT_EQ(id, 100);
  FSM_Base<Toy>::SubscriptionType refused;
  refused.signal = 5;
  EXPECT_EQ(toy->SubscribeToSignal(refused), 0);  // no callback
  refused.callback = &OnSignal;
  refused.signal = 0;
  EXPECT_EQ(toy->SubscribeToSignal(refused), 0);
  for (int32_t s : signals) toy->raise_signal(s);
  EXPECT_EQ(Joined(probe.calls), "p:5 | p:6 | p:7");
  toy->Unsubscribe(id);
  toy->raise_signal(6);
  EXPECT_EQ(probe.calls.size(), 3u);
  refused.signal = 9;
  refused.context = &probe;
  EXPECT_EQ(toy->SubscribeToSignal(refused), 101);
  toy->Unsubscribe(101);
}

TEST(FSM_Base, CallbacksMayRemoveSubscriptionsDuringARaise) {
  VirtualClock clock;
  std::vector<std::string> journal;
  LogLines log;
  RefxPtr<Toy> toy = MakeToy(&journal);
  SignalProbe first, second, third;
  for (SignalProbe* p : {&first, &second, &third}) p->machine = toy.get();
  first.name = "first";
  second.name = "second";
  third.name = "third";
  const int32_t seven[] = {7};
  const int32_t idFirst = toy->SubscribeToSignals(&OnSignal, &first, 1, seven);
  const int32_t idSecond = toy->SubscribeToSignals(&OnSignal, &second, 1, seven);
  const int32_t idThird = toy->SubscribeToSignals(&OnSignal, &third, 1, seven);
  // The first removes the third; the second removes itself and throws, which is logged and
  // passed over.
  first.removeOnCall = idThird;
  second.removeOnCall = idSecond;
  second.throwOnCall = true;
  toy->raise_signal(7);
  EXPECT_EQ(Joined(first.calls), "first:7");
  EXPECT_EQ(Joined(second.calls), "second:7");
  EXPECT_TRUE(third.calls.empty());
  EXPECT_EQ(Joined(log.Matching("Toy: ")),
            "0 Toy => Toy: raised signal SG_Toy | 0 Toy => Toy: Exception caught in signal handler #2 for signal "
            "type SG_Toy");
  first.removeOnCall = 0;
  toy->raise_signal(7);
  EXPECT_EQ(Joined(first.calls), "first:7 | first:7");
  EXPECT_EQ(second.calls.size(), 1u);
  toy->Unsubscribe(idFirst);
  toy->raise_signal(8);  // nobody subscribed: only the trace line
  EXPECT_EQ(log.Matching("SG_UNK_8").size(), 1u);
}

}  // namespace
