// The tool's operation log: one read-only edit control of the main window, written through
// LogLine and driven by LogEditCtl.
#pragma once

#include <windows.h>

#include <cstddef>
#include <sstream>
#include <string>

// The main window's log edit control (null until the main window sets it).
void SetLogWindow(HWND window);
HWND LogWindow();
// The last count lines of the log window, each followed by CR LF ("" without a log window).
std::string LastLogLines(int count);

// One line of the operation log: filled by stream insertion, emitted when the statement ends
// (appended with CR LF to the log control when there is one, and sent to the debugger output).
class LogLine : public std::ostringstream {
 public:
  LogLine() = default;
  ~LogLine() override;
};

// Appends to an edit control and keeps its text below the control's limit by dropping the
// oldest part. Does not own the window.
class LogEditCtl {
 public:
  static constexpr int kLogLimit = 32768;

  explicit LogEditCtl(int unusedSize = 0);
  virtual ~LogEditCtl() = default;
  LogEditCtl(const LogEditCtl&) = delete;
  LogEditCtl& operator=(const LogEditCtl&) = delete;

  // Keeps the window and sets its text limit to 32768 characters.
  LRESULT Attach(HWND window);
  // Forgets the window and returns it.
  HWND Detach();
  HWND Window() const { return window_; }
  // Sets the control's text limit to max(n, 1000).
  LRESULT SetLimit(int n);

  // Adds the text at the end, whatever is selected; returns its length (0 for null or empty).
  size_t Append(const char* text);
  size_t AppendFormat(const char* format, ...);
  size_t HexDump(const void* bytes, size_t count);
  // Drops the oldest part once the text, with `incoming` more characters, reaches nine tenths
  // of the limit: a fifth of the limit, or more when the incoming text needs the room.
  void Trim(size_t incoming = 0);

  // Selects and returns the position of the next match at or after start (negative: the end of
  // the selection), or -1.
  int Find(const char* text, bool matchCase, int start = -1);
  // Runs the "FIND_LOGTEXT_DLG" template of the module (the program itself for null).
  INT_PTR ShowFindDialog(HINSTANCE module, const char* initialText, bool matchCase);
  // Copies the selection to the clipboard and returns the clipboard's text.
  std::string CopyToClipboardText();
  // Replaces everything from the start of the caret's line to the end of the text.
  void ReplaceCurrentLine(const char* text);

 private:
  static INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  std::string WindowText() const;
  size_t TextLength() const;
  void SelectEnd();

  HWND window_ = nullptr;
  std::string findText_;
  unsigned char matchCase_ = 0;
  int lastFound_ = -1;
};
