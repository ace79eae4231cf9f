// The platform seam: the calls that tests answer or record instead of the system.
// Programs use WfPlatform::Current(); the default object makes the real calls.
// A test installs its own object with WfPlatform::Install (and puts the old one back).
//   MessageBox    MessageBoxA; the answer (IDOK, IDYES, ...)
//   ShellOpen     ShellExecuteA with the "open" verb; TRUE when the shell accepted it
//   StartProcess  CreateProcessA of a command line without waiting, no handle
//                 inheritance, the given show state; both handles closed; TRUE when started
//   RunProcess    CreateProcessA of program (null: the command line's first word) in folder
//                 (null: ours) with startup's standard handles, inherited, and show state;
//                 waits for its end. TRUE with its exit code when it started
//   CreateGuid    CoCreateGuid
#pragma once

#include <windows.h>

class WfPlatform {
 public:
  virtual ~WfPlatform() = default;

  virtual int MessageBox(HWND owner, const char* text, const char* caption, UINT type);
  virtual BOOL ShellOpen(HWND owner, const char* target, int showCommand);
  virtual BOOL StartProcess(const char* commandLine, int showCommand);
  virtual BOOL RunProcess(const char* program, const char* commandLine, const char* folder,
                          const STARTUPINFOA& startup, DWORD* exitCode);
  virtual HRESULT CreateGuid(GUID* guid);

  static WfPlatform& Current();
  // Makes platform the current seam (null: the real one again); returns the previous.
  static WfPlatform* Install(WfPlatform* platform);
};
