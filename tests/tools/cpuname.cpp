// cpuname: prints the processor's brand string as the processor reports it
// (extended leaves 0x80000002..0x80000004, up to its first NUL, blanks kept),
// or "UnkownCPU" when the processor has no brand-string leaves. The log
// tests compare the "CPU: " line of the log header with it.
#include <windows.h>

#include <cpuid.h>

#include <cstring>

int wmain() {
  unsigned int regs[12] = {};
  unsigned int a = 0, b = 0, c = 0, d = 0;
  __cpuid(0x80000000u, a, b, c, d);
  char name[49] = {};
  if (a < 0x80000004u) {
    std::strcpy(name, "UnkownCPU");
  } else {
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
      __cpuid(0x80000002u + leaf, regs[leaf * 4], regs[leaf * 4 + 1], regs[leaf * 4 + 2],
              regs[leaf * 4 + 3]);
    }
    std::memcpy(name, regs, 48);
  }
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), name, static_cast<DWORD>(std::strlen(name)), &written,
            nullptr);
  return 0;
}
