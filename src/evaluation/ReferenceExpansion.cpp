// The expansion scanner of folder properties, environment variables and
// registry references; what each reference stands for comes from the caller.
#include <string>
#include <string_view>

#include "evaluation/FolderProperties.h"

namespace prereq {

std::wstring ExpandReferences(std::wstring_view text, const ReferenceResolver& resolver) {
  constexpr std::wstring_view kOpeners = L"[%!";
  std::wstring result;
  result.reserve(text.size());
  size_t pos = 0;
  // The second sign of an undefined "%NAME%", where the scan went on.
  size_t resumedAt = std::wstring_view::npos;
  for (;;) {
    const size_t open = text.find_first_of(kOpeners, pos);
    if (open == std::wstring_view::npos) {
      result.append(text.substr(pos));
      return result;
    }
    result.append(text.substr(pos, open - pos));

    const wchar_t opener = text[open];
    const wchar_t closer = opener == L'[' ? L']' : opener;
    // "[" looks from itself, "%" from the next character, "!" from the second
    // next, so "!!" never closes on its own second sign.
    const size_t from = open + (opener == L'[' ? 0 : opener == L'%' ? 1 : 2);
    const size_t close = from < text.size() ? text.find(closer, from) : std::wstring_view::npos;
    if (close == std::wstring_view::npos) {
      if (open == resumedAt) {
        // That sign closed the undefined name before it and opens nothing:
        // it is text, and the rest of the text is still scanned.
        result.push_back(L'%');
        pos = open + 1;
        continue;
      }
      result.append(text.substr(open));
      return result;
    }

    const std::wstring_view name = text.substr(open + 1, close - open - 1);
    switch (opener) {
      case L'[': {
        std::wstring value;
        if (resolver.folderProperty && resolver.folderProperty(name, value))
          result.append(value);
        else
          result.append(text.substr(open, close - open + 1));
        break;
      }
      case L'%': {
        std::wstring value;
        if (!resolver.environment || !resolver.environment(name, value)) {
          // Not a variable: the text stays, and its second sign may open the
          // next reference ("%20Setup%20v2" keeps "%20Setup", then "%20v2").
          result.append(text.substr(open, close - open));
          pos = resumedAt = close;
          continue;
        }
        result.append(value);
        break;
      }
      default:
        if (resolver.registry) result.append(resolver.registry(name));
        break;
    }
    pos = close + 1;
  }
}

}  // namespace prereq
