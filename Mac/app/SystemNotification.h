// Observes the workspace notifications of sleep, wake and session switches and hands each
// to its listener, the application object that owns it.
#pragma once

#include "platform/NSWorkspace.h"

class SystemNotification {
 public:
  // What the listener hears.
  class Listener {
   public:
    virtual void NotifySuspendResume(bool suspend) = 0;
    virtual void NotifySessionActiveInactive(bool active) = 0;

   protected:
    ~Listener() = default;
  };

  SystemNotification() = default;
  SystemNotification(const SystemNotification&) = delete;
  SystemNotification& operator=(const SystemNotification&) = delete;
  ~SystemNotification() { killNotifications(); }

  void registerForNotifications(Listener* listener);
  void receiveSleepWakeNote(const NSNotification& note);
  void receiveSessionActiveInactiveNote(const NSNotification& note);
  void killNotifications();

 private:
  Listener* _listener = nullptr;
};
