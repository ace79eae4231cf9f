#pragma once
// Registers a window class of the grid's windows once per program: nothing when
// the class exists, a resource exception when it cannot be registered.

#include "WfObject.h"

inline void RegisterGridWindowClass(const char* name, UINT style, int backgroundColour) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA existing{};
  if (GetClassInfoA(instance, name, &existing)) return;
  WNDCLASSA wc{};
  wc.style = style;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(backgroundColour + 1));
  wc.lpszClassName = name;
  if (!RegisterClassA(&wc)) AfxThrowResourceException();
}
