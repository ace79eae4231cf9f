// The program's one application object; the layer's entry point runs it.
#include "KitdeskApp.h"

KitdeskApp theApp;
