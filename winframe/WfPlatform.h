// The platform seam: the calls that tests answer or record instead of the system.
// Programs use WfPlatform::Current(); the default object makes the real calls.
// A test installs its own object with WfPlatform::Install (and puts the old one back).
//   MessageBox    MessageBoxA; the answer (IDOK, IDYES, ...)
//   ShellOpen     ShellExecuteA with the "open" verb; TRUE when the shell accepted it
//   StartProcess  CreateProcessA of a command line without waiting, no handle
//                 inheritance, the given show state; both handles closed; TRUE when started
//   RunProcess    CreateProcessA of program (null: the command line's first word) in folder
//                 (null: ours) with startup's standard handles, inherited, and show state;
//                 started (when set) is told of the child before it runs, and may refuse it;
//                 waits for its end. TRUE with its exit code when it started
//   CreateGuid    CoCreateGuid
//   SystemVersion GetVersion: the system's version number (high bit set on the older family)
//   Checkpoint    a named step of a long piece of work (a package save) has been reached:
//                 nothing happens; a test may end the program there, as a crash would
//   PrintDialog   PrintDlgA with the given flags (PD_RETURNDC added); the printer DC,
//                 which the caller deletes, or null when the dialog was not confirmed
//   StartDoc, StartPage, EndPage, EndDoc, AbortDoc  the printer document calls
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <functional>

// Told of a child process that RunProcess made, before the child runs; false ends the child
// unrun.
using ProcessStarted = std::function<bool(HANDLE process)>;

class WfPlatform {
 public:
  virtual ~WfPlatform() = default;

  virtual int MessageBox(HWND owner, const char* text, const char* caption, UINT type);
  virtual BOOL ShellOpen(HWND owner, const char* target, int showCommand);
  virtual BOOL StartProcess(const char* commandLine, int showCommand);
  virtual BOOL RunProcess(const char* program, const char* commandLine, const char* folder,
                          const STARTUPINFOA& startup, DWORD* exitCode,
                          const ProcessStarted& started);
  virtual HRESULT CreateGuid(GUID* guid);
  virtual DWORD SystemVersion();
  virtual void Checkpoint(const char* step);
  virtual HDC PrintDialog(HWND owner, DWORD flags);
  virtual int StartDoc(HDC dc, const DOCINFOA& document);
  virtual int StartPage(HDC dc);
  virtual int EndPage(HDC dc);
  virtual int EndDoc(HDC dc);
  virtual int AbortDoc(HDC dc);

  static WfPlatform& Current();
  // Makes platform the current seam (null: the real one again); returns the previous.
  static WfPlatform* Install(WfPlatform* platform);
};
