// Entry point of idagent.exe.
#include <windows.h>

#include "WinSupport.h"
#include "app/AgentMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  RestrictLibrarySearch();  // before anything loads a library by name
  return AgentMain(commandLine);
}
