#include "input/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/message_text.h"

#if KELBOW_HAVE_ZLIB
#include <zlib.h>
#endif
#if KELBOW_HAVE_ZSTD
#include <zstd.h>
#endif

namespace kelbow {

long MemorySource::read(char* buffer, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size() - pos_);
  std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return static_cast<long>(n);
}

namespace {

// Raw bytes read from the file at a time.
constexpr std::size_t kRawChunk = 1 << 17;

class FileSource : public ByteSource {
 public:
  FileSource(int fd, const std::string& fileName) : fd_(fd), fileName_(shownName(fileName)) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  long read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<long>(n);
      if (errno != EINTR) return fail(fileName_ + ": read error: " + std::strerror(errno));
    }
  }

 private:
  int fd_;
  std::string fileName_;
};

enum class Format { kPlain, kGzip, kZstd };

// Decides by the first bytes; plain text never starts with these, since they
// are neither digits, signs nor white space.
Format formatOf(const unsigned char* b, std::size_t n) {
  if (n >= 2 && b[0] == 0x1f && b[1] == 0x8b) return Format::kGzip;
  // A zstd frame, or a skippable frame (0x184D2A50 .. 0x184D2A5F, little-endian).
  if (n >= 4 && ((b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f && b[3] == 0xfd) ||
                 ((b[0] & 0xf0) == 0x50 && b[1] == 0x2a && b[2] == 0x4d && b[3] == 0x18)))
    return Format::kZstd;
  return Format::kPlain;
}

class DecodingSource : public ByteSource {
 public:
  DecodingSource(std::unique_ptr<ByteSource> raw, std::string fileName)
      : raw_(std::move(raw)), fileName_(shownName(fileName)), in_(kRawChunk) {}
  ~DecodingSource() override {
#if KELBOW_HAVE_ZLIB
    if (zlibReady_) inflateEnd(&zlib_);
#endif
#if KELBOW_HAVE_ZSTD
    ZSTD_freeDStream(zstd_);
#endif
  }
  DecodingSource(const DecodingSource&) = delete;
  DecodingSource& operator=(const DecodingSource&) = delete;

  long read(char* buffer, std::size_t size) override {
    if (!failure().empty()) return -1;  // a failure stays
    if (!sniffed_ && !sniff()) return -1;
    switch (format_) {
      case Format::kPlain:
        return readPlain(buffer, size);
      case Format::kGzip:
        return readGzip(buffer, size);
      case Format::kZstd:
        return readZstd(buffer, size);
    }
    return -1;
  }

 private:
  bool failWith(std::string message) {
    fail(std::move(message));
    return false;
  }

  // Reads the next raw chunk once the last one is used up; false on a failure.
  bool refill() {
    if (inPos_ < inLen_ || rawEnded_) return true;
    char* room = in_.refill();
    const long n = raw_->read(room, in_.size());
    if (n < 0) return failWith(raw_->failure());
    inPos_ = 0;
    inLen_ = static_cast<std::size_t>(n);
    rawEnded_ = n == 0;
    return true;
  }

  // Gathers at least four bytes (a pipe may deliver fewer per read) or all there are.
  bool sniff() {
    sniffed_ = true;
    in_.refill();
    while (inLen_ < 4 && !rawEnded_) {
      const long n = raw_->read(in_.data() + inLen_, in_.size() - inLen_);
      if (n < 0) return failWith(raw_->failure());
      rawEnded_ = n == 0;
      inLen_ += static_cast<std::size_t>(n);
    }
    format_ = formatOf(reinterpret_cast<const unsigned char*>(in_.data()), inLen_);
    if (format_ == Format::kGzip) {
#if KELBOW_HAVE_ZLIB
      zlib_ = {};
      if (inflateInit2(&zlib_, 15 + 16) != Z_OK) return failWith(fileName_ + ": out of memory");
      zlibReady_ = true;
#else
      return failWith(fileName_ +
                      ": the file is compressed with gzip, which this build cannot read "
                      "(build it with zlib1g-dev installed)");
#endif
    }
    if (format_ == Format::kZstd) {
#if KELBOW_HAVE_ZSTD
      zstd_ = ZSTD_createDStream();
      if (zstd_ == nullptr) return failWith(fileName_ + ": out of memory");
#else
      return failWith(fileName_ +
                      ": the file is compressed with zstd, which this build cannot read "
                      "(build it with libzstd-dev installed)");
#endif
    }
    return true;
  }

  long readPlain(char* buffer, std::size_t size) {
    if (inPos_ < inLen_) {
      const std::size_t n = std::min(size, inLen_ - inPos_);
      std::memcpy(buffer, in_.data() + inPos_, n);
      inPos_ += n;
      return static_cast<long>(n);
    }
    if (rawEnded_) return 0;
    const long n = raw_->read(buffer, size);
    if (n < 0) return fail(raw_->failure());
    rawEnded_ = n == 0;
    return n;
  }

  long readGzip(char* buffer, std::size_t size) {
#if KELBOW_HAVE_ZLIB
    const uInt room = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    zlib_.next_out = reinterpret_cast<Bytef*>(buffer);
    zlib_.avail_out = room;
    for (;;) {
      if (!refill()) return -1;
      const bool noInput = inPos_ == inLen_;  // and so the raw file has ended
      // Members follow one another; the stream ends where the file does between two.
      if (noInput && !streamOpen_) return static_cast<long>(room - zlib_.avail_out);
      if (!streamOpen_) {
        inflateReset(&zlib_);
        streamOpen_ = true;
      }
      zlib_.next_in = reinterpret_cast<Bytef*>(in_.data() + inPos_);
      zlib_.avail_in = static_cast<uInt>(inLen_ - inPos_);
      const int rc = inflate(&zlib_, Z_NO_FLUSH);
      inPos_ = inLen_ - zlib_.avail_in;
      if (rc == Z_STREAM_END) {
        streamOpen_ = false;
      } else if (rc == Z_MEM_ERROR) {
        return fail(fileName_ + ": out of memory while decompressing");
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        return fail(fileName_ + ": the gzip data is damaged (" + (zlib_.msg ? zlib_.msg : "error") +
                    ")");
      }
      if (zlib_.avail_out < room) return static_cast<long>(room - zlib_.avail_out);
      if (noInput && rc == Z_BUF_ERROR)
        return fail(fileName_ + ": the gzip data ends early; the file is cut short");
    }
#else
    (void)buffer, (void)size;
    return -1;
#endif
  }

  long readZstd(char* buffer, std::size_t size) {
#if KELBOW_HAVE_ZSTD
    ZSTD_outBuffer out{buffer, size, 0};
    for (;;) {
      if (!refill()) return -1;
      const bool noInput = inPos_ == inLen_;
      // Frames follow one another; the stream ends where the file does between two.
      if (noInput && !streamOpen_) return 0;
      ZSTD_inBuffer in{in_.data() + inPos_, inLen_ - inPos_, 0};
      const std::size_t rc = ZSTD_decompressStream(zstd_, &out, &in);
      inPos_ += in.pos;
      if (ZSTD_isError(rc))
        return fail(fileName_ + ": the zstd data is damaged (" + ZSTD_getErrorName(rc) + ")");
      streamOpen_ = rc != 0;
      if (out.pos > 0) return static_cast<long>(out.pos);
      if (noInput && streamOpen_)
        return fail(fileName_ + ": the zstd data ends early; the file is cut short");
    }
#else
    (void)buffer, (void)size;
    return -1;
#endif
  }

  std::unique_ptr<ByteSource> raw_;
  std::string fileName_;
  ReadBuffer in_;  // raw bytes not yet decoded: in_[inPos_ .. inLen_)
  std::size_t inPos_ = 0;
  std::size_t inLen_ = 0;
  bool rawEnded_ = false;
  bool sniffed_ = false;
  Format format_ = Format::kPlain;
  bool streamOpen_ = false;  // inside a gzip member or a zstd frame
#if KELBOW_HAVE_ZLIB
  z_stream zlib_{};
  bool zlibReady_ = false;
#endif
#if KELBOW_HAVE_ZSTD
  ZSTD_DStream* zstd_ = nullptr;
#endif
};

}  // namespace

std::unique_ptr<ByteSource> decodingSource(std::unique_ptr<ByteSource> raw,
                                           const std::string& fileName) {
  return std::make_unique<DecodingSource>(std::move(raw), fileName);
}

std::unique_ptr<ByteSource> openInput(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  return decodingSource(std::make_unique<FileSource>(fd, fileName), fileName);
}

bool readsGzip() { return KELBOW_HAVE_ZLIB != 0; }
bool readsZstd() { return KELBOW_HAVE_ZSTD != 0; }

}  // namespace kelbow
