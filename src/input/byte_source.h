// Byte sources of the input files. A file is opened once and read front to
// back, so a named pipe or a process substitution serves as well as a regular
// file; a file whose first bytes are the magic of a gzip or zstd stream is
// decompressed on the fly, whatever its name. The number readers sit on top.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kelbow {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to `size` (> 0) bytes into `buffer`. Returns the number read, 0 at
  // the end of the input, -1 on a failure, which failure() then describes.
  virtual long read(char* buffer, std::size_t size) = 0;

  // One line without its newline, naming the file: what went wrong.
  const std::string& failure() const { return failure_; }

 protected:
  long fail(std::string message) {
    failure_ = std::move(message);
    return -1;
  }

 private:
  std::string failure_;
};

// A read buffer that starts small and doubles at every refill up to its
// largest size, left uninitialised: a small input costs little, a large one is
// read in large chunks.
class ReadBuffer {
 public:
  explicit ReadBuffer(std::size_t largest) : largest_(largest < 1 ? 1 : largest) {}
  // Makes room for the next read, dropping what the buffer held; returns it.
  char* refill() {
    if (size_ < largest_) {
      size_ =
          size_ == 0 ? std::min<std::size_t>(kFirstSize, largest_) : std::min(2 * size_, largest_);
      bytes_.reset(new char[size_]);
    }
    return bytes_.get();
  }
  char* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  static constexpr std::size_t kFirstSize = 1 << 12;
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t largest_;
};

// A copy of some bytes, for tests and in-process harnesses; decoded like a
// file when wrapped by decodingSource.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  long read(char* buffer, std::size_t size) override;

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

// Wraps `raw`, which reads the file `fileName`: passes plain bytes through and
// decompresses a gzip stream (one or more members) or a zstd stream (one or more
// frames) recognised by its magic bytes. A compressed stream that is damaged or
// cut short, or one this build cannot decode, is a failure naming the file.
std::unique_ptr<ByteSource> decodingSource(std::unique_ptr<ByteSource> raw,
                                           const std::string& fileName);

// Opens `fileName` for reading, decoded as above. Null when it cannot be opened
// (a directory counts as such), with errno telling why.
std::unique_ptr<ByteSource> openInput(const std::string& fileName);

// Which compressed formats this build reads.
bool readsGzip();
bool readsZstd();

}  // namespace kelbow
