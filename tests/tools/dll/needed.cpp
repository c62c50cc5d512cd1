// prereq-ut-needed.dll: the library that prereq-ut-needs.dll imports. The
// library test puts it where a system library must never find the libraries
// it needs (the current folder), and prereq-ut-needs.dll into the system
// folder.
extern "C" __declspec(dllexport) int NeededValue() { return 42; }
