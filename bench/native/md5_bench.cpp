// MD5 throughput over one file: prints MB/s of the digest computation alone
// (the file is read into memory first) and of the file helper.
//   md5_bench <file> [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "acquisition/Md5.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: md5_bench <file> [rounds]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> data;
  unsigned char block[1 << 16];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) != 0) data.insert(data.end(), block, block + got);
  std::fclose(f);
  const double mb = static_cast<double>(data.size()) / 1e6;

  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  std::string hex;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    hex = prereq::Md5HexOf(data.data(), data.size());
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  double bestFile = 1e30;
  std::string fileHex;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    if (!prereq::Md5OfFile(argv[1], fileHex)) return 1;
    bestFile = std::min(bestFile, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::printf("%s  %s\n", hex.c_str(), argv[1]);
  std::printf("memory: %.1f MB in %.3f s = %.0f MB/s\n", mb, best, mb / best);
  std::printf("file:   %.1f MB in %.3f s = %.0f MB/s%s\n", mb, bestFile, mb / bestFile,
              fileHex == hex ? "" : "  (DIGEST DIFFERS)");
  return 0;
}
