#pragma once
// The tables of the setup authors' guide that the program holds itself,
// written as Markdown from the program's own tables so that the guide cannot
// drift from the code (scripts/doc-tables.py puts them into docs/ and checks
// them).
#include <string>
#include <string_view>
#include <vector>

namespace prereq {

// The names of the tables, in the order they are documented.
std::vector<std::wstring> DocTableNames();

// One table as Markdown lines; false for an unknown name.
bool DocTable(std::wstring_view name, std::wstring& markdown);

// The keys a loader reads from one section ("GeneralOptions", "App",
// "SearchEntry", "Mirror", "PREREQ_CHAINER"), one "Key<TAB>type<TAB>use" line each,
// in reading order; false for an unknown section.
bool SectionKeyList(std::wstring_view section, std::wstring& lines);

// The name of a value type as the guide writes it.
std::wstring_view ValueTypeName(int type);

}  // namespace prereq
