#pragma once
// Digests of a file computed from the bytes as they are written, so that the
// acceptance check compares a result instead of reading the file again. The
// hashing runs on a thread of its own and overlaps the next network read.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/Md5.h"

namespace prereq {

// The digests of a downloaded file, computed from its bytes as they were
// written.
struct WrittenDigests {
  bool known = false;  // false: the file was copied, nothing was asked for,
                       // or no digest could be computed
  uint64_t bytes = 0;  // the length of the file
  std::string md5;     // 32 lower-case hexadecimal characters; empty: not computed
  std::string sha256;  // 64 lower-case hexadecimal characters; empty: not computed
};

// Takes the bytes of a file in order. Every digest the download computes is
// one of these: MD5 here, SHA-256 through the system's hash functions.
class DigestSink {
 public:
  virtual ~DigestSink() = default;
  virtual void Update(const uint8_t* data, size_t size) = 0;
};

class Md5Sink : public DigestSink {
 public:
  void Update(const uint8_t* data, size_t size) override { md5_.Update(data, size); }
  // 32 lower-case hexadecimal characters; ends the message.
  std::string FinalHex() { return Md5Hex(md5_.Final()); }

 private:
  Md5 md5_;
};

// Feeds pieces of a byte stream, in order, to its sinks on a worker thread.
//
// Submit hands a piece over and returns at once; the piece's memory must stay
// unchanged until the next Submit or Finish returns (both first wait for the
// piece before). A writer that fills two buffers in turn can therefore reuse
// a buffer as soon as the Submit of the other one has returned. Small pieces
// are hashed on the caller's thread, and the worker is started only for the
// first large one. Not for use from several threads at once.
class StreamDigest {
 public:
  // Pieces below this size are hashed at once on the caller's thread.
  static constexpr size_t kInlineBelow = 64 * 1024;

  StreamDigest() = default;
  ~StreamDigest();
  StreamDigest(const StreamDigest&) = delete;
  StreamDigest& operator=(const StreamDigest&) = delete;

  // Sinks are added before the first piece; they must outlive this object.
  void AddSink(DigestSink* sink) { sinks_.push_back(sink); }
  bool HasSinks() const { return !sinks_.empty(); }

  void Submit(const uint8_t* data, size_t size);
  // Waits until every piece submitted went through the sinks.
  void Finish();
  // The bytes submitted so far.
  uint64_t Bytes() const { return bytes_; }

 private:
  void Feed(const uint8_t* data, size_t size);
  void WaitIdleLocked(std::unique_lock<std::mutex>& hold);
  void Work();

  std::vector<DigestSink*> sinks_;
  uint64_t bytes_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  const uint8_t* piece_ = nullptr;  // the piece the worker is to hash
  size_t pieceSize_ = 0;
  bool busy_ = false;  // a piece was handed over and is not done
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace prereq
