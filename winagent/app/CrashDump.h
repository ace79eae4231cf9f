// Crash dumps: the agent's unhandled-exception filter writes one dump beside the program,
// then hands the exception to the filter it replaced.
#pragma once

#include <windows.h>

// Loads the dump writer from "dbghelp.dll" (once; it stays loaded) and installs the filter
// (once per process, keeping the filter it replaced unless that was its own).
void InstallCrashDumpFilter();

// Writes one crash dump beside the program (at most 10 per program path); nothing when
// dbghelp's writer is not available.
void WriteCrashDump(EXCEPTION_POINTERS* exception);
// The agent's unhandled-exception filter: a crash dump, then the previous filter's answer
// (0, continue the search, when there was none).
LONG WINAPI TavoUnhandledExceptionFilter(EXCEPTION_POINTERS* exception);
