// Times reading a configuration file: UTF-16 decoding, parsing and loading
// the configuration model. Usage: config_load <file.ini>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "chainer/Configuration.h"
#include "chainer/IniFile.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: config_load <file.ini>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (bytes.size() < 2) {
    std::fprintf(stderr, "config_load: cannot read %s\n", argv[1]);
    return 1;
  }
  constexpr int kRounds = 5;
  double best = 1e9;
  size_t prereqs = 0, searches = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    std::wstring text;
    text.reserve((bytes.size() - 2) / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    prereq::PrereqList list;
    prereq::LoadConfiguration(prereq::ParseIni(text), list);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
    if (ms < best) best = ms;
    prereqs = list.Count();
    searches = 0;
    for (const auto& p : list.prereqs) searches += p.Searches.size();
  }
  std::printf("decode+parse+load of %zu prerequisites (%zu search entries): %.1f ms (best of %d)\n",
              prereqs, searches, best, kRounds);
  return 0;
}
