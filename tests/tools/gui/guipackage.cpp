// guipackage: package.exe as a GUI-subsystem program, as most installation
// packages are (no console is made for it).
#include "../package.cpp"
