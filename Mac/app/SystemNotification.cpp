#include "app/SystemNotification.h"

void SystemNotification::registerForNotifications(Listener* listener) {
  _listener = listener;
  NSLog("SystemNotification registering for suspend/resume notifications...");
  NSNotificationCenter& center = NSWorkspace::sharedWorkspace().notificationCenter();
  const auto sleepWake = [this](const NSNotification& note) { receiveSleepWakeNote(note); };
  const auto session = [this](const NSNotification& note) { receiveSessionActiveInactiveNote(note); };
  center.addObserver(this, sleepWake, NSWorkspaceWillSleepNotification);
  center.addObserver(this, sleepWake, NSWorkspaceDidWakeNotification);
  center.addObserver(this, session, NSWorkspaceSessionDidBecomeActiveNotification);
  center.addObserver(this, session, NSWorkspaceSessionDidResignActiveNotification);
}

void SystemNotification::receiveSleepWakeNote(const NSNotification& note) {
  NSLog("receiveSleepWakeNote: %s", note.name.c_str());
  if (_listener) _listener->NotifySuspendResume(note.name == NSWorkspaceWillSleepNotification);
}

void SystemNotification::receiveSessionActiveInactiveNote(const NSNotification& note) {
  NSLog("receiveSessionActiveInactiveNote: %s", note.name.c_str());
  if (_listener) _listener->NotifySessionActiveInactive(note.name == NSWorkspaceSessionDidBecomeActiveNotification);
}

void SystemNotification::killNotifications() {
  NSWorkspace::sharedWorkspace().notificationCenter().removeObserver(this);
  _listener = nullptr;
}
