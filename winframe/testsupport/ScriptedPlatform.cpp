#include "ScriptedPlatform.h"

#include <gtest/gtest.h>

#include <utility>

#include "WinTestSupport.h"  // StartRetried

ScriptedPlatform::ScriptedPlatform() : previous_(WfPlatform::Install(this)) {}

ScriptedPlatform::~ScriptedPlatform() {
  WfPlatform::Install(previous_);
  for (const Expected& e : expected_)
    ADD_FAILURE() << "expected message box never shown: \"" << e.textPart << "\"";
}

void ScriptedPlatform::ExpectBox(int answer, const std::string& textPart) {
  expected_.push_back({answer, textPart});
}

int ScriptedPlatform::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  boxes_.push_back({owner, text ? text : "", caption ? caption : "", type});
  const std::string& shown = boxes_.back().text;
  if (expected_.empty()) {
    ADD_FAILURE() << "unexpected message box: \"" << shown << "\"";
    switch (type & MB_TYPEMASK) {
      case MB_OK:
        return IDOK;
      case MB_YESNO:
        return IDNO;
      default:
        return IDCANCEL;
    }
  }
  const Expected next = expected_.front();
  expected_.pop_front();
  EXPECT_NE(shown.find(next.textPart), std::string::npos)
      << "message box \"" << shown << "\" lacks \"" << next.textPart << "\"";
  return next.answer;
}

BOOL ScriptedPlatform::ShellOpen(HWND, const char* target, int) {
  shellOpens_.push_back(target ? target : "");
  return shellResult;
}

BOOL ScriptedPlatform::StartProcess(const char* commandLine, int) {
  processStarts_.push_back(commandLine ? commandLine : "");
  return startResult;
}

BOOL ScriptedPlatform::RunProcess(const char* program, const char* commandLine, const char* folder,
                                  const STARTUPINFOA& startup, DWORD* exitCode,
                                  const ProcessStarted& started) {
  const bool hidden = (startup.dwFlags & STARTF_USESHOWWINDOW) && startup.wShowWindow == SW_HIDE;
  processRuns_.push_back({program ? program : "", commandLine ? commandLine : "", folder ? folder : "", hidden});
  // The real run, its start tried again on Wine's transient failure as a test's own would be.
  if (!runAnswer)
    return StartRetried([&] {
      return WfPlatform::RunProcess(program, commandLine, folder, startup, exitCode, started);
    });
  DWORD written = 0;
  if (!runAnswer->output.empty()) {
    EXPECT_TRUE(WriteFile(startup.hStdOutput, runAnswer->output.data(), static_cast<DWORD>(runAnswer->output.size()),
                          &written, nullptr));
  }
  if (exitCode) *exitCode = runAnswer->exitCode;
  return TRUE;
}

HRESULT ScriptedPlatform::CreateGuid(GUID* guid) {
  *guid = GUID{++guidCounter_, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  return S_OK;
}

DWORD ScriptedPlatform::SystemVersion() { return systemVersion ? *systemVersion : WfPlatform::SystemVersion(); }

void ScriptedPlatform::Checkpoint(const char* step) {
  if (atCheckpoint) atCheckpoint(step ? step : "");
}

HDC ScriptedPlatform::PrintDialog(HWND, DWORD) {
  printCalls_.push_back("PrintDialog");
  return std::exchange(printerDC, nullptr);
}

int ScriptedPlatform::StartDoc(HDC, const DOCINFOA& document) {
  printCalls_.push_back(std::string("StartDoc ") + (document.lpszDocName ? document.lpszDocName : ""));
  return startDocResult;
}

int ScriptedPlatform::StartPage(HDC) {
  printCalls_.push_back("StartPage");
  return 1;
}

int ScriptedPlatform::EndPage(HDC) {
  printCalls_.push_back("EndPage");
  return endPageResult;
}

int ScriptedPlatform::EndDoc(HDC) {
  printCalls_.push_back("EndDoc");
  return 1;
}

int ScriptedPlatform::AbortDoc(HDC) {
  printCalls_.push_back("AbortDoc");
  return 1;
}
