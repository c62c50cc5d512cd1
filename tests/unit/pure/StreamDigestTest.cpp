#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "acquisition/StreamDigest.h"
#include "Noise.h"

using namespace prereq;

namespace {

// Counts what reaches it, to see that every byte arrives once and in order.
struct CopyingSink : DigestSink {
  std::vector<uint8_t> seen;
  void Update(const uint8_t* data, size_t size) override { seen.insert(seen.end(), data, data + size); }
};

// A writer that fills two buffers in turn, as the transfer does: a buffer is
// overwritten as soon as the Submit of the other one returned. Any piece
// hashed after its buffer was reused gives a wrong digest.
std::string DigestInTwoBuffers(const std::vector<uint8_t>& data, const std::vector<size_t>& pieces,
                               CopyingSink* copy = nullptr) {
  Md5Sink md5;
  StreamDigest digest;
  digest.AddSink(&md5);
  if (copy != nullptr) digest.AddSink(copy);
  std::vector<uint8_t> buffers[2];
  size_t offset = 0, k = 0;
  for (size_t size : pieces) {
    std::vector<uint8_t>& buffer = buffers[k++ % 2];
    buffer.assign(data.begin() + offset, data.begin() + offset + size);
    digest.Submit(buffer.data(), buffer.size());
    offset += size;
  }
  digest.Finish();
  // What the sinks saw is done with: scribbling over the buffers now must not
  // matter.
  for (auto& buffer : buffers) std::fill(buffer.begin(), buffer.end(), 0xAA);
  EXPECT_EQ(digest.Bytes(), offset);
  return md5.FinalHex();
}

TEST(StreamDigest, SameDigestForAnySplitOfTheStream) {
  const size_t kInline = StreamDigest::kInlineBelow;
  struct Case {
    const char* name;
    std::vector<size_t> pieces;
  };
  const Case cases[] = {
      {"one small piece", {100}},
      {"one large piece", {3 * kInline}},
      {"at the inline limit", {kInline - 1, kInline, kInline + 1, kInline - 1}},
      {"large, small, large", {1 << 20, 10, 1 << 20, 1, (1 << 20) + 51200}},
      {"many small", std::vector<size_t>(200, 51200)},
      {"empty pieces ignored", {0, 5000, 0, 200000, 0}},
  };
  for (const Case& c : cases) {
    size_t total = 0;
    for (size_t size : c.pieces) total += size;
    const std::vector<uint8_t> data = Noise(total, total);
    CopyingSink copy;
    EXPECT_EQ(DigestInTwoBuffers(data, c.pieces, &copy), Md5HexOf(data.data(), data.size())) << c.name;
    EXPECT_TRUE(copy.seen == data) << c.name;
  }
}

TEST(StreamDigest, WithoutSinksOnlyCounts) {
  StreamDigest digest;
  const std::vector<uint8_t> data = Noise(300000, 1);
  digest.Submit(data.data(), data.size());
  digest.Submit(data.data(), 7);
  digest.Finish();
  EXPECT_FALSE(digest.HasSinks());
  EXPECT_EQ(digest.Bytes(), 300007u);
}

TEST(StreamDigest, EndsWhileAPieceIsStillBeingHashed) {
  // Destroyed right after a large piece was handed over: the piece is
  // finished, then the worker ends.
  const std::vector<uint8_t> data = Noise(4 << 20, 2);
  CopyingSink copy;
  {
    StreamDigest digest;
    digest.AddSink(&copy);
    digest.Submit(data.data(), data.size());
  }
  EXPECT_TRUE(copy.seen == data);
}

TEST(StreamDigest, EmptyStream) {
  Md5Sink md5;
  StreamDigest digest;
  digest.AddSink(&md5);
  digest.Finish();
  EXPECT_EQ(digest.Bytes(), 0u);
  EXPECT_EQ(md5.FinalHex(), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
