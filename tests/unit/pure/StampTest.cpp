// The PE resource reader and writer, the version resource and the icon file,
// on images laid out here byte by byte (PE32 and PE32+); the Windows tests
// check the results against the system's own loader and resource functions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "authoring/PeResources.h"
#include "authoring/Stamp.h"
#include "authoring/VersionInfo.h"

using namespace prereq;

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct ImageShape {
  bool pe32plus = false;
  bool resources = true;       // a .rsrc section with one version-like resource
  bool sectionAfter = false;   // a .reloc section after .rsrc
  uint32_t checksum = 0;
  size_t overlay = 0;          // bytes after the last section
};

constexpr uint32_t kHeaderSize = 0x400, kFileAlign = 0x200, kSectionAlign = 0x1000;

// A resource section at `rva` holding type 16, name 1, language 1033 with
// `data` — laid out by hand, not by the writer under test.
std::vector<uint8_t> HandMadeResources(uint32_t rva, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> s(0x60 + data.size(), 0);
  Put16(s, 14, 1);                       // root: one id entry
  Put32(s, 16, 16);                      // type 16
  Put32(s, 20, 0x80000000u | 0x18);      // -> type directory
  Put16(s, 0x18 + 14, 1);
  Put32(s, 0x18 + 16, 1);                // name 1
  Put32(s, 0x18 + 20, 0x80000000u | 0x30);
  Put16(s, 0x30 + 14, 1);
  Put32(s, 0x30 + 16, 1033);             // language
  Put32(s, 0x30 + 20, 0x48);             // -> data entry
  Put32(s, 0x48, rva + 0x60);
  Put32(s, 0x4C, static_cast<uint32_t>(data.size()));
  std::memcpy(s.data() + 0x60, data.data(), data.size());
  return s;
}

std::vector<uint8_t> MakeImage(const ImageShape& shape, const std::vector<uint8_t>& resourceData) {
  std::vector<uint8_t> img(kHeaderSize, 0);
  img[0] = 'M';
  img[1] = 'Z';
  Put32(img, 0x3C, 0x80);
  std::memcpy(img.data() + 0x80, "PE\0\0", 4);
  const size_t coff = 0x84;
  const int sections = 1 + (shape.resources ? 1 : 0) + (shape.sectionAfter ? 1 : 0);
  const uint32_t optionalSize = shape.pe32plus ? 0xF0 : 0xE0;
  Put16(img, coff, shape.pe32plus ? 0x8664 : 0x14C);
  Put16(img, coff + 2, static_cast<uint32_t>(sections));
  Put16(img, coff + 16, optionalSize);
  Put16(img, coff + 18, 0x102);
  const size_t opt = coff + 20;
  Put16(img, opt, shape.pe32plus ? 0x20B : 0x10B);
  Put32(img, opt + 32, kSectionAlign);
  Put32(img, opt + 36, kFileAlign);
  Put32(img, opt + 60, kHeaderSize);
  Put32(img, opt + 64, shape.checksum);
  const size_t count = opt + (shape.pe32plus ? 108 : 92);
  Put32(img, count, 16);
  const size_t dirs = count + 4;
  size_t header = opt + optionalSize;
  uint32_t va = 0x1000;
  auto addSection = [&](const char* name, const std::vector<uint8_t>& data, uint32_t flags) {
    std::memcpy(img.data() + header, name, std::strlen(name));
    const uint32_t raw = (static_cast<uint32_t>(data.size()) + kFileAlign - 1) / kFileAlign * kFileAlign;
    Put32(img, header + 8, static_cast<uint32_t>(data.size()));
    Put32(img, header + 12, va);
    Put32(img, header + 16, raw);
    Put32(img, header + 20, static_cast<uint32_t>(img.size()));
    Put32(img, header + 36, flags);
    img.insert(img.end(), data.begin(), data.end());
    img.resize(img.size() + (raw - data.size()), 0);
    header += 40;
    const uint32_t at = va;
    va += (static_cast<uint32_t>(data.size()) + kSectionAlign - 1) / kSectionAlign * kSectionAlign;
    return at;
  };
  addSection(".text", std::vector<uint8_t>(0x180, 0xC3), 0x60000020);
  if (shape.resources) {
    const std::vector<uint8_t> rsrc = HandMadeResources(va, resourceData);
    const uint32_t at = addSection(".rsrc", rsrc, 0x40000040);
    Put32(img, dirs + 2 * 8, at);
    Put32(img, dirs + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()));
  }
  if (shape.sectionAfter) addSection(".reloc", std::vector<uint8_t>(0x20, 0x11), 0x42000040);
  Put32(img, opt + 56, va);
  for (size_t i = 0; i < shape.overlay; ++i) img.push_back(static_cast<uint8_t>(i));
  return img;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

TEST(PeResources, ReadsAHandMadeDirectory) {
  for (bool plus : {false, true}) {
    const std::vector<uint8_t> data = Bytes(37, 1);
    std::vector<Resource> found;
    std::wstring error;
    ASSERT_TRUE(ReadResources(MakeImage({plus}, data), found, error)) << std::string(error.begin(), error.end());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type, ResourceId::Of(16));
    EXPECT_EQ(found[0].name, ResourceId::Of(1));
    EXPECT_EQ(found[0].language, 1033);
    EXPECT_EQ(found[0].data, data);
  }
  std::vector<Resource> none;
  std::wstring error;
  ASSERT_TRUE(ReadResources(MakeImage({false, false}, {}), none, error));
  EXPECT_TRUE(none.empty());
}

// Writes, reads back, and compares; for every placement the writer has.
TEST(PeResources, WriteThenReadGivesTheSameResources) {
  const std::vector<Resource> wanted = {
      {ResourceId::Of(16), ResourceId::Of(1), 1033, 0, Bytes(300, 3)},
      {ResourceId::Of(3), ResourceId::Of(2), 1033, 0, Bytes(5000, 9)},  // larger than the old section
      {ResourceId::Of(3), ResourceId::Of(1), 1033, 0, Bytes(1, 4)},
      {ResourceId::Named(L"MAIN"), ResourceId::Named(L"beta"), 0, 1252, Bytes(8, 5)},
      {ResourceId::Named(L"MAIN"), ResourceId::Named(L"Alpha"), 7, 0, {}},
  };
  struct Case {
    const char* name;
    ImageShape shape;
  };
  const Case cases[] = {
      {"last_section", {false, true, false}},
      {"last_section_pe32plus", {true, true, false}},
      {"section_after", {false, true, true}},
      {"no_resources", {false, false, false}},
      {"no_resources_section_after", {false, false, true}},
      {"overlay_kept", {false, true, false, 0, 77}},
      {"checksum", {false, true, true, 0x1234}},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> image = MakeImage(c.shape, Bytes(37, 1));
    std::vector<uint8_t> out;
    std::wstring error;
    ASSERT_TRUE(WriteResources(image, wanted, out, error)) << c.name;
    std::vector<Resource> back;
    ASSERT_TRUE(ReadResources(out, back, error)) << c.name << " " << std::string(error.begin(), error.end());
    ASSERT_EQ(back.size(), wanted.size()) << c.name;
    // Directory order: names before identifiers, names without regard to case.
    EXPECT_EQ(back[0].type, ResourceId::Named(L"MAIN")) << c.name;
    EXPECT_EQ(back[0].name, ResourceId::Named(L"Alpha")) << c.name;
    EXPECT_EQ(back[2].type, ResourceId::Of(3)) << c.name;
    EXPECT_EQ(back[2].name, ResourceId::Of(1)) << c.name;
    for (const Resource& w : wanted) {
      auto it = std::find_if(back.begin(), back.end(), [&](const Resource& r) {
        return r.type == w.type && r.name == w.name && r.language == w.language;
      });
      ASSERT_NE(it, back.end()) << c.name;
      EXPECT_EQ(it->data, w.data) << c.name;
      EXPECT_EQ(it->codePage, w.codePage) << c.name;
    }
    // The code before the resources is untouched; the overlay stays last.
    EXPECT_TRUE(std::equal(image.begin() + kHeaderSize, image.begin() + kHeaderSize + 0x180, out.begin() + kHeaderSize)) << c.name;
    if (c.shape.overlay) {
      EXPECT_TRUE(std::equal(image.end() - static_cast<ptrdiff_t>(c.shape.overlay), image.end(),
                             out.end() - static_cast<ptrdiff_t>(c.shape.overlay)))
          << c.name;
    }
    const size_t checksumAt = 0x84 + 20 + 64;
    if (c.shape.checksum)
      EXPECT_EQ(Get32(out, checksumAt), PeChecksum(out, checksumAt)) << c.name;
    else
      EXPECT_EQ(Get32(out, checksumAt), 0u) << c.name;
    // SizeOfImage covers every section.
    EXPECT_EQ(Get32(out, 0x84 + 20 + 56) % kSectionAlign, 0u) << c.name;
  }
}

TEST(PeResources, AfterAGrowingSectionTheLaterSectionsDataMoves) {
  const std::vector<uint8_t> image = MakeImage({false, true, true}, Bytes(37, 1));
  std::vector<Resource> resources;
  std::wstring error;
  ASSERT_TRUE(ReadResources(image, resources, error));
  resources[0].data = Bytes(1500, 2);  // two file-alignment units more
  std::vector<uint8_t> out;
  ASSERT_TRUE(WriteResources(image, resources, out, error));
  // The .reloc header is the third; its data (0x11 bytes) must be where its header says.
  const size_t header = 0x84 + 20 + 0xE0 + 2 * 40;
  const uint32_t raw = Get32(out, header + 20);
  ASSERT_LE(raw + 0x20, out.size());
  for (size_t i = 0; i < 0x20; ++i) ASSERT_EQ(out[raw + i], 0x11) << i;
  // The resource section grew by whole file-alignment units; nothing else did.
  const size_t rsrcHeader = header - 40;
  EXPECT_EQ(Get32(out, rsrcHeader + 12), Get32(image, rsrcHeader + 12));  // same address
  EXPECT_EQ(out.size(), image.size() + Get32(out, rsrcHeader + 16) - Get32(image, rsrcHeader + 16));
  EXPECT_GT(Get32(out, rsrcHeader + 16), Get32(image, rsrcHeader + 16));
}

TEST(PeResources, RefusesWhatItCannotRead) {
  const std::vector<uint8_t> good = MakeImage({}, Bytes(37, 1));
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
  };
  std::vector<uint8_t> noMz = good;
  noMz[0] = 'X';
  std::vector<uint8_t> noPe = good;
  noPe[0x80] = 'X';
  std::vector<uint8_t> truncated(good.begin(), good.begin() + 0x500);
  std::vector<uint8_t> loop = good;
  Put32(loop, kHeaderSize + 0x200 + 20, 0x80000000u);  // the type entry points at the root
  std::vector<uint8_t> signedImage = good;
  Put32(signedImage, 0x84 + 20 + 96 + 4 * 8, 0x1000);  // a certificate table
  const Case cases[] = {{"no_mz", noMz}, {"no_pe", noPe}, {"truncated", truncated}, {"loop", loop}};
  for (const Case& c : cases) {
    std::vector<Resource> r;
    std::wstring error;
    EXPECT_FALSE(ReadResources(c.image, r, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  std::vector<uint8_t> out;
  std::wstring error;
  EXPECT_FALSE(WriteResources(signedImage, {}, out, error));
  EXPECT_NE(error.find(L"signed"), std::wstring::npos);
}

// Inputs that the fuzz target found: each was written into an image that
// could not be read or rewritten again, or read beyond the input.
TEST(PeResources, LayoutsThatCannotBeRewrittenAreRefused) {
  const size_t opt = 0x84 + 20;
  const size_t firstSection = opt + 0xE0;
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"section_data_in_headers", [&](std::vector<uint8_t>& b) { Put32(b, firstSection + 20, 0x100); }},
      {"overlapping_sections", [&](std::vector<uint8_t>& b) { Put32(b, firstSection + 40 + 20, 0x400); }},
      {"address_zero", [&](std::vector<uint8_t>& b) { Put32(b, firstSection + 12, 0); }},
      {"no_resource_directory_entry", [&](std::vector<uint8_t>& b) { Put32(b, opt + 92, 2); }},
      {"file_alignment_beyond_64k", [&](std::vector<uint8_t>& b) { Put32(b, opt + 36, 0x20000); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage({false, true, true}, Bytes(37, 1));
    c.damage(image);
    std::vector<uint8_t> out;
    std::wstring error;
    EXPECT_FALSE(WriteResources(image, {}, out, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(PeResources, EmptyDataAndAResourceSectionWithoutFileData) {
  const std::vector<Resource> wanted = {{ResourceId::Of(16), ResourceId::Of(1), 0, 0, {}},
                                        {ResourceId::Of(16), ResourceId::Of(1), 7, 0, {}}};
  std::vector<uint8_t> image = MakeImage({false, true, false}, Bytes(37, 1));
  // The resource section's header says it has no file data (and its offset
  // lies beyond the file): the directory goes into a new section.
  const size_t rsrc = 0x84 + 20 + 0xE0 + 40;
  Put32(image, rsrc + 16, 0);
  Put32(image, rsrc + 20, 0x100000);
  std::vector<uint8_t> out;
  std::wstring error;
  ASSERT_TRUE(WriteResources(image, wanted, out, error)) << std::string(error.begin(), error.end());
  std::vector<Resource> back;
  ASSERT_TRUE(ReadResources(out, back, error)) << std::string(error.begin(), error.end());
  ASSERT_EQ(back.size(), 2u);
  EXPECT_TRUE(back[0].data.empty());
  EXPECT_EQ(back[1].language, 7);
  EXPECT_EQ(Get32(out, 0x84 + 2) & 0xFFFF, 3u);  // a section more
}

TEST(PeResources, ADebugDirectoryInsideTheResourcesIsNotPatched) {
  std::vector<uint8_t> image = MakeImage({false, true, true}, Bytes(1200, 1));
  // The debug directory names an address inside the resource section, where
  // the new directory's first data entry comes to lie under its file-offset
  // field; the section shrinks, and its new bytes must stay the writer's own.
  const size_t dirs = 0x84 + 20 + 96;
  Put32(image, dirs + 6 * 8, 0x2030);
  Put32(image, dirs + 6 * 8 + 4, 28);
  const std::vector<Resource> wanted = {{ResourceId::Of(16), ResourceId::Of(1), 1033, 0, Bytes(8, 9)}};
  std::vector<uint8_t> out;
  std::wstring error;
  ASSERT_TRUE(WriteResources(image, wanted, out, error));
  std::vector<Resource> back;
  ASSERT_TRUE(ReadResources(out, back, error)) << std::string(error.begin(), error.end());
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].data, Bytes(8, 9));
}

TEST(PeResources, DamagedImagesAreReadSafely) {
  std::mt19937 random(14);
  const std::vector<uint8_t> good = MakeImage({false, true, true}, Bytes(37, 1));
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> image = good;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      // Mostly the headers and the resource directory, where offsets live.
      const size_t at = random() % 2 ? random() % 0x200 : kHeaderSize + 0x200 + random() % 0x80;
      if (at < image.size()) image[at] = static_cast<uint8_t>(random());
    }
    if (round % 7 == 0) image.resize(random() % image.size());
    std::vector<Resource> r;
    std::wstring error;
    if (ReadResources(image, r, error)) {
      std::vector<uint8_t> out;
      WriteResources(image, r, out, error);  // must not crash either
    }
  }
}

// Each limit of the headers at, below and above it: the reason a damaged
// image is refused with, or an empty list where it is still read.
TEST(PeResources, HeaderLimits) {
  const size_t coff = 0x84, opt = coff + 20;
  auto headersOnly = [&](std::vector<uint8_t>& b, bool plus, uint32_t optionalSize, uint32_t count) {
    Put16(b, coff + 2, 0);  // no sections: the table would start inside the directories
    Put16(b, coff + 16, optionalSize);
    Put32(b, opt + (plus ? 108 : 92), count);
  };
  struct Case {
    const char* name;
    bool plus;
    std::function<void(std::vector<uint8_t>&)> damage;
    std::wstring error;  // empty: read, without resources
  };
  const Case cases[] = {
      {"63_bytes", false, [](auto& b) { b.resize(63); }, L"not a Windows executable (no MZ header)"},
      {"64_bytes", false, [](auto& b) { b.resize(64); }, L"not a Windows executable (no PE header)"},
      {"pe_header_cut", false, [](auto& b) { b.resize(0x80 + 23); }, L"not a Windows executable (no PE header)"},
      {"pe_header_whole", false, [](auto& b) { b.resize(0x80 + 24); }, L"truncated optional header"},
      {"optional_size_1", false, [&](auto& b) { Put16(b, coff + 16, 1); }, L"truncated optional header"},
      {"unknown_magic", false, [&](auto& b) { Put16(b, opt, 0x10C); }, L"unknown optional header"},
      {"pe32_optional_95", false, [&](auto& b) { headersOnly(b, false, 95, 0); }, L"truncated optional header"},
      {"pe32_optional_96", false, [&](auto& b) { headersOnly(b, false, 96, 0); }, L""},
      {"pe32plus_optional_111", true, [&](auto& b) { headersOnly(b, true, 111, 0); }, L"truncated optional header"},
      {"pe32plus_optional_112", true, [&](auto& b) { headersOnly(b, true, 112, 0); }, L""},
      // The third directory is the resources', which names an address no section holds.
      {"3_directories_in_room_for_3", false, [&](auto& b) { headersOnly(b, false, 96 + 24, 3); },
       L"the resource directory lies outside every section"},
      {"4_directories_in_room_for_3", false, [&](auto& b) { headersOnly(b, false, 96 + 24, 4); }, L"malformed data directories"},
      {"17_directories", false, [&](auto& b) { Put32(b, opt + 92, 17); }, L"malformed data directories"},
      {"file_alignment_0", false, [&](auto& b) { Put32(b, opt + 36, 0); }, L"malformed alignment"},
      {"file_alignment_0x300", false, [&](auto& b) { Put32(b, opt + 36, 0x300); }, L"malformed alignment"},
      {"section_alignment_0x1001", false, [&](auto& b) { Put32(b, opt + 32, 0x1001); }, L"malformed alignment"},
      {"alignments_of_1", false, [&](auto& b) { Put32(b, opt + 32, 1); Put32(b, opt + 36, 1); }, L"!"},
      {"section_table_cut", false, [](auto& b) { b.resize(opt + 0xE0 + 3 * 40 - 1); }, L"truncated section table"},
      {"section_table_whole", false, [](auto& b) { b.resize(opt + 0xE0 + 3 * 40); },
       L"a section lies beyond the end of the file"},
      {"last_section_cut", false, [](auto& b) { b.pop_back(); }, L"a section lies beyond the end of the file"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage({c.plus, true, true}, Bytes(37, 1));
    c.damage(image);
    std::vector<Resource> r;
    std::wstring error;
    const bool read = ReadResources(image, r, error);
    if (c.error == L"!") {  // read as the undamaged image is
      EXPECT_TRUE(read) << c.name;
      EXPECT_EQ(r.size(), 1u) << c.name;
    } else {
      EXPECT_EQ(read, c.error.empty()) << c.name;
      EXPECT_EQ(error, c.error) << c.name;
      EXPECT_TRUE(r.empty()) << c.name;
    }
  }
}

// Identifiers and names in the directory at their limits. The resource
// section of MakeImage is 0x200 bytes from file offset 0x600; the type entry
// of the hand-made directory is at 0x10 in it.
TEST(PeResources, DirectoryEntryLimits) {
  const size_t rsrc = kHeaderSize + 0x200;
  auto name = [&](std::vector<uint8_t>& b, size_t at, uint32_t length) {
    Put32(b, rsrc + 0x10, 0x80000000u | static_cast<uint32_t>(at));
    if (at + 2 <= 0x200) Put16(b, rsrc + at, length);
    for (size_t i = 0; i < length && at + 4 + i * 2 <= 0x200; ++i) Put16(b, rsrc + at + 2 + i * 2, 'A' + i);
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    std::wstring error;
    ResourceId type;  // read when there is no error
  };
  const Case cases[] = {
      {"id_0xFFFF", [&](auto& b) { Put32(b, rsrc + 0x10, 0xFFFF); }, L"", ResourceId::Of(0xFFFF)},
      {"id_0x10000", [&](auto& b) { Put32(b, rsrc + 0x10, 0x10000); }, L"malformed resource identifier", {}},
      {"name_ends_at_section_end", [&](auto& b) { name(b, 0x200 - 10, 4); }, L"", ResourceId::Named(L"ABCD")},
      {"name_one_past_section_end", [&](auto& b) { name(b, 0x200 - 10, 5); }, L"resource name beyond the section", {}},
      {"empty_name_at_section_end", [&](auto& b) { name(b, 0x200 - 2, 0); }, L"", ResourceId::Named(L"")},
      {"length_past_section_end", [&](auto& b) { name(b, 0x200 - 1, 0); }, L"resource name beyond the section", {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage({}, Bytes(37, 1));
    c.edit(image);
    std::vector<Resource> r;
    std::wstring error;
    EXPECT_EQ(ReadResources(image, r, error), c.error.empty()) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    if (c.error.empty() && r.size() == 1) {
      EXPECT_EQ(r[0].type, c.type) << c.name;
    }
  }
}

// The written directory is compact: the directories, the names, the data
// entries (from a multiple of 4), then each resource's data from a multiple
// of 8; the section's size is the directory's, rounded up to 8.
TEST(PeResources, WrittenDirectoryLayout) {
  struct Case {
    const char* name;
    std::vector<Resource> resources;
    uint32_t size;                          // the resource directory entry's size
    std::vector<std::pair<uint32_t, uint32_t>> entries;  // (offset, data offset) in the section
  };
  const Case cases[] = {
      {"one", {{ResourceId::Of(16), ResourceId::Of(1), 1033, 0, Bytes(3, 1)}}, 96, {{72, 88}}},
      // Languages in increasing order; the second data item starts at 120, not at 117.
      {"two_languages",
       {{ResourceId::Of(16), ResourceId::Of(1), 1033, 0, Bytes(3, 1)},
        {ResourceId::Of(16), ResourceId::Of(1), 1031, 0, Bytes(5, 2)}},
       128, {{80, 112}, {96, 120}}},
      // The name "AB" (6 bytes at 72) moves the entries to 80, the data to 96.
      {"named_type", {{ResourceId::Named(L"AB"), ResourceId::Of(1), 0, 0, Bytes(1, 3)}}, 104, {{80, 96}}},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> image = MakeImage({}, Bytes(37, 1));
    std::vector<uint8_t> out;
    std::wstring error;
    ASSERT_TRUE(WriteResources(image, c.resources, out, error)) << c.name;
    const size_t dirs = 0x84 + 20 + 96;
    const uint32_t rva = Get32(out, dirs + 2 * 8);
    EXPECT_EQ(Get32(out, dirs + 2 * 8 + 4), c.size) << c.name;
    const size_t header = 0x84 + 20 + 0xE0 + 40;  // the .rsrc section, rewritten in place
    ASSERT_EQ(Get32(out, header + 12), rva) << c.name;
    const size_t raw = Get32(out, header + 20);
    EXPECT_EQ(Get32(out, header + 8), c.size) << c.name;
    for (const auto& [entry, data] : c.entries) EXPECT_EQ(Get32(out, raw + entry), rva + data) << c.name;
  }
}

// Where the new directory goes, and the header fields that follow it: in
// place while it fits below the next section (the later sections' data, and
// file offsets after the old section, move by whole file-alignment units),
// else in a new section.
TEST(PeResources, InPlaceOrANewSection) {
  const size_t coff = 0x84, opt = coff + 20, rsrcHeader = opt + 0xE0 + 40;
  const uint32_t oldEnd = kHeaderSize + 0x200 + 0x200;  // end of the old .rsrc data
  struct Case {
    size_t data;        // bytes of the one resource: the directory takes 88 + data, rounded up to 8
    uint32_t symbols;   // the COFF symbol table pointer before
    uint16_t sections;  // after
    uint32_t raw;       // the new directory's raw size
    uint32_t symbolsAfter;
  };
  const Case cases[] = {
      {424, oldEnd, 3, 0x200, oldEnd},              // 512 bytes: one file-alignment unit
      {425, oldEnd, 3, 0x400, oldEnd + 0x200},      // 520 bytes: two units, later data moves
      {425, oldEnd - 1, 3, 0x400, oldEnd - 1},      // a pointer before the old end stays
      {4008, 0, 3, 0x1000, 0},                      // exactly up to the next section
      {4009, oldEnd, 4, 0x1200, oldEnd},            // beyond it: a new section at the end
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MakeImage({false, true, true}, Bytes(37, 1));
    Put32(image, coff + 8, c.symbols);
    Put32(image, opt + 8, 0x10000);  // SizeOfInitializedData
    const std::vector<Resource> wanted = {{ResourceId::Of(16), ResourceId::Of(1), 1033, 0, Bytes(c.data, 1)}};
    std::vector<uint8_t> out;
    std::wstring error;
    ASSERT_TRUE(WriteResources(image, wanted, out, error)) << c.data;
    ASSERT_EQ(Get32(out, coff + 2) & 0xFFFF, c.sections) << c.data;
    const size_t header = c.sections == 3 ? rsrcHeader : rsrcHeader + 2 * 40;
    EXPECT_EQ(Get32(out, header + 16), c.raw) << c.data;
    EXPECT_EQ(Get32(out, opt + 8), 0x10000 + c.raw - (c.sections == 3 ? 0x200 : 0)) << c.data;
    EXPECT_EQ(Get32(out, coff + 8), c.symbolsAfter) << c.data;
    if (c.sections == 4) {
      EXPECT_EQ(std::memcmp(out.data() + header, ".rsrc\0\0\0", 8), 0);
      EXPECT_EQ(Get32(out, header + 12), 0x4000u);  // after .reloc, aligned
      EXPECT_EQ(Get32(out, header + 36), 0x40000040u);  // initialized data, readable
    }
    std::vector<Resource> back;
    ASSERT_TRUE(ReadResources(out, back, error)) << c.data;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].data, wanted[0].data) << c.data;
  }
}

// The 16-bit one's-complement sum with end-around carries, plus the length;
// the checksum field counts as zero.
TEST(PeChecksum, KnownAnswers) {
  struct Case {
    std::vector<uint8_t> bytes;
    size_t checksumAt;
    uint32_t sum;
  };
  const Case cases[] = {
      {{}, 0, 0},
      {{0x01, 0x02, 0x03}, 64, 0x0201 + 0x0003 + 3},  // an odd last byte is a word of its own
      {{0xFF, 0xFF, 0xFF, 0xFF}, 64, 0xFFFF + 4},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00}, 64, 0x0001 + 6},  // two carries: 0x1FFFF is 1
      {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, 1, 0x0011 + 0x6600 + 6},
  };
  for (const Case& c : cases) EXPECT_EQ(PeChecksum(c.bytes, c.checksumAt), c.sum) << c.bytes.size();
}

TEST(VersionInfo, NewStringsReadBackAsTheProgramReadsThem) {
  VersionNode root = NewVersionInfo(1, 2, 3, 4);
  EXPECT_EQ(GetVersionString(root, L"ProductName"), L"");
  SetVersionString(root, L"ProductName", L"Acme Tools");
  SetVersionString(root, L"FileDescription", L"Acme Tools Setup");
  SetVersionString(root, L"ProductName", L"Acme Tools 2");  // replaced, not added
  const std::vector<uint8_t> bytes = WriteVersionInfo(root);
  EXPECT_EQ(bytes.size() % 4, 0u);
  VersionNode back;
  ASSERT_TRUE(ParseVersionInfo(bytes, back));
  EXPECT_EQ(GetVersionString(back, L"ProductName"), L"Acme Tools 2");
  EXPECT_EQ(GetVersionString(back, L"FileDescription"), L"Acme Tools Setup");
  uint16_t v[4];
  ASSERT_TRUE(GetFixedFileVersion(back, v));
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 3);
  EXPECT_EQ(v[3], 4);
  EXPECT_EQ(WriteVersionInfo(back), bytes);  // a tree writes back byte for byte
}

TEST(VersionInfo, TheTableOfTheFirstTranslationGetsTheText) {
  VersionNode root = NewVersionInfo(1, 0, 0, 0);
  // A translation to German, code page 1252, and no table for it yet.
  root.children.push_back(VersionNode{L"VarFileInfo", true, {}, {VersionNode{L"Translation", false, {0x07, 0x04, 0xE4, 0x04}, {}}}});
  root.children.insert(root.children.begin(), VersionNode{L"StringFileInfo", true, {}, {VersionNode{L"040904b0", true, {}, {}}}});
  SetVersionString(root, L"ProductName", L"Name");
  EXPECT_EQ(GetVersionString(root, L"ProductName"), L"Name");
  ASSERT_EQ(root.children[0].children.size(), 2u);  // 040904b0 and 040704e4
  EXPECT_EQ(root.children[0].children[1].key, L"040704e4");
}

TEST(VersionInfo, AShortTranslationIsMendedSoThatTheNameIsRead) {
  for (bool text : {false, true}) {
    VersionNode root = NewVersionInfo(1, 0, 0, 0);
    root.children.push_back(VersionNode{L"VarFileInfo", true, {}, {VersionNode{L"Translation", text, {0x09}, {}}}});
    SetVersionString(root, L"ProductName", L"Name");
    VersionNode back;
    ASSERT_TRUE(ParseVersionInfo(WriteVersionInfo(root), back));
    EXPECT_EQ(GetVersionString(back, L"ProductName"), L"Name");
    // US English, Unicode (0x04B0), as a binary value.
    const VersionNode& translation = back.children.back().children.back();
    EXPECT_EQ(translation.key, L"Translation");
    EXPECT_EQ(translation.value, (std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04})) << text;
    EXPECT_FALSE(translation.text) << text;
  }
}

TEST(VersionInfo, NamesAreWholeKeysInAnyCase) {
  VersionNode root = NewVersionInfo(1, 0, 0, 0);
  SetVersionString(root, L"ProductName", L"Name");
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"ProductName", L"Name"}, {L"PRODUCTNAME", L"Name"}, {L"Product", L""}, {L"ProductNameX", L""}};
  for (const auto& [key, value] : cases) EXPECT_EQ(GetVersionString(root, key), value);
}

TEST(VersionInfo, MalformedResourcesAreRefused) {
  const std::vector<uint8_t> good = WriteVersionInfo(NewVersionInfo(1, 0, 0, 0));
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> bytes = good;
    bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    if (round % 3 == 0) bytes.resize(random() % bytes.size());
    VersionNode node;
    if (ParseVersionInfo(bytes, node)) WriteVersionInfo(node);
  }
  VersionNode node;
  EXPECT_FALSE(ParseVersionInfo({}, node));
  EXPECT_FALSE(ParseVersionInfo(std::vector<uint8_t>{6, 0, 0, 0, 0, 0}, node));  // no key end
}

// An icon file of `images` images of `bytes`, `bytes` + 1, ... bytes.
std::vector<uint8_t> IconFile(int images, size_t bytes = 40) {
  std::vector<uint8_t> f(6 + 16 * images, 0);
  Put16(f, 2, 1);
  Put16(f, 4, static_cast<uint32_t>(images));
  for (int i = 0; i < images; ++i) {
    const std::vector<uint8_t> data = Bytes(bytes + i, static_cast<uint8_t>(i));
    const size_t at = 6 + 16 * i;
    f[at] = static_cast<uint8_t>(16 * (i + 1));
    f[at + 1] = static_cast<uint8_t>(16 * (i + 1));
    f[at + 2] = static_cast<uint8_t>(i);  // colours
    Put16(f, at + 4, 1);
    Put16(f, at + 6, 32);
    Put32(f, at + 8, static_cast<uint32_t>(data.size()));
    Put32(f, at + 12, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), data.begin(), data.end());
  }
  return f;
}

TEST(Stamp, ReplacesTheFirstIconGroupAndItsImagesOnly) {
  // An image with a version resource, a group (id 100) of icons 1 and 2, and
  // another icon (3) that no group names.
  std::vector<Resource> existing = {
      {ResourceId::Of(kResourceVersion), ResourceId::Of(1), 1033, 0, WriteVersionInfo(NewVersionInfo(1, 0, 0, 0))},
      {ResourceId::Of(kResourceIcon), ResourceId::Of(1), 1033, 0, Bytes(10, 1)},
      {ResourceId::Of(kResourceIcon), ResourceId::Of(2), 1033, 0, Bytes(10, 2)},
      {ResourceId::Of(kResourceIcon), ResourceId::Of(3), 1033, 0, Bytes(10, 3)},
  };
  std::vector<uint8_t> group(6 + 2 * 14, 0);
  Put16(group, 2, 1);
  Put16(group, 4, 2);
  Put16(group, 6 + 12, 1);
  Put16(group, 6 + 14 + 12, 2);
  existing.push_back({ResourceId::Of(kResourceGroupIcon), ResourceId::Of(100), 1033, 0, group});

  StampRequest request;
  request.productName = L"Acme";
  request.iconFile = IconFile(3);
  std::vector<ResourceChange> changes;
  std::wstring error;
  ASSERT_TRUE(PlanStamp(existing, request, changes, error));
  const std::vector<Resource> after = ApplyChanges(existing, changes);
  std::vector<uint16_t> icons;
  const Resource* newGroup = nullptr;
  for (const Resource& r : after) {
    if (r.type == ResourceId::Of(kResourceIcon)) icons.push_back(r.name.id);
    if (r.type == ResourceId::Of(kResourceGroupIcon)) newGroup = &r;
  }
  // Icon 3 stays; the three new images take 1, 2 and 4.
  std::sort(icons.begin(), icons.end());
  EXPECT_EQ(icons, (std::vector<uint16_t>{1, 2, 3, 4}));
  ASSERT_NE(newGroup, nullptr);
  EXPECT_EQ(newGroup->name, ResourceId::Of(100));
  ASSERT_EQ(newGroup->data.size(), 6u + 3 * 14);
  EXPECT_EQ(newGroup->data[4], 3);
  EXPECT_EQ(newGroup->data[6 + 2 * 14 + 12], 4);  // the third image is icon 4
  VersionNode version;
  ASSERT_TRUE(ParseVersionInfo(after[0].data, version));
  EXPECT_EQ(GetVersionString(version, L"ProductName"), L"Acme");

  request.productName.clear();
  EXPECT_FALSE(PlanStamp(existing, request, changes, error));
  request.productName = L"Acme";
  request.iconFile.resize(20);  // the directory names images beyond the end
  EXPECT_FALSE(PlanStamp(existing, request, changes, error));
}

TEST(Stamp, IconFileLimits) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::wstring error;  // empty: read
  };
  auto cut = [](std::vector<uint8_t> f, size_t size) {
    f.resize(size);
    return f;
  };
  const std::wstring noIcon = L"not an icon file (.ico)";
  const std::wstring noImages = L"the icon file has no images or a truncated directory";
  const std::wstring beyond = L"an image of the icon file lies beyond its end";
  const Case cases[] = {
      {"5_bytes", {0, 0, 1, 0, 0}, noIcon},
      {"header_alone", {0, 0, 1, 0, 0, 0}, noImages},
      {"directory_cut", cut(IconFile(1), 6 + 15), noImages},
      {"directory_whole", cut(IconFile(1), 6 + 16), beyond},
      {"last_byte_missing", cut(IconFile(1), 6 + 16 + 39), beyond},
      {"whole", IconFile(1), L""},
      {"image_over_255_bytes", IconFile(2, 300), L""},
  };
  for (const Case& c : cases) {
    std::vector<IconImage> images;
    std::wstring error;
    EXPECT_EQ(ParseIconFile(c.file, images, error), c.error.empty()) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  std::vector<IconImage> images;
  std::wstring error;
  ASSERT_TRUE(ParseIconFile(IconFile(2, 300), images, error));
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[1].data, Bytes(301, 1));
  EXPECT_EQ(images[1].width, 32);
  EXPECT_EQ(images[1].colorCount, 1);
  EXPECT_EQ(images[1].planes, 1);
  EXPECT_EQ(images[1].bitCount, 32);
}

TEST(Stamp, AnImageWithoutResourcesGetsAVersionAndAnIcon) {
  const std::vector<uint8_t> image = MakeImage({false, false, true}, {});
  StampRequest request;
  request.productName = L"Acme Setup Kit";
  request.fileDescription = L"Installs Acme";
  request.iconFile = IconFile(1);
  std::vector<uint8_t> out;
  std::wstring error;
  ASSERT_TRUE(StampImage(image, request, out, error)) << std::string(error.begin(), error.end());
  std::vector<Resource> back;
  ASSERT_TRUE(ReadResources(out, back, error));
  ASSERT_EQ(back.size(), 3u);  // icon 1, group 1, version 1 (identifier order)
  VersionNode version;
  ASSERT_TRUE(ParseVersionInfo(back[2].data, version));
  EXPECT_EQ(GetVersionString(version, L"ProductName"), L"Acme Setup Kit");
  EXPECT_EQ(GetVersionString(version, L"FileDescription"), L"Installs Acme");
  for (const Resource& r : back) EXPECT_EQ(r.language, 0x0409);  // new resources are US English
  EXPECT_EQ(back[0].data, Bytes(40, 0));  // the icon file's image
  EXPECT_EQ(back[1].name, ResourceId::Of(1));
  request.productName.clear();
  EXPECT_FALSE(StampImage(image, request, out, error));
  EXPECT_EQ(error, L"the product name is empty");
}

}  // namespace
