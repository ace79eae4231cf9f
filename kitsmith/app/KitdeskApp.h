// The application object: runs the main menu window modally and ends when it closes.
#pragma once

#include "WinFrame.h"

class KitdeskApp : public CWinApp {
 public:
  KitdeskApp() : CWinApp("Kitsmith") {}

  // Always FALSE: the program ends once the main window has closed.
  BOOL InitInstance() override;
  int ExitInstance() override;
};
