// MD5 against a second implementation (OpenSSL's libcrypto, linked into this
// test program only). The first input byte chooses how the message is cut
// into Update calls; every cut must give the digest of the whole. The
// comparison with a configured MD5 text must accept the digest in either case
// and reject it with one character changed.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "acquisition/Md5.h"

using namespace prereq;

namespace {

std::string ReferenceHex(const uint8_t* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr) != 1 || length != 16)
    fuzz::Fail("libcrypto MD5 failed");
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned cut = data[0];
  const uint8_t* message = data + 1;
  const size_t length = size - 1;
  const std::string expected = ReferenceHex(message, length);

  fuzz::Check(Md5HexOf(message, length) == expected, "one-shot digest differs");

  // Pieces of 1 to 128 bytes, their lengths taken in turn from the message.
  Md5 md5;
  size_t at = 0, k = 0;
  while (at < length) {
    size_t piece = 1 + ((cut + (k < length ? message[k] : 0u)) % 128u);
    if (piece > length - at) piece = length - at;
    md5.Update(message + at, piece);
    at += piece;
    ++k;
  }
  md5.Update(message, 0);
  fuzz::Check(Md5Hex(md5.Final()) == expected, "digest of the pieces differs");
  md5.Reset();
  md5.Update(message, length);
  fuzz::Check(Md5Hex(md5.Final()) == expected, "digest after Reset differs");

  std::wstring configured(expected.begin(), expected.end());
  fuzz::Check(Md5TextMatches(configured, expected), "own digest rejected");
  for (wchar_t& c : configured)
    if (c >= L'a' && c <= L'f') c = static_cast<wchar_t>(c - L'a' + L'A');
  fuzz::Check(Md5TextMatches(configured + L"trailing", expected), "upper-case digest rejected");
  configured[cut % 32] = configured[cut % 32] == L'0' ? L'1' : L'0';
  fuzz::Check(!Md5TextMatches(configured, expected), "changed digest accepted");
  fuzz::Check(!Md5TextMatches(configured.substr(0, 31), expected), "short digest accepted");
  return 0;
}
