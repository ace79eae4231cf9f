// Entry point of idagent.exe.
#include <windows.h>

#include "app/AgentMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) { return AgentMain(commandLine); }
