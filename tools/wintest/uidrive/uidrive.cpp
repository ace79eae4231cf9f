// Drives the windows of another program from a script, as an operator would: waits for
// top-level windows by caption, sends them menu commands, fills and reads controls, picks
// list items, answers message boxes and edits a grid cell. For demos of the tool; every
// wait gives up after 60 seconds.
//
//   uidrive SCRIPT-FILE      one command a line; blank lines and lines starting with # skipped
//
//   wait CAPTION                 a visible top-level window with that caption exists
//   gone CAPTION                 no such window is left
//   command CAPTION ID           posts WM_COMMAND ID (a menu item, OK = 1, Cancel = 2)
//   settext CAPTION CTRL TEXT    sets a control's text (the rest of the line)
//   select CAPTION CTRL TEXT     selects a list item and tells the window, as a click would
//   click CAPTION CTRL           clicks a button (a message box's Yes is 6)
//   cell CAPTION CTRL X Y TEXT   clicks the grid CTRL at client point X,Y, types TEXT into the
//                                cell editor that opens and ends the edit with Enter
//   print CAPTION CTRL           prints the control's text
//   sleep MS
// Captions are written with _ for each blank. Exits 0 when every command worked, else 1
// after the failing command.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitLimitMs = 60000;
constexpr DWORD kPollMs = 100;

std::string Caption(std::string text) {
  for (char& c : text)
    if (c == '_') c = ' ';
  return text;
}

struct FindRequest {
  std::string caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM parameter) {
  auto* request = reinterpret_cast<FindRequest*>(parameter);
  char text[512] = {};
  if (!IsWindowVisible(window) || !GetWindowTextA(window, text, sizeof(text))) return TRUE;
  if (request->caption != text) return TRUE;
  request->found = window;
  return FALSE;
}

HWND FindCaption(const std::string& caption) {
  FindRequest request{caption};
  EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&request));
  return request.found;
}

template <typename Done>
bool WaitFor(Done done) {
  for (DWORD waited = 0; waited < kWaitLimitMs; waited += kPollMs) {
    if (done()) return true;
    Sleep(kPollMs);
  }
  return done();
}

HWND WaitWindow(const std::string& caption) {
  HWND window = nullptr;
  WaitFor([&] { return (window = FindCaption(caption)) != nullptr; });
  if (!window) fprintf(stderr, "uidrive: no window \"%s\"\n", caption.c_str());
  return window;
}

HWND Control(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  if (!control) fprintf(stderr, "uidrive: the window has no control %d\n", id);
  return control;
}

std::string Text(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(strlen(text.c_str()));
  return text;
}

std::string Rest(std::istringstream& line) {
  std::string rest;
  std::getline(line >> std::ws, rest);
  return rest;
}

// The window that has the keyboard focus in the thread that runs window.
HWND FocusOfThread(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool EditCell(HWND grid, int x, int y, const std::string& text) {
  if (text.empty()) return false;
  const LPARAM point = MAKELPARAM(x, y);
  PostMessageA(grid, WM_LBUTTONDOWN, MK_LBUTTON, point);
  PostMessageA(grid, WM_LBUTTONUP, 0, point);
  Sleep(300);
  // The first character opens the cell editor with it; the rest goes to the editor.
  PostMessageA(grid, WM_CHAR, static_cast<unsigned char>(text[0]), 1);
  HWND editor = nullptr;
  if (!WaitFor([&] {
        editor = FocusOfThread(grid);
        return editor && editor != grid && IsChild(grid, editor);
      })) {
    fprintf(stderr, "uidrive: no cell editor opened\n");
    return false;
  }
  for (size_t i = 1; i < text.size(); ++i) PostMessageA(editor, WM_CHAR, static_cast<unsigned char>(text[i]), 1);
  PostMessageA(editor, WM_KEYDOWN, VK_RETURN, 1);
  PostMessageA(editor, WM_CHAR, '\r', 1);
  return WaitFor([&] { return !IsWindow(editor) || !IsWindowVisible(editor); });
}

bool Run(const std::string& commandLine) {
  std::istringstream line(commandLine);
  std::string command, caption;
  line >> command;
  if (command == "sleep") {
    int ms = 0;
    line >> ms;
    Sleep(ms);
    return true;
  }
  line >> caption;
  caption = Caption(caption);
  if (command == "gone") {
    if (WaitFor([&] { return FindCaption(caption) == nullptr; })) return true;
    fprintf(stderr, "uidrive: \"%s\" is still open\n", caption.c_str());
    return false;
  }
  HWND window = WaitWindow(caption);
  if (!window) return false;
  if (command == "wait") return true;
  int id = 0;
  line >> id;
  if (command == "command") return PostMessageA(window, WM_COMMAND, id, 0) != FALSE;
  HWND control = Control(window, id);
  if (!control) return false;
  if (command == "settext") {
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Rest(line).c_str()));
    return true;
  }
  if (command == "select") {
    const std::string item = Rest(line);
    const LRESULT index = SendMessageA(control, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(item.c_str()));
    if (index == LB_ERR) {
      fprintf(stderr, "uidrive: no list item \"%s\"\n", item.c_str());
      return false;
    }
    SendMessageA(control, LB_SETCURSEL, index, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
    return true;
  }
  if (command == "click") return PostMessageA(control, BM_CLICK, 0, 0) != FALSE;
  if (command == "print") {
    printf("%s\n", Text(control).c_str());
    return true;
  }
  if (command == "cell") {
    int x = 0, y = 0;
    line >> x >> y;
    return EditCell(control, x, y, Rest(line));
  }
  fprintf(stderr, "uidrive: unknown command \"%s\"\n", command.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: uidrive SCRIPT-FILE\n");
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    fprintf(stderr, "uidrive: cannot read %s\n", argv[1]);
    return 2;
  }
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    fflush(stdout);
    if (!Run(line)) {
      fprintf(stderr, "uidrive: failed: %s\n", line.c_str());
      return 1;
    }
  }
  return 0;
}
