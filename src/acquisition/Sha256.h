#pragma once
// SHA-256 digests computed by the system's cryptography library (CNG,
// bcrypt.dll from the System folder, loaded on first use).
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace prereq {

class Sha256 {
 public:
  // Starts a digest; error() tells why when the library or the algorithm is
  // not available.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False once anything failed; error() is then a system error code.
  bool ok() const { return error_ == 0; }
  uint32_t error() const { return error_; }

  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hexadecimal characters; empty when anything
  // failed. The object is finished afterwards.
  std::string FinishHex();

 private:
  void Fail(long status);

  void* algorithm_ = nullptr;  // BCRYPT_ALG_HANDLE
  void* hash_ = nullptr;       // BCRYPT_HASH_HANDLE
  std::string object_;         // the hash object's memory
  uint32_t error_ = 0;
};

// The SHA-256 of a block of bytes as 64 lower-case hexadecimal characters;
// empty when the system could not compute it (`error`, when given, then
// receives the system error code).
std::string Sha256Hex(const void* data, size_t size, uint32_t* error = nullptr);

}  // namespace prereq
