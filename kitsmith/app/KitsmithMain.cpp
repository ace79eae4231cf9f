// The program's one application object; the layer's entry point runs it.
#include "KitdeskApp.h"
#include "WinSupport.h"

// Before the application object and the entry point: nothing has loaded a library by name yet.
[[maybe_unused]] static const bool librarySearchRestricted = RestrictLibrarySearch();

KitdeskApp theApp;
