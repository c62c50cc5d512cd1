#pragma once
// Named return codes kept in the registry key HKEY_CURRENT_USER\InterbootContext
// for the installation to read, also after a reboot. Names are ANSI texts;
// values are REG_SZ texts stored without a terminating NUL. A value, once
// written, is never overwritten while the key exists.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "platform/core/Handles.h"

namespace prereq {

inline constexpr const char* kResultStoreKey = "InterbootContext";

class ResultStore {
 public:
  explicit ResultStore(std::string keyName = kResultStoreKey) : key_(std::move(keyName)) {}
  virtual ~ResultStore() = default;

  // Result codes: 0 done; Set: 3 when the value exists already; GetInt: 2
  // when the text is not a decimal number; Get: 1 when the key or the value
  // cannot be read; Remove: nonzero on failure.
  virtual int SetInt(const std::string& name, int32_t value);
  virtual int Set(const std::string& name, const std::string& text);
  virtual int GetInt(const std::string& name, int32_t& value);
  virtual int Get(const std::string& name, std::string& text);
  virtual int Remove(const std::string& name);

  // Walks the (name, text) pairs in the registry's enumeration order.
  class Iterator {
   public:
    std::pair<std::string, std::string> operator*() const;
    Iterator& operator++() {
      ++position_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return position_ == other.position_; }
    bool operator!=(const Iterator& other) const { return !(*this == other); }

   private:
    friend class ResultStore;
    Iterator(HKEY key, DWORD position) : key_(key), position_(position) {}
    HKEY key_;
    DWORD position_;
  };
  // The iterators share the key that Begin opens; it stays open as long as the
  // store lives.
  virtual Iterator Begin();
  virtual Iterator End();

  // Deletes the whole key (failure ignored).
  void DeleteKey();

  const std::string& KeyName() const { return key_; }

 private:
  std::string key_;
  RegKey enumKey_;  // opened by Begin for the iterators

 public:
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;
};

}  // namespace prereq
