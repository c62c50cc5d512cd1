#pragma once
#include <cstdint>
#include <string>

namespace prereq {

// The system's message text for an error code (user's default language, no
// inserts, without its closing line break); the code in signed decimal when
// the system has none.
std::wstring ErrorText(uint32_t code);

// The system's message text for an error code as ErrorText reads it; empty
// when the system has none.
std::wstring SystemMessageText(uint32_t code);

}  // namespace prereq
