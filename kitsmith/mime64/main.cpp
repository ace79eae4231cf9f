#include "unreferenced/Mime64.h"

int main(int argc, char** argv) { return Mime64Main(argc, argv); }
