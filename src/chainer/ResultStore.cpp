#include "chainer/ResultStore.h"

#include <vector>

#include "platform/core/Handles.h"

namespace prereq {

int ResultStore::SetInt(const std::string& name, int32_t value) {
  return Set(name, std::to_string(value));
}

int ResultStore::Set(const std::string& name, const std::string& text) {
  std::string existing;
  if (Get(name, existing) == 0) return 3;
  RegKey key;
  ::RegCreateKeyA(HKEY_CURRENT_USER, key_.c_str(), key.put());
  // REG_SZ without the terminating NUL: the byte count is the text length.
  ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
  return 0;
}

int ResultStore::GetInt(const std::string& name, int32_t& value) {
  std::string text;
  if (Get(name, text) != 0) text.clear();
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  uint32_t number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    number = number * 10u + static_cast<uint32_t>(text[i] - '0');
  if (i != text.size()) return 2;
  value = static_cast<int32_t>(negative ? 0u - number : number);
  return 0;
}

int ResultStore::Get(const std::string& name, std::string& text) {
  RegKey key;
  if (::RegOpenKeyA(HKEY_CURRENT_USER, key_.c_str(), key.put()) != ERROR_SUCCESS) return 1;
  std::vector<char> buffer(260);
  DWORD size = static_cast<DWORD>(buffer.size()), type = 0;
  LSTATUS status = ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status == ERROR_MORE_DATA) {
    buffer.assign(size, '\0');
    status = ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(buffer.data()), &size);
  }
  if (status != ERROR_SUCCESS) return 1;
  size_t length = size;
  while (length > 0 && buffer[length - 1] == '\0') --length;  // written with or without NUL
  text.assign(buffer.data(), length);
  return 0;
}

int ResultStore::Remove(const std::string& name) {
  RegKey key;
  LSTATUS status = ::RegOpenKeyA(HKEY_CURRENT_USER, key_.c_str(), key.put());
  if (status != ERROR_SUCCESS) return static_cast<int>(status);
  return static_cast<int>(::RegDeleteValueA(key.get(), name.c_str()));
}

ResultStore::Iterator ResultStore::Begin() {
  ::RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, enumKey_.put());
  return Iterator(enumKey_.get(), 0);
}

ResultStore::Iterator ResultStore::End() {
  if (!enumKey_) Begin();
  DWORD values = 0;
  if (!enumKey_ ||
      ::RegQueryInfoKeyW(enumKey_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return Iterator(enumKey_.get(), 0);
  return Iterator(enumKey_.get(), values);
}

std::pair<std::string, std::string> ResultStore::Iterator::operator*() const {
  std::vector<char> name(16384);
  DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, dataSize = 0;
  if (key_ == nullptr || ::RegEnumValueA(key_, position_, name.data(), &nameLength, nullptr, &type,
                                         nullptr, &dataSize) != ERROR_SUCCESS)
    return {};
  std::vector<char> data(dataSize + 1);
  nameLength = static_cast<DWORD>(name.size());
  DWORD size = dataSize;
  if (::RegEnumValueA(key_, position_, name.data(), &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return {};
  size_t length = size;
  while (length > 0 && data[length - 1] == '\0') --length;
  return {std::string(name.data(), nameLength), std::string(data.data(), length)};
}

void ResultStore::DeleteKey() {
  enumKey_.reset();
  ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
}

}  // namespace prereq
