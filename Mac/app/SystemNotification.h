// Observes the workspace notifications of sleep, wake and session switches and hands each
// to the application object.
#pragma once

#include "platform/NSWorkspace.h"

class IdentraMain;

class SystemNotification {
 public:
  void registerForNotifications(IdentraMain* main);
  void receiveSleepWakeNote(const NSNotification& note);
  void receiveSessionActiveInactiveNote(const NSNotification& note);
  void killNotifications();

 private:
  IdentraMain* _pMain = nullptr;
};

// Made once by the first application object, never freed.
extern SystemNotification* g_pSystemNotifications;
