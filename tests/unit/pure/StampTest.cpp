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
    if (c.shape.overlay)
      EXPECT_TRUE(std::equal(image.end() - static_cast<ptrdiff_t>(c.shape.overlay), image.end(),
                             out.end() - static_cast<ptrdiff_t>(c.shape.overlay)))
          << c.name;
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
  VersionNode root = NewVersionInfo(1, 0, 0, 0);
  root.children.push_back(VersionNode{L"VarFileInfo", true, {}, {VersionNode{L"Translation", false, {0x09}, {}}}});
  SetVersionString(root, L"ProductName", L"Name");
  VersionNode back;
  ASSERT_TRUE(ParseVersionInfo(WriteVersionInfo(root), back));
  EXPECT_EQ(GetVersionString(back, L"ProductName"), L"Name");
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

std::vector<uint8_t> IconFile(int images) {
  std::vector<uint8_t> f(6 + 16 * images, 0);
  Put16(f, 2, 1);
  Put16(f, 4, static_cast<uint32_t>(images));
  for (int i = 0; i < images; ++i) {
    const std::vector<uint8_t> data = Bytes(40 + i, static_cast<uint8_t>(i));
    const size_t at = 6 + 16 * i;
    f[at] = static_cast<uint8_t>(16 * (i + 1));
    f[at + 1] = static_cast<uint8_t>(16 * (i + 1));
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
}

}  // namespace
