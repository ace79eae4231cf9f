#include "logpane/LogPane.h"

#include "support/KitUtilities.h"
#include "WfPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {
HWND g_logWindow = nullptr;
// The find dialogs that are open, each with the log it searches.
std::map<HWND, LogEditCtl*> g_findDialogs;

constexpr int kFindTextId = 1005;
constexpr int kMatchCaseId = 1003;
}  // namespace

void SetLogWindow(HWND window) { g_logWindow = window; }
HWND LogWindow() { return g_logWindow; }

std::string LastLogLines(int count) {
  if (!g_logWindow) return "";
  std::vector<char> buffer(GetWindowTextLengthA(g_logWindow) + 1);
  GetWindowTextA(g_logWindow, buffer.data(), static_cast<int>(buffer.size()));
  std::vector<std::string> lines;
  std::string text = buffer.data();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t cut = end;
    if (cut > start && text[cut - 1] == '\r') --cut;
    lines.push_back(text.substr(start, cut - start));
    start = end + 1;
  }
  std::string last;
  for (size_t i = lines.size() > static_cast<size_t>(count) ? lines.size() - count : 0; i < lines.size(); ++i)
    last += lines[i] + "\r\n";
  return last;
}

LogLine::~LogLine() {
  const std::string text = str();
  if (g_logWindow) {
    LogEditCtl log;
    log.Attach(g_logWindow);
    log.Append(text.c_str());
    log.Append("\r\n");
    log.Detach();
  }
  OutputDebugStringA(text.c_str());
}

LogEditCtl::LogEditCtl(int) {}

LRESULT LogEditCtl::Attach(HWND window) {
  window_ = window;
  return SetLimit(kLogLimit);
}

HWND LogEditCtl::Detach() {
  HWND window = window_;
  window_ = nullptr;
  return window;
}

LRESULT LogEditCtl::SetLimit(int n) { return SendMessageA(window_, EM_SETLIMITTEXT, std::max(n, 1000), 0); }

size_t LogEditCtl::TextLength() const {
  return static_cast<size_t>(SendMessageA(window_, WM_GETTEXTLENGTH, 0, 0));
}

std::string LogEditCtl::WindowText() const {
  std::vector<char> text(TextLength() + 1);
  const int got = GetWindowTextA(window_, text.data(), static_cast<int>(text.size()));
  return std::string(text.data(), static_cast<size_t>(std::max(got, 0)));
}

void LogEditCtl::SelectEnd() {
  const WPARAM end = TextLength();
  SendMessageA(window_, EM_SETSEL, end, end);
}

size_t LogEditCtl::Append(const char* text) {
  if (!text || !*text) return 0;
  const size_t length = strlen(text);
  const size_t limit = static_cast<size_t>(SendMessageA(window_, EM_GETLIMITTEXT, 0, 0));
  // The control drops what passes its limit, so room is made first; an entry longer than the
  // limit keeps its last part.
  Trim(length);
  const char* kept = length > limit ? text + (length - limit) : text;
  SelectEnd();
  SendMessageA(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(kept));
  SendMessageA(window_, EM_SCROLLCARET, 0, 0);
  return length;
}

void LogEditCtl::Trim(size_t incoming) {
  const size_t limit = static_cast<size_t>(SendMessageA(window_, EM_GETLIMITTEXT, 0, 0));
  const size_t length = TextLength();
  if (length + incoming < limit * 9 / 10) return;
  // A fifth of the limit goes; more when the incoming text would not fit otherwise.
  size_t drop = limit * 2 / 10 - 1;
  if (length + incoming > limit) drop = std::max(drop, length + incoming - limit);
  drop = std::min(drop, length);
  SendMessageA(window_, EM_SETSEL, 0, drop);
  SendMessageA(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
  SelectEnd();
  SendMessageA(window_, EM_SCROLLCARET, 0, 0);
}

size_t LogEditCtl::AppendFormat(const char* format, ...) {
  char buffer[16384];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n < 0) return 0;
  return Append(buffer);
}

size_t LogEditCtl::HexDump(const void* bytes, size_t count) {
  const unsigned char* data = static_cast<const unsigned char*>(bytes);
  size_t appended = 0;
  for (size_t line = 0; line < count; line += 16) {
    char hex[16 * 3 + 1] = {};
    char chars[17] = {};
    const size_t n = std::min<size_t>(16, count - line);
    for (size_t i = 0; i < n; ++i) {
      const unsigned char b = data[line + i];
      snprintf(hex + i * 3, 4, "%02X ", b);
      chars[i] = (isprint(b) && b != '\r' && b != '\n') ? static_cast<char>(b) : '.';
    }
    char text[128];
    snprintf(text, sizeof(text), "%-51s   %s\r\n", hex, chars);
    appended += Append(text);
  }
  return appended;
}

int LogEditCtl::Find(const char* text, bool matchCase, int start) {
  if (!text || !*text) return -1;
  if (start < 0) {
    DWORD selStart = 0, selEnd = 0;
    SendMessageA(window_, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    start = static_cast<int>(selEnd);
  }
  const std::string whole = WindowText();
  // A match may end exactly at the end of the text.
  if (static_cast<size_t>(start) + strlen(text) > whole.size()) return -1;
  findText_ = text;
  matchCase_ = matchCase ? 1 : 0;
  size_t at;
  if (matchCase) {
    at = whole.find(text, static_cast<size_t>(start));
  } else {
    at = FindNoCase(whole.c_str() + start, text);
    if (at != std::string::npos) at += static_cast<size_t>(start);
  }
  if (at == std::string::npos) return -1;
  SendMessageA(window_, EM_SETSEL, at, at + strlen(text));
  SendMessageA(window_, EM_SCROLLCARET, 0, 0);
  lastFound_ = static_cast<int>(at);
  return lastFound_;
}

INT_PTR LogEditCtl::ShowFindDialog(HINSTANCE module, const char* initialText, bool matchCase) {
  if (initialText) findText_ = initialText;
  matchCase_ = matchCase ? 1 : 0;
  return DialogBoxParamA(module ? module : GetModuleHandleA(nullptr), "FIND_LOGTEXT_DLG", GetParent(window_),
                         FindDialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK LogEditCtl::FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      LogEditCtl* self = reinterpret_cast<LogEditCtl*>(lParam);
      g_findDialogs[dialog] = self;
      SetDlgItemTextA(dialog, kFindTextId, self->findText_.c_str());
      CheckDlgButton(dialog, kMatchCaseId, self->matchCase_ ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    case WM_DESTROY:
      g_findDialogs.erase(dialog);
      return FALSE;
    case WM_COMMAND: {
      const auto found = g_findDialogs.find(dialog);
      if (found == g_findDialogs.end()) return FALSE;
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        char text[256] = {};
        GetDlgItemTextA(dialog, kFindTextId, text, sizeof(text));
        const bool matchCase = IsDlgButtonChecked(dialog, kMatchCaseId) == BST_CHECKED;
        if (found->second->Find(text, matchCase, -1) >= 0) {
          EndDialog(dialog, IDOK);
        } else {
          WfPlatform::Current().MessageBox(dialog, "Text not found", "Find Text", MB_OK);
        }
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

std::string LogEditCtl::CopyToClipboardText() {
  SendMessageA(window_, WM_COPY, 0, 0);
  if (!OpenClipboard(window_)) return "";
  std::string text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* locked = static_cast<const char*>(GlobalLock(data))) {
      text = locked;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void LogEditCtl::ReplaceCurrentLine(const char* text) {
  const LRESULT line = SendMessageA(window_, EM_LINEFROMCHAR, static_cast<WPARAM>(-1), 0);
  const LRESULT start = SendMessageA(window_, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
  SendMessageA(window_, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(TextLength()));
  SendMessageA(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text ? text : ""));
}
