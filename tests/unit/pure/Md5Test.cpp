#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "acquisition/Md5.h"
#include "Noise.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace prereq;

namespace {

std::string Hex(const std::string& text) { return Md5HexOf(text.data(), text.size()); }

TEST(Md5, Rfc1321TestSuite) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& [text, digest] : cases) EXPECT_EQ(Hex(text), digest) << text.substr(0, 40);
}

TEST(Md5, EverySplitOfAMessageGivesTheSameDigest) {
  // Lengths around the padding boundaries (55/56 and 63/64 bytes per block)
  // split at every position, and fed byte by byte.
  for (size_t size : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::vector<uint8_t> data = Noise(size, size);
    const std::string whole = Md5HexOf(data.data(), data.size());
    for (size_t cut = 0; cut <= size; ++cut) {
      Md5 md5;
      md5.Update(data.data(), cut);
      md5.Update(data.data() + cut, size - cut);
      ASSERT_EQ(Md5Hex(md5.Final()), whole) << size << " cut at " << cut;
    }
    Md5 bytewise;
    for (uint8_t b : data) bytewise.Update(&b, 1);
    EXPECT_EQ(Md5Hex(bytewise.Final()), whole) << size;
  }
}

TEST(Md5, ResetStartsANewMessage) {
  Md5 md5;
  md5.Update("garbage", 7);
  md5.Final();
  md5.Reset();
  md5.Update("abc", 3);
  EXPECT_EQ(Md5Hex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, ConfiguredTextMatchesDigest) {
  const std::string digest = "0123456789abcdef0123456789abcdef";
  const std::pair<std::wstring, bool> cases[] = {
      {L"0123456789abcdef0123456789abcdef", true},
      {L"0123456789ABCDEF0123456789ABCDEF", true},            // upper case accepted
      {L"0123456789abcdef0123456789abcdefXYZ", true},         // beyond 32: not examined
      {L"0123456789abcdef0123456789abcde", false},            // 31 characters
      {L"", false},
      {L"0123456789abcdef0123456789abcdeF ", true},
      {L"0123456789abcdef0123456789abcdee", false},
      {L" 0123456789abcdef0123456789abcdef", false},          // no trimming
      {L"0123456789abcdeg0123456789abcdef", false},
  };
  for (const auto& [text, match] : cases)
    EXPECT_EQ(Md5TextMatches(text, digest), match) << std::string(text.begin(), text.end());
  // Only A-F are lowered: a digest never holds other letters, so "G" never matches "g".
  EXPECT_FALSE(Md5TextMatches(L"G123456789abcdef0123456789abcdef", "g123456789abcdef0123456789abcdef"));
}

#ifndef _WIN32
// Files of every length around the block boundaries and one large random file,
// checked against the system's md5sum.
std::string SystemMd5(const std::string& path) {
  std::string command = "md5sum '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return got ? std::string(line, 32) : std::string();
}

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& data) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/prereq-md5-" +
                           std::to_string(::getpid()) + "-" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
  return path;
}

TEST(Md5File, AgreesWithMd5sum) {
  if (std::system("md5sum /dev/null >/dev/null 2>&1") != 0) GTEST_SKIP() << "no md5sum";
  std::vector<size_t> sizes;
  for (size_t n = 0; n <= 130; ++n) sizes.push_back(n);
  sizes.push_back(64u << 20);  // 64 MiB
  for (size_t size : sizes) {
    const std::string path = WriteFile(std::to_string(size), Noise(size, size + 7));
    ASSERT_FALSE(path.empty());
    std::string ours;
    ASSERT_TRUE(Md5OfFile(path, ours)) << size;
    EXPECT_EQ(ours, SystemMd5(path)) << size;
    std::remove(path.c_str());
  }
  std::string none;
  EXPECT_FALSE(Md5OfFile("/nonexistent/prereq-md5", none));
  EXPECT_FALSE(Md5OfFile("/", none));  // opens, but cannot be read
  EXPECT_TRUE(none.empty());
}
#endif

}  // namespace
