#pragma once
// MD5 message digest (RFC 1321), computed incrementally, and the digest rules
// of the download acceptance: a file's digest as 32 lower-case hexadecimal
// characters and the comparison with a configured MD5 text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace prereq {

class Md5 {
 public:
  using Digest = std::array<uint8_t, 16>;

  Md5() { Reset(); }
  // Starts a new message.
  void Reset();
  // Appends bytes to the message; any split of a message gives the same digest.
  void Update(const void* data, size_t size);
  // Ends the message and gives its digest; Reset starts the next one.
  Digest Final();

 private:
  uint32_t state_[4];
  uint64_t length_;     // bytes so far
  uint8_t pending_[64];  // the start of an incomplete block
  size_t pendingSize_;
};

// 32 lower-case hexadecimal characters.
std::string Md5Hex(const Md5::Digest& digest);
std::string Md5HexOf(const void* data, size_t size);

// The digest of a whole file (narrow path as the C library takes it); false
// when it cannot be opened or read.
bool Md5OfFile(const std::string& path, std::string& hex);

// Whether a configured MD5 text matches a digest: position by position over
// the 32 digest characters, the configured character with "A" to "F" made
// lower case; a shorter text fails, characters after the 32nd are ignored.
bool Md5TextMatches(std::wstring_view configured, std::string_view digest);

}  // namespace prereq
