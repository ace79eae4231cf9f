// The platform seam for tests: message boxes answered from a queue, shell requests,
// process starts and runs and GUIDs recorded. Installed while the object lives.
//   ExpectBox(answer, textPart)  the next box gets answer; its text must contain textPart
//   A box nobody expected fails the test and gets the box's negative answer
//   (IDOK for an OK box, IDNO for Yes/No, else IDCANCEL). Expected boxes that never came
//   fail the test when the object goes.
//   Boxes(), ShellOpens(), ProcessStarts(), ProcessRuns(): what was asked, in order.
//   shellResult / startResult: what ShellOpen / StartProcess answer (TRUE by default).
//   runAnswer: when set, RunProcess starts nothing: it writes the answer's output to the
//   standard output handle and gives its exit code. Unset, the process runs for real.
//   printerDC: what the print dialog answers (the caller then owns it); null: cancelled.
//   PrintCalls(): "PrintDialog", "StartDoc <name>", "StartPage", "EndPage", "EndDoc",
//   "AbortDoc" in order; startDocResult / endPageResult: what those answer (1 by default).
//   GUIDs are {00000001-0000-0000-0000-000000000000}, then ...02, and so on.
//   systemVersion: when set, what SystemVersion answers; unset, the system's own.
//   atCheckpoint: when set, runs at each step the program reaches (a test ends the program
//   there to stand in for a crash).
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "WfPlatform.h"

struct RecordedBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

struct RecordedRun {
  std::string program;
  std::string commandLine;
  std::string folder;
  bool hidden;
};

struct RunAnswer {
  DWORD exitCode;
  std::string output;
};

class ScriptedPlatform : public WfPlatform {
 public:
  ScriptedPlatform();
  ~ScriptedPlatform() override;
  ScriptedPlatform(const ScriptedPlatform&) = delete;
  ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

  void ExpectBox(int answer, const std::string& textPart = {});
  const std::vector<RecordedBox>& Boxes() const { return boxes_; }
  const std::vector<std::string>& ShellOpens() const { return shellOpens_; }
  const std::vector<std::string>& ProcessStarts() const { return processStarts_; }
  const std::vector<RecordedRun>& ProcessRuns() const { return processRuns_; }
  const std::vector<std::string>& PrintCalls() const { return printCalls_; }

  BOOL shellResult = TRUE;
  BOOL startResult = TRUE;
  std::optional<RunAnswer> runAnswer;
  HDC printerDC = nullptr;
  int startDocResult = 1;
  int endPageResult = 1;
  std::optional<DWORD> systemVersion;
  std::function<void(const std::string&)> atCheckpoint;

  int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  BOOL ShellOpen(HWND owner, const char* target, int showCommand) override;
  BOOL StartProcess(const char* commandLine, int showCommand) override;
  BOOL RunProcess(const char* program, const char* commandLine, const char* folder,
                  const STARTUPINFOA& startup, DWORD* exitCode,
                  const ProcessStarted& started) override;
  HRESULT CreateGuid(GUID* guid) override;
  DWORD SystemVersion() override;
  void Checkpoint(const char* step) override;
  HDC PrintDialog(HWND owner, DWORD flags) override;
  int StartDoc(HDC dc, const DOCINFOA& document) override;
  int StartPage(HDC dc) override;
  int EndPage(HDC dc) override;
  int EndDoc(HDC dc) override;
  int AbortDoc(HDC dc) override;

 private:
  struct Expected {
    int answer;
    std::string textPart;
  };
  WfPlatform* previous_;
  std::deque<Expected> expected_;
  std::vector<RecordedBox> boxes_;
  std::vector<std::string> shellOpens_;
  std::vector<std::string> processStarts_;
  std::vector<RecordedRun> processRuns_;
  std::vector<std::string> printCalls_;
  unsigned long guidCounter_ = 0;
};
