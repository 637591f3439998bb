#include "input/byte_source.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "input/compressed_test_support.h"
#include "input/description_text.h"

namespace kelbow {
namespace {

// Hands out at most `step` bytes per read, as a pipe may.
class TrickleSource : public ByteSource {
 public:
  TrickleSource(std::string bytes, std::size_t step) : bytes_(std::move(bytes)), step_(step) {}
  long read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, step_, bytes_.size() - pos_});
    bytes_.copy(buffer, n, pos_);
    pos_ += n;
    return static_cast<long>(n);
  }

 private:
  std::string bytes_;
  std::size_t step_;
  std::size_t pos_ = 0;
};

struct Decoded {
  std::string bytes;
  bool failed = false;
  std::string failure;
};

// Everything the decoding source gives for `raw`, read `step` bytes at a time
// from a source that trickles `rawStep` bytes per read.
Decoded decode(const std::string& raw, std::size_t step = 4096, std::size_t rawStep = 1 << 20) {
  auto source = decodingSource(std::make_unique<TrickleSource>(raw, rawStep), "t.data");
  Decoded out;
  std::string buffer(step, '\0');
  for (;;) {
    const long n = source->read(buffer.data(), step);
    if (n < 0) {
      out.failed = true;
      out.failure = source->failure();
      return out;
    }
    if (n == 0) return out;
    out.bytes.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

std::string sampleText() {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i % 7) + " " + std::to_string(i % 3) + "\n";
  return text;
}

TEST(ByteSourceTest, PlainBytesPassThroughWhateverTheReadSizes) {
  const std::string text = sampleText();
  for (std::size_t rawStep : {1, 3, 4096})
    for (std::size_t step : {1, 7, 65536}) EXPECT_EQ(decode(text, step, rawStep).bytes, text);
  EXPECT_EQ(decode("").bytes, "");
  EXPECT_EQ(decode("1").bytes, "1");
}

TEST(ByteSourceTest, ADirectoryIsNoInput) {
  errno = 0;
  EXPECT_EQ(openInput(std::filesystem::temp_directory_path().string()), nullptr);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(openInput("/nonexistent/t.data"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

#if KELBOW_HAVE_ZLIB
TEST(ByteSourceTest, GzipIsDecodedMemberAfterMember) {
  const std::string text = sampleText();
  for (std::size_t rawStep : {1, 5, 1 << 20})
    EXPECT_EQ(decode(testing::gzipped(text), 1000, rawStep).bytes, text);
  const std::string half = text.substr(0, 9000);
  EXPECT_EQ(decode(testing::gzipped(half) + testing::gzipped(text.substr(9000))).bytes, text);
  EXPECT_EQ(decode(testing::gzipped("")).bytes, "");
}

// A cut anywhere after the magic bytes is reported, never taken for the end of
// the data. (Cut inside the magic, the bytes are no gzip stream: plain text.)
TEST(ByteSourceTest, ACutGzipStreamIsAFailure) {
  const std::string whole = testing::gzipped(sampleText().substr(0, 3000));
  EXPECT_EQ(decode(whole.substr(0, 1)).bytes, whole.substr(0, 1));
  for (std::size_t len = 2; len < whole.size(); ++len) {
    const Decoded out = decode(whole.substr(0, len));
    ASSERT_TRUE(out.failed) << "cut at " << len;
    EXPECT_EQ(out.failure.rfind("t.data: the gzip data ", 0), 0u) << out.failure;
  }
}

// Damage is either caught (checksums, structure) or lies in header bytes that
// carry no data: the text never comes out changed. Damaged magic bytes make
// the file plain bytes, which the number readers then refuse.
TEST(ByteSourceTest, DamagedGzipNeverDecodesToOtherText) {
  const std::string text = sampleText().substr(0, 2000);
  const std::string whole = testing::gzipped(text);
  for (std::size_t at = 0; at < whole.size(); ++at) {
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
    const Decoded out = decode(damaged);
    if (!out.failed) {
      EXPECT_EQ(out.bytes, at < 2 ? damaged : text) << "byte " << at;
    }
  }
  EXPECT_TRUE(decode(whole + "garbage").failed);
}
#endif

#if KELBOW_HAVE_ZSTD
TEST(ByteSourceTest, ZstdIsDecodedFrameAfterFrame) {
  const std::string text = sampleText();
  for (std::size_t rawStep : {1, 5, 1 << 20})
    EXPECT_EQ(decode(testing::zstdCompressed(text), 1000, rawStep).bytes, text);
  EXPECT_EQ(decode(testing::zstdCompressed(text.substr(0, 100)) +
                   testing::zstdCompressed(text.substr(100)))
                .bytes,
            text);
  const std::string whole = testing::zstdCompressed(text.substr(0, 3000));
  for (std::size_t len = 4; len < whole.size(); ++len)
    EXPECT_TRUE(decode(whole.substr(0, len)).failed) << len;
}
#endif

// ---------------------------------------------------------------- descriptions

TEST(DescriptionTextTest, EveryReaderStartsAtTheFirstByte) {
  DescriptionText d;
  const std::string text = "3 2\n2\n3\n" + std::string(100000, ' ') + "9";
  d.assign("t.desc", text);
  for (int round = 0; round < 2; ++round) {
    const std::unique_ptr<ByteSource> r = d.reader();
    std::string got(200000, '\0');
    std::size_t n = 0;
    for (long k; (k = r->read(got.data() + n, 1000)) > 0;) n += static_cast<std::size_t>(k);
    EXPECT_EQ(got.substr(0, n), text);
  }
}

TEST(DescriptionTextTest, HintsAtSwappedFilesOnlyWhenTheTextLooksLikeData) {
  struct Case {
    std::string text;
    bool hint;
  };
  for (const Case& c :
       {Case{"3 2\n2\n3\n", false}, Case{"0 2\n2\n3\n", false}, Case{"3 2 2 3", false},
        Case{"3 2\n2\n", false}, Case{"", false}, Case{"x y\nz\n", false}, Case{"3 0 1\n", true},
        Case{"3 0\n1\n", false}, Case{"0 2 1\n1 2 0\n", true}, Case{"0 2\n1 2\n0 0\n", true},
        Case{"4 4 3 0 1 0 0 2\n", true}, Case{"1 1\n1\n1\n1\n", true}}) {
    DescriptionText d;
    d.assign("t.desc", c.text);
    // The hint looks only at what readers pulled in.
    const std::unique_ptr<ByteSource> r = d.reader();
    char buffer[64];
    while (r->read(buffer, sizeof buffer) > 0) {
    }
    const std::string hint = d.swappedFilesHint();
    EXPECT_EQ(!hint.empty(), c.hint) << c.text;
    if (c.hint) {
      EXPECT_EQ(hint,
                "kelbow: t.desc looks like a data file, not a description; are the -d and -n files "
                "swapped?\n");
    }
  }
}

}  // namespace
}  // namespace kelbow
