// The entry point of a program built on the layer; linked only into programs
// that have no entry point of their own.
#include "WfApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
  return AfxWinMain(instance, showCommand);
}
