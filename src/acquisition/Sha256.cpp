#include "acquisition/Sha256.h"

#include <bcrypt.h>

#include "platform/core/Handles.h"

namespace prereq {

namespace {

using OpenAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithmFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using GetPropertyFn = NTSTATUS(WINAPI*)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                       ULONG, ULONG);
using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using FinishHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using DestroyHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
using NtStatusToDosErrorFn = ULONG(WINAPI*)(NTSTATUS);

constexpr ULONG kDigestBytes = 32;

// The library's functions, looked up once; the library stays loaded.
struct Cng {
  Library library;
  OpenAlgorithmFn openAlgorithm = nullptr;
  CloseAlgorithmFn closeAlgorithm = nullptr;
  GetPropertyFn getProperty = nullptr;
  CreateHashFn createHash = nullptr;
  HashDataFn hashData = nullptr;
  FinishHashFn finishHash = nullptr;
  DestroyHashFn destroyHash = nullptr;
  DWORD loadError = 0;

  Cng() : library(LoadSystemLibrary(L"bcrypt.dll")) {
    if (!library) {
      const DWORD error = ::GetLastError();
      loadError = error != 0 ? error : ERROR_MOD_NOT_FOUND;
      return;
    }
    const HMODULE m = library.get();
    openAlgorithm = reinterpret_cast<OpenAlgorithmFn>(::GetProcAddress(m, "BCryptOpenAlgorithmProvider"));
    closeAlgorithm = reinterpret_cast<CloseAlgorithmFn>(::GetProcAddress(m, "BCryptCloseAlgorithmProvider"));
    getProperty = reinterpret_cast<GetPropertyFn>(::GetProcAddress(m, "BCryptGetProperty"));
    createHash = reinterpret_cast<CreateHashFn>(::GetProcAddress(m, "BCryptCreateHash"));
    hashData = reinterpret_cast<HashDataFn>(::GetProcAddress(m, "BCryptHashData"));
    finishHash = reinterpret_cast<FinishHashFn>(::GetProcAddress(m, "BCryptFinishHash"));
    destroyHash = reinterpret_cast<DestroyHashFn>(::GetProcAddress(m, "BCryptDestroyHash"));
    if (!openAlgorithm || !closeAlgorithm || !getProperty || !createHash || !hashData ||
        !finishHash || !destroyHash)
      loadError = ERROR_PROC_NOT_FOUND;
  }
};

const Cng& TheCng() {
  static const Cng cng;
  return cng;
}

// A system error code for a failed NTSTATUS.
uint32_t ErrorOfStatus(NTSTATUS status) {
  static const NtStatusToDosErrorFn convert = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<NtStatusToDosErrorFn>(
                       ::GetProcAddress(ntdll, "RtlNtStatusToDosError"))
                 : nullptr;
  }();
  const ULONG error = convert ? convert(status) : 0;
  return error != 0 && error != ERROR_MR_MID_NOT_FOUND ? error : ERROR_GEN_FAILURE;
}

}  // namespace

Sha256::Sha256() {
  const Cng& cng = TheCng();
  if (cng.loadError != 0) {
    error_ = cng.loadError;
    return;
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = cng.openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) {
    Fail(status);
    return;
  }
  algorithm_ = algorithm;
  DWORD objectLength = 0;
  ULONG got = 0;
  status = cng.getProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                           sizeof(objectLength), &got, 0);
  if (!BCRYPT_SUCCESS(status)) {
    Fail(status);
    return;
  }
  object_.assign(objectLength, '\0');
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = cng.createHash(algorithm, &hash, reinterpret_cast<PUCHAR>(object_.data()), objectLength,
                          nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    Fail(status);
    return;
  }
  hash_ = hash;
}

Sha256::~Sha256() {
  const Cng& cng = TheCng();
  if (hash_ != nullptr) cng.destroyHash(hash_);
  if (algorithm_ != nullptr) cng.closeAlgorithm(algorithm_, 0);
}

void Sha256::Fail(long status) {
  if (error_ == 0) error_ = ErrorOfStatus(status);
}

void Sha256::Update(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (ok() && hash_ != nullptr && size != 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    const NTSTATUS status =
        TheCng().hashData(hash_, const_cast<PUCHAR>(bytes), piece, 0);
    if (!BCRYPT_SUCCESS(status)) {
      Fail(status);
      return;
    }
    bytes += piece;
    size -= piece;
  }
}

std::string Sha256::FinishHex() {
  if (!ok() || hash_ == nullptr) return {};
  uint8_t digest[kDigestBytes];
  const NTSTATUS status = TheCng().finishHash(hash_, digest, kDigestBytes, 0);
  if (!BCRYPT_SUCCESS(status)) {
    Fail(status);
    return {};
  }
  TheCng().destroyHash(hash_);
  hash_ = nullptr;
  std::string hex;
  hex.reserve(2 * kDigestBytes);
  for (uint8_t b : digest) {
    hex.push_back("0123456789abcdef"[b >> 4]);
    hex.push_back("0123456789abcdef"[b & 15]);
  }
  return hex;
}

std::string Sha256Hex(const void* data, size_t size, uint32_t* error) {
  Sha256 sha256;
  sha256.Update(data, size);
  std::string hex = sha256.FinishHex();
  if (error != nullptr)
    *error = !hex.empty() ? 0 : sha256.error() != 0 ? sha256.error() : ERROR_GEN_FAILURE;
  return hex;
}

}  // namespace prereq
