#include "authoring/PeResources.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace prereq {

namespace {

// --- little-endian access with bounds ------------------------------------------

bool Fits(std::span<const uint8_t> bytes, size_t offset, size_t size) {
  return offset <= bytes.size() && size <= bytes.size() - offset;
}
uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

// --- the headers -------------------------------------------------------------------

constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectoryResource = 2;
constexpr uint32_t kDirectorySecurity = 4;
constexpr uint32_t kDirectoryDebug = 6;

struct Section {
  size_t headerOffset;
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawOffset;
};

struct Headers {
  size_t coff = 0;           // file header offset (after "PE\0\0")
  size_t optional = 0;       // optional header offset
  bool pe32plus = false;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  size_t checksumOffset = 0;
  size_t directories = 0;    // offset of the data directories
  uint32_t directoryCount = 0;
  size_t sectionTable = 0;
  std::vector<Section> sections;
};

bool ParseHeaders(std::span<const uint8_t> image, Headers& h, std::wstring& error) {
  if (!Fits(image, 0, 64) || image[0] != 'M' || image[1] != 'Z') {
    error = L"not a Windows executable (no MZ header)";
    return false;
  }
  const uint32_t peOffset = U32(image, 0x3C);
  if (!Fits(image, peOffset, 24) || std::memcmp(image.data() + peOffset, "PE\0\0", 4) != 0) {
    error = L"not a Windows executable (no PE header)";
    return false;
  }
  h.coff = peOffset + 4;
  const uint16_t sectionCount = U16(image, h.coff + 2);
  const uint16_t optionalSize = U16(image, h.coff + 16);
  h.optional = h.coff + 20;
  if (!Fits(image, h.optional, optionalSize) || optionalSize < 2) {
    error = L"truncated optional header";
    return false;
  }
  const uint16_t magic = U16(image, h.optional);
  if (magic != 0x10B && magic != 0x20B) {
    error = L"unknown optional header";
    return false;
  }
  h.pe32plus = magic == 0x20B;
  const size_t countAt = h.optional + (h.pe32plus ? 108 : 92);
  h.directories = countAt + 4;
  if (optionalSize < (h.pe32plus ? 112u : 96u)) {
    error = L"truncated optional header";
    return false;
  }
  h.sectionAlignment = U32(image, h.optional + 32);
  h.fileAlignment = U32(image, h.optional + 36);
  h.sizeOfHeaders = U32(image, h.optional + 60);
  h.checksumOffset = h.optional + 64;
  h.directoryCount = U32(image, countAt);
  if (h.directoryCount > 16 || h.directories + h.directoryCount * 8 > h.optional + optionalSize) {
    error = L"malformed data directories";
    return false;
  }
  if (h.fileAlignment == 0 || h.sectionAlignment == 0 || (h.fileAlignment & (h.fileAlignment - 1)) ||
      (h.sectionAlignment & (h.sectionAlignment - 1))) {
    error = L"malformed alignment";
    return false;
  }
  h.sectionTable = h.optional + optionalSize;
  if (!Fits(image, h.sectionTable, sectionCount * kSectionHeaderSize)) {
    error = L"truncated section table";
    return false;
  }
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t at = h.sectionTable + i * kSectionHeaderSize;
    Section s{at, U32(image, at + 8), U32(image, at + 12), U32(image, at + 16), U32(image, at + 20)};
    if (s.rawSize != 0 && !Fits(image, s.rawOffset, s.rawSize)) {
      error = L"a section lies beyond the end of the file";
      return false;
    }
    h.sections.push_back(s);
  }
  return true;
}

uint32_t Directory(std::span<const uint8_t> image, const Headers& h, uint32_t index, bool size) {
  if (index >= h.directoryCount) return 0;
  return U32(image, h.directories + index * 8 + (size ? 4 : 0));
}

// The section that holds an RVA, or nullptr.
const Section* SectionOf(const Headers& h, uint32_t rva) {
  for (const Section& s : h.sections) {
    const uint32_t extent = std::max(s.virtualSize, s.rawSize);
    if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) return &s;
  }
  return nullptr;
}

// --- reading the directory -----------------------------------------------------------

struct Reader {
  std::span<const uint8_t> image;
  std::span<const uint8_t> section;  // the bytes of the resource section from its directory root
  uint32_t rootRva = 0;
  const Headers* headers = nullptr;
  std::set<uint32_t> visited;  // directory offsets already read (no loops)
  std::wstring* error = nullptr;

  bool Fail(const wchar_t* why) {
    *error = why;
    return false;
  }

  bool Name(uint32_t field, ResourceId& id) {
    if ((field & 0x80000000u) == 0) {
      if (field > 0xFFFF) return Fail(L"malformed resource identifier");
      id = ResourceId::Of(static_cast<uint16_t>(field));
      return true;
    }
    const uint32_t at = field & 0x7FFFFFFFu;
    if (!Fits(section, at, 2)) return Fail(L"resource name beyond the section");
    const uint16_t length = U16(section, at);
    if (!Fits(section, at + 2, length * 2u)) return Fail(L"resource name beyond the section");
    std::wstring name;
    for (uint16_t i = 0; i < length; ++i) name.push_back(static_cast<wchar_t>(U16(section, at + 2 + i * 2u)));
    id = ResourceId::Named(std::move(name));
    return true;
  }

  // Reads the directory at `offset` on `level` (0 types, 1 names, 2 languages).
  bool ReadDirectory(uint32_t offset, int level, Resource& path, std::vector<Resource>& out) {
    if (!visited.insert(offset).second) return Fail(L"resource directory loops");
    if (!Fits(section, offset, 16)) return Fail(L"resource directory beyond the section");
    const uint32_t count = static_cast<uint32_t>(U16(section, offset + 12)) + U16(section, offset + 14);
    if (!Fits(section, offset + 16, count * 8u)) return Fail(L"resource directory beyond the section");
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = offset + 16 + i * 8u;
      const uint32_t nameField = U32(section, entry);
      const uint32_t target = U32(section, entry + 4);
      ResourceId id;
      if (!Name(nameField, id)) return false;
      const bool subdirectory = (target & 0x80000000u) != 0;
      if (level < 2) {
        if (!subdirectory) return Fail(L"resource directory too shallow");
        (level == 0 ? path.type : path.name) = id;
        if (!ReadDirectory(target & 0x7FFFFFFFu, level + 1, path, out)) return false;
        continue;
      }
      if (subdirectory || id.isName) return Fail(L"resource directory too deep");
      if (!Fits(section, target, 16)) return Fail(L"resource data entry beyond the section");
      const uint32_t dataRva = U32(section, target);
      const uint32_t size = U32(section, target + 4);
      Resource r = path;
      r.language = id.id;
      r.codePage = U32(section, target + 8);
      if (size == 0) {  // no data: where it would be does not matter
        out.push_back(std::move(r));
        continue;
      }
      const Section* holder = SectionOf(*headers, dataRva);
      if (holder == nullptr) return Fail(L"resource data outside every section");
      const uint64_t fileOffset = uint64_t{holder->rawOffset} + (dataRva - holder->virtualAddress);
      if (dataRva - holder->virtualAddress > holder->rawSize ||
          size > holder->rawSize - (dataRva - holder->virtualAddress) ||
          !Fits(image, static_cast<size_t>(fileOffset), size))
        return Fail(L"resource data beyond its section");
      r.data.assign(image.begin() + static_cast<ptrdiff_t>(fileOffset),
                    image.begin() + static_cast<ptrdiff_t>(fileOffset + size));
      out.push_back(std::move(r));
    }
    return true;
  }
};

// --- writing the directory ----------------------------------------------------------------

// Windows looks names up in order, without regard to case: names first, by
// their upper-case text, then identifiers in increasing order.
bool IdLess(const ResourceId& a, const ResourceId& b) {
  if (a.isName != b.isName) return a.isName;
  if (!a.isName) return a.id < b.id;
  auto upper = [](wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; };
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [&](wchar_t x, wchar_t y) { return upper(x) < upper(y); });
}

struct Tree {
  struct Lang {
    uint16_t language;
    const Resource* resource;
  };
  struct Name {
    ResourceId id;
    std::vector<Lang> languages;
  };
  struct Type {
    ResourceId id;
    std::vector<Name> names;
  };
  std::vector<Type> types;
};

Tree BuildTree(const std::vector<Resource>& resources) {
  Tree tree;
  for (const Resource& r : resources) {
    auto type = std::find_if(tree.types.begin(), tree.types.end(),
                             [&](const Tree::Type& t) { return t.id == r.type; });
    if (type == tree.types.end()) type = tree.types.insert(tree.types.end(), {r.type, {}});
    auto name = std::find_if(type->names.begin(), type->names.end(),
                             [&](const Tree::Name& n) { return n.id == r.name; });
    if (name == type->names.end()) name = type->names.insert(type->names.end(), {r.name, {}});
    auto lang = std::find_if(name->languages.begin(), name->languages.end(),
                             [&](const Tree::Lang& l) { return l.language == r.language; });
    if (lang == name->languages.end())
      name->languages.push_back({r.language, &r});
    else
      lang->resource = &r;  // a later entry replaces an earlier one
  }
  std::sort(tree.types.begin(), tree.types.end(),
            [](const Tree::Type& a, const Tree::Type& b) { return IdLess(a.id, b.id); });
  for (Tree::Type& t : tree.types) {
    std::sort(t.names.begin(), t.names.end(),
              [](const Tree::Name& a, const Tree::Name& b) { return IdLess(a.id, b.id); });
    for (Tree::Name& n : t.names)
      std::sort(n.languages.begin(), n.languages.end(),
                [](const Tree::Lang& a, const Tree::Lang& b) { return a.language < b.language; });
  }
  return tree;
}

// The bytes of a resource section whose first byte lies at `baseRva`.
std::vector<uint8_t> BuildSection(const std::vector<Resource>& resources, uint32_t baseRva) {
  const Tree tree = BuildTree(resources);
  // Sizes of the three parts: directories, names, data entries.
  size_t directories = 16 + tree.types.size() * 8;
  size_t dataEntries = 0;
  std::vector<const ResourceId*> names;
  for (const Tree::Type& t : tree.types) {
    if (t.id.isName) names.push_back(&t.id);
    directories += 16 + t.names.size() * 8;
    for (const Tree::Name& n : t.names) {
      if (n.id.isName) names.push_back(&n.id);
      directories += 16 + n.languages.size() * 8;
      dataEntries += n.languages.size();
    }
  }
  size_t namesSize = 0;
  for (const ResourceId* id : names) namesSize += 2 + id->name.size() * 2;
  const size_t namesAt = directories;
  const size_t entriesAt = AlignUp(static_cast<uint32_t>(namesAt + namesSize), 4);
  size_t dataAt = AlignUp(static_cast<uint32_t>(entriesAt + dataEntries * 16), 8);

  size_t total = dataAt;
  for (const Tree::Type& t : tree.types)
    for (const Tree::Name& n : t.names)
      for (const Tree::Lang& l : n.languages) total = AlignUp(static_cast<uint32_t>(total), 8) + l.resource->data.size();
  std::vector<uint8_t> out(AlignUp(static_cast<uint32_t>(total), 8), 0);

  size_t nextDirectory = 0;
  size_t nextName = namesAt;
  size_t nextEntry = entriesAt;
  size_t nextData = dataAt;
  auto writeDirectory = [&](size_t at, size_t named, size_t ids) {
    Put16(out, at + 12, static_cast<uint32_t>(named));
    Put16(out, at + 14, static_cast<uint32_t>(ids));
  };
  auto nameField = [&](const ResourceId& id) -> uint32_t {
    if (!id.isName) return id.id;
    const size_t at = nextName;
    Put16(out, at, static_cast<uint32_t>(id.name.size()));
    for (size_t i = 0; i < id.name.size(); ++i)
      Put16(out, at + 2 + i * 2, static_cast<uint16_t>(id.name[i]));
    nextName += 2 + id.name.size() * 2;
    return 0x80000000u | static_cast<uint32_t>(at);
  };
  auto countNamed = [](const auto& items) {
    return static_cast<size_t>(std::count_if(items.begin(), items.end(),
                                             [](const auto& item) { return item.id.isName; }));
  };

  const size_t root = nextDirectory;
  nextDirectory += 16 + tree.types.size() * 8;
  writeDirectory(root, countNamed(tree.types), tree.types.size() - countNamed(tree.types));
  for (size_t ti = 0; ti < tree.types.size(); ++ti) {
    const Tree::Type& t = tree.types[ti];
    const size_t typeDirectory = nextDirectory;
    nextDirectory += 16 + t.names.size() * 8;
    Put32(out, root + 16 + ti * 8, nameField(t.id));
    Put32(out, root + 16 + ti * 8 + 4, 0x80000000u | static_cast<uint32_t>(typeDirectory));
    writeDirectory(typeDirectory, countNamed(t.names), t.names.size() - countNamed(t.names));
    for (size_t ni = 0; ni < t.names.size(); ++ni) {
      const Tree::Name& n = t.names[ni];
      const size_t nameDirectory = nextDirectory;
      nextDirectory += 16 + n.languages.size() * 8;
      Put32(out, typeDirectory + 16 + ni * 8, nameField(n.id));
      Put32(out, typeDirectory + 16 + ni * 8 + 4, 0x80000000u | static_cast<uint32_t>(nameDirectory));
      writeDirectory(nameDirectory, 0, n.languages.size());
      for (size_t li = 0; li < n.languages.size(); ++li) {
        const Tree::Lang& l = n.languages[li];
        const size_t entry = nextEntry;
        nextEntry += 16;
        Put32(out, nameDirectory + 16 + li * 8, l.language);
        Put32(out, nameDirectory + 16 + li * 8 + 4, static_cast<uint32_t>(entry));
        nextData = AlignUp(static_cast<uint32_t>(nextData), 8);
        Put32(out, entry, baseRva + static_cast<uint32_t>(nextData));
        Put32(out, entry + 4, static_cast<uint32_t>(l.resource->data.size()));
        Put32(out, entry + 8, l.resource->codePage);
        if (!l.resource->data.empty())
          std::memcpy(out.data() + nextData, l.resource->data.data(), l.resource->data.size());
        nextData += l.resource->data.size();
      }
    }
  }
  return out;
}

// A layout that can be rewritten: headers that hold the section table,
// sections whose file data lies after the headers without overlapping, and
// whose addresses increase without overlapping.
bool RewritableLayout(const Headers& h, size_t fileSize) {
  const size_t tableEnd = h.sectionTable + h.sections.size() * kSectionHeaderSize;
  if (h.sizeOfHeaders < tableEnd || h.sizeOfHeaders > fileSize) return false;
  std::vector<std::pair<uint32_t, uint32_t>> raw;
  // The headers take the first addresses of the image.
  uint32_t lastVirtualEnd = AlignUp(h.sizeOfHeaders, h.sectionAlignment);
  for (const Section& s : h.sections) {
    if (s.rawSize != 0) {
      if (s.rawOffset < h.sizeOfHeaders) return false;
      raw.emplace_back(s.rawOffset, s.rawOffset + s.rawSize);
    }
    const uint64_t virtualEnd = uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
    if (s.virtualAddress < lastVirtualEnd || virtualEnd > 0x80000000u) return false;
    lastVirtualEnd = static_cast<uint32_t>(virtualEnd);
  }
  std::sort(raw.begin(), raw.end());
  for (size_t i = 1; i < raw.size(); ++i)
    if (raw[i].first < raw[i - 1].second) return false;
  return true;
}

uint32_t SizeOfImageFor(const Headers& h, const std::vector<Section>& sections) {
  uint32_t end = AlignUp(h.sizeOfHeaders, h.sectionAlignment);
  for (const Section& s : sections)
    end = std::max(end, AlignUp(s.virtualAddress + std::max(s.virtualSize, s.rawSize), h.sectionAlignment));
  return end;
}

}  // namespace

uint32_t PeChecksum(std::span<const uint8_t> image, size_t checksumOffset) {
  auto byte = [&](size_t i) -> uint32_t {
    return (i >= checksumOffset && i < checksumOffset + 4) ? 0u : image[i];
  };
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = byte(i);
    if (i + 1 < image.size()) word |= byte(i + 1) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(image.size());
}

bool ReadResources(std::span<const uint8_t> image, std::vector<Resource>& resources,
                   std::wstring& error) {
  resources.clear();
  Headers h;
  if (!ParseHeaders(image, h, error)) return false;
  const uint32_t rva = Directory(image, h, kDirectoryResource, false);
  const uint32_t size = Directory(image, h, kDirectoryResource, true);
  if (rva == 0 || size == 0) return true;
  const Section* s = SectionOf(h, rva);
  if (s == nullptr || rva - s->virtualAddress >= s->rawSize) {
    error = L"the resource directory lies outside every section";
    return false;
  }
  Reader reader;
  reader.image = image;
  const size_t start = s->rawOffset + (rva - s->virtualAddress);
  reader.section = image.subspan(start, s->rawSize - (rva - s->virtualAddress));
  reader.rootRva = rva;
  reader.headers = &h;
  reader.error = &error;
  Resource path;
  return reader.ReadDirectory(0, 0, path, resources);
}

bool WriteResources(std::span<const uint8_t> image, const std::vector<Resource>& resources,
                    std::vector<uint8_t>& out, std::wstring& error) {
  Headers h;
  if (!ParseHeaders(image, h, error)) return false;
  if (Directory(image, h, kDirectorySecurity, false) != 0) {
    error = L"the executable is signed: stamp it before signing";
    return false;
  }
  if (!RewritableLayout(h, image.size())) {
    error = L"the executable's sections overlap each other or its headers";
    return false;
  }
  // The format allows file alignments of 512 bytes to 64 KiB (smaller ones
  // equal to the section alignment); larger ones are not images to rewrite.
  if (h.fileAlignment > 0x10000) {
    error = L"the executable's file alignment is beyond 64 KiB";
    return false;
  }
  if (h.directoryCount <= kDirectoryResource) {
    error = L"the executable's headers have no entry for resources";
    return false;
  }
  const uint32_t oldRva = Directory(image, h, kDirectoryResource, false);
  const Section* old = oldRva != 0 ? SectionOf(h, oldRva) : nullptr;
  // The section must begin with the directory so that it can be rebuilt whole.
  if (old != nullptr && old->virtualAddress != oldRva) old = nullptr;

  // File data after every section (an overlay) is kept at the end.
  uint32_t rawEnd = AlignUp(h.sizeOfHeaders, 1);
  for (const Section& s : h.sections)
    if (s.rawSize != 0) rawEnd = std::max(rawEnd, s.rawOffset + s.rawSize);
  rawEnd = std::min<uint32_t>(rawEnd, static_cast<uint32_t>(image.size()));
  const std::vector<uint8_t> overlay(image.begin() + rawEnd, image.end());

  out.assign(image.begin(), image.begin() + rawEnd);
  std::vector<Section> sections = h.sections;
  size_t index = sections.size();
  for (size_t i = 0; i < sections.size(); ++i)
    if (old != nullptr && sections[i].headerOffset == old->headerOffset) index = i;

  uint32_t lastVirtualEnd = AlignUp(h.sizeOfHeaders, h.sectionAlignment);
  for (const Section& s : sections)
    lastVirtualEnd = std::max(lastVirtualEnd, s.virtualAddress + std::max(s.virtualSize, s.rawSize));

  std::vector<uint8_t> data;
  bool placed = false;
  if (index < sections.size()) {
    Section& s = sections[index];
    data = BuildSection(resources, s.virtualAddress);
    // Room up to the next section in memory.
    uint32_t nextVirtual = UINT32_MAX;
    for (const Section& other : sections)
      if (other.virtualAddress > s.virtualAddress) nextVirtual = std::min(nextVirtual, other.virtualAddress);
    // In place when the new directory fits below the next section and the
    // old one has file data to replace.
    const bool hasData = s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize <= out.size();
    if (hasData && (nextVirtual == UINT32_MAX || s.virtualAddress + data.size() <= nextVirtual)) {
      const uint32_t newRaw = AlignUp(static_cast<uint32_t>(data.size()), h.fileAlignment);
      const int64_t delta = static_cast<int64_t>(newRaw) - static_cast<int64_t>(s.rawSize);
      const uint32_t oldStart = s.rawOffset;
      const uint32_t oldEnd = s.rawOffset + s.rawSize;
      // Rebuild the file: before the section, the new section, what came after.
      std::vector<uint8_t> rebuilt(out.begin(), out.begin() + oldStart);
      rebuilt.insert(rebuilt.end(), data.begin(), data.end());
      rebuilt.resize(oldStart + newRaw, 0);
      rebuilt.insert(rebuilt.end(), out.begin() + std::min<size_t>(oldEnd, out.size()), out.end());
      out = std::move(rebuilt);
      for (Section& other : sections)
        if (&other != &s && other.rawOffset >= oldEnd && other.rawSize != 0)
          other.rawOffset = static_cast<uint32_t>(other.rawOffset + delta);
      s.rawSize = newRaw;
      s.virtualSize = static_cast<uint32_t>(data.size());
      // File offsets elsewhere in the headers that pointed after the section.
      const uint32_t symbols = U32(out, h.coff + 8);
      if (symbols >= oldEnd) Put32(out, h.coff + 8, static_cast<uint32_t>(symbols + delta));
      const uint32_t debugRva = Directory(image, h, kDirectoryDebug, false);
      const uint32_t debugSize = Directory(image, h, kDirectoryDebug, true);
      const Section* ds = debugRva ? SectionOf(h, debugRva) : nullptr;
      // (A debug directory inside the rebuilt section is gone with it.)
      if (ds != nullptr && ds->headerOffset != s.headerOffset) {
        // The debug directory's own section may have moved: find it again.
        for (const Section& now : sections)
          if (now.headerOffset == ds->headerOffset &&
              uint64_t{debugRva - now.virtualAddress} + debugSize <= now.rawSize) {
            const size_t at = now.rawOffset + (debugRva - now.virtualAddress);
            for (size_t e = 0; e + 28 <= debugSize && at + e + 28 <= out.size(); e += 28) {
              const uint32_t pointer = U32(out, at + e + 24);
              if (pointer >= oldEnd) Put32(out, at + e + 24, static_cast<uint32_t>(pointer + delta));
            }
          }
      }
      placed = true;
    }
  }
  if (!placed) {
    // A new section after the last one.
    const size_t headerAt = h.sectionTable + sections.size() * kSectionHeaderSize;
    uint32_t firstRaw = UINT32_MAX;
    for (const Section& s : sections)
      if (s.rawSize != 0) firstRaw = std::min(firstRaw, s.rawOffset);
    if (headerAt + kSectionHeaderSize > std::min<uint32_t>(h.sizeOfHeaders, firstRaw)) {
      error = L"no room for another section header";
      return false;
    }
    Section s{headerAt, 0, AlignUp(lastVirtualEnd, h.sectionAlignment), 0, 0};
    data = BuildSection(resources, s.virtualAddress);
    s.virtualSize = static_cast<uint32_t>(data.size());
    s.rawSize = AlignUp(s.virtualSize, h.fileAlignment);
    s.rawOffset = AlignUp(static_cast<uint32_t>(out.size()), h.fileAlignment);
    out.resize(s.rawOffset, 0);
    out.insert(out.end(), data.begin(), data.end());
    out.resize(s.rawOffset + s.rawSize, 0);
    static const uint8_t kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    std::memcpy(out.data() + headerAt, kName, 8);
    Put32(out, headerAt + 36, 0x40000040u);  // initialized data, readable
    for (size_t i = 24; i < 36; ++i) out[headerAt + i] = 0;
    sections.push_back(s);
    Put16(out, h.coff + 2, static_cast<uint32_t>(sections.size()));
    index = sections.size() - 1;
  }
  out.insert(out.end(), overlay.begin(), overlay.end());

  // Section headers, the resource directory entry and the image's sizes.
  int64_t initializedDelta = 0;
  for (size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    if (i < h.sections.size() && i == index)
      initializedDelta = static_cast<int64_t>(s.rawSize) - h.sections[i].rawSize;
    else if (i >= h.sections.size())
      initializedDelta = s.rawSize;
    Put32(out, s.headerOffset + 8, s.virtualSize);
    Put32(out, s.headerOffset + 12, s.virtualAddress);
    Put32(out, s.headerOffset + 16, s.rawSize);
    Put32(out, s.headerOffset + 20, s.rawOffset);
  }
  Put32(out, h.directories + kDirectoryResource * 8, sections[index].virtualAddress);
  Put32(out, h.directories + kDirectoryResource * 8 + 4, static_cast<uint32_t>(data.size()));
  Put32(out, h.optional + 56, SizeOfImageFor(h, sections));
  const uint32_t initialized = U32(out, h.optional + 8);
  Put32(out, h.optional + 8, static_cast<uint32_t>(initialized + initializedDelta));
  if (U32(out, h.checksumOffset) != 0) {
    Put32(out, h.checksumOffset, 0);
    Put32(out, h.checksumOffset, PeChecksum(out, h.checksumOffset));
  }
  // The result must be an image that can be rewritten in turn.
  Headers written;
  if (!ParseHeaders(out, written, error) || !RewritableLayout(written, out.size())) {
    error = L"the executable leaves no room for the new resources";
    return false;
  }
  return true;
}

}  // namespace prereq
