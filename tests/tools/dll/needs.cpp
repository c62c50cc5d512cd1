// prereq-ut-needs.dll: a library that imports prereq-ut-needed.dll.
extern "C" __declspec(dllimport) int NeededValue();
extern "C" __declspec(dllexport) int NeedsValue() { return NeededValue(); }
