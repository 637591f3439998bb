#include "input/read_ahead_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace kelbow {
namespace {

// Rows r = 0, 1, ... of codes (r mod bound, bound - 1 - r mod bound), `count`
// of them, then the end, a refusal or an exception.
class CountingRows final : public RowSource {
 public:
  enum class Last { kEnd, kBad, kThrow };
  CountingRows(int count, Last last, int bound = 1 << 30)
      : count_(count), last_(last), bound_(bound) {}
  Result read(int* codes, std::string& err) override {
    if (next_ < count_) {
      codes[0] = next_ % bound_;
      codes[1] = bound_ - 1 - next_ % bound_;
      ++next_;
      return Result::kRecord;
    }
    if (last_ == Last::kThrow) throw std::bad_alloc();
    if (last_ == Last::kEnd) return Result::kEnd;
    err = name_ + ": record " + std::to_string(next_ + 1) + ": bad\n";
    return Result::kBad;
  }
  bool atEnd() override { return next_ >= count_; }
  bool failed() const override { return last_ == Last::kBad && next_ >= count_; }
  std::string failureLine() const override { return "cannot read on\n"; }
  const std::string& fileName() const override { return name_; }
  int handedOut() const { return next_; }

 private:
  int count_;
  Last last_;
  int bound_;
  int next_ = 0;
  std::string name_ = "rows.data";
};

using Last = CountingRows::Last;

// Domains of every width the tests read, each too large for two bytes.
const std::vector<int> kWide((1 << 16) + 1, 1 << 30);

// Every row in order, across the block and ring boundaries, then the source's
// last word, told again on every further read; codes kept in one, two and
// four bytes come back whole, from 0 to the largest of each width.
TEST(ReadAheadRowsTest, HandsOutTheSourcesRowsInOrderThenItsLastWord) {
  const int block = ReadAheadRows::kBlockRows;
  for (const int bound : {256, 65536, 1 << 30})
    for (const int count :
         {0, 1, block - 1, block, block + 1, 3 * ReadAheadRows::kBlocks * block + 7})
      for (const Last last : {Last::kEnd, Last::kBad}) {
        SCOPED_TRACE(std::to_string(count) +
                     (last == Last::kEnd ? " rows, end" : " rows, refused") + ", codes below " +
                     std::to_string(bound));
        CountingRows source(count, last, bound);
        const int domains[2] = {bound, bound};
        ReadAheadRows ahead(source, 2, domains);
        EXPECT_EQ(ahead.fileName(), "rows.data");
        int codes[2];
        std::string err;
        for (int r = 0; r < count; ++r) {
          ASSERT_EQ(ahead.read(codes, err), RowSource::Result::kRecord) << "row " << r;
          ASSERT_EQ(codes[0], r % bound);
          ASSERT_EQ(codes[1], bound - 1 - r % bound);
        }
        EXPECT_TRUE(ahead.atEnd());
        const RowSource::Result want =
            last == Last::kEnd ? RowSource::Result::kEnd : RowSource::Result::kBad;
        for (int again = 0; again < 2; ++again) {
          err.clear();
          EXPECT_EQ(ahead.read(codes, err), want);
          EXPECT_EQ(err, last == Last::kEnd
                             ? ""
                             : "rows.data: record " + std::to_string(count + 1) + ": bad\n");
        }
        EXPECT_EQ(ahead.failed(), last == Last::kBad);
        EXPECT_EQ(ahead.failureLine(), last == Last::kBad ? "cannot read on\n" : "");
      }
}

TEST(ReadAheadRowsTest, AnExceptionOfTheSourceIsThrownInItsPlace) {
  CountingRows source(5, Last::kThrow);
  ReadAheadRows ahead(source, 2, kWide.data());
  int codes[2];
  std::string err;
  for (int r = 0; r < 5; ++r) ASSERT_EQ(ahead.read(codes, err), RowSource::Result::kRecord);
  EXPECT_THROW(ahead.read(codes, err), std::bad_alloc);
}

// Wide rows go in smaller blocks: a block never holds more than kBlockCodes
// codes, and never less than a row.
TEST(ReadAheadRowsTest, WideRowsGoInSmallerBlocks) {
  CountingRows source(0, Last::kEnd);
  for (const int width : {2, 64, 65, 1 << 16, (1 << 16) + 1}) {
    ReadAheadRows ahead(source, width, kWide.data());
    EXPECT_GE(ahead.blockRows(), 1) << width;
    EXPECT_LE(ahead.blockRows(), ReadAheadRows::kBlockRows) << width;
    EXPECT_LE(static_cast<long long>(ahead.blockRows()) * width,
              std::max(ReadAheadRows::kBlockCodes, width))
        << width;
  }
  EXPECT_EQ(ReadAheadRows(source, 2, kWide.data()).blockRows(), ReadAheadRows::kBlockRows);
}

// A caller that stops early (a refused first row, a tree too large) leaves the
// helper waiting on a full ring: destruction stops it, having read no more
// than the ring holds.
TEST(ReadAheadRowsTest, StopsWithAFullRingWhenTheCallerLeavesEarly) {
  const int ring = ReadAheadRows::kBlocks * ReadAheadRows::kBlockRows;
  CountingRows source(100 * ring, Last::kEnd);
  {
    ReadAheadRows ahead(source, 2, kWide.data());
    int codes[2];
    std::string err;
    ASSERT_EQ(ahead.read(codes, err), RowSource::Result::kRecord);
  }
  EXPECT_LE(source.handedOut(), ring + ReadAheadRows::kBlockRows);
}

}  // namespace
}  // namespace kelbow
