// Validated readers for the two input files. Both files are sequences of
// decimal integers separated by any white space; line breaks carry no meaning.
// Every reader refuses bad input with one line naming the file, the record and
// the attribute, before any value can reach a count table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/progress.h"
#include "input/byte_source.h"

namespace kelbow {

// Largest number of value slots (sum of the domain sizes) a table may have;
// every cluster holds two count tables of this length.
inline constexpr long long kMaxValueSlots = 1 << 24;

// Reads whitespace-separated decimal integers from a byte source, a large
// buffer at a time, parsing digits in place.
class NumberReader {
 public:
  // Reads `in` through a buffer of at most `bufferSize` bytes; `in` must
  // outlive the reader.
  explicit NumberReader(ByteSource& in, std::size_t bufferSize = kDefaultBufferSize);

  static constexpr std::size_t kDefaultBufferSize = 1 << 18;

  enum class Result { kNumber, kEnd, kNotInteger, kReadError };

  // Reads the next token. kNotInteger when it is not a decimal integer that
  // fits in 32 bits; token() then holds its first kKeptTokenBytes bytes, and the
  // reader must not be used further. kReadError when the source failed
  // (failure() says how).
  Result next(int& value) {
    // The common case, parsed here: a short number ended by white space inside
    // the buffer. Everything else (long, bad or cut tokens, the end) takes the
    // general road, which gives the same value for the same bytes.
    const char* p = pos_;
    while (p < end_ && isBlank(*p)) ++p;
    const char* q = p;
    const bool negative = q < end_ && *q == '-';
    if (q < end_ && (*q == '-' || *q == '+')) ++q;
    const char* digits = q;
    std::uint64_t magnitude = 0;
    while (q < end_ && q - digits < 10 && static_cast<unsigned char>(*q - '0') < 10)
      magnitude = magnitude * 10 + static_cast<unsigned>(*q++ - '0');
    if (q > digits && q < end_ && isBlank(*q) &&
        magnitude <= (negative ? 2147483648u : 2147483647u)) {
      pos_ = q + 1;
      value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                       : static_cast<int>(magnitude);
      return Result::kNumber;
    }
    pos_ = p;
    return nextToken(value);
  }

  // Skips white space; true when the stream holds nothing more or has failed.
  bool atEnd();

  const std::string& token() const { return token_; }
  bool failed() const { return failed_; }
  const std::string& failure() const { return in_.failure(); }

  // Enough of a bad token to quote it and to tell that it goes on.
  static constexpr std::size_t kKeptTokenBytes = 41;

 private:
  // White space of the "C" locale.
  static bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  // next() for any token, across buffers.
  Result nextToken(int& value);
  // Loads the next buffer; false at the end of the source or on a failure.
  bool refill();

  ByteSource& in_;
  ReadBuffer buffer_;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  std::string token_;
  bool failed_ = false;
};

// What a description file declares.
struct TableDescription {
  int rows = 0;                  // R
  int attributeCount = 0;        // A
  std::vector<int> domainSizes;  // d_0 .. d_(A-1)
  int singleValuedCount = 0;     // attributes with d_a = 1
  int valueCount = 0;            // d_0 + .. + d_(A-1)
};

// Reads the leading "R A" of a description file and checks R >= 1, A >= 1.
bool readTableSize(NumberReader& in, const std::string& fileName, TableDescription& desc,
                   std::string& err);

// Reads the domain size of attribute `a` (0-based), checks it and adds it to
// desc (domainSizes, singleValuedCount, valueCount).
bool readDomainSize(NumberReader& in, const std::string& fileName, int a, TableDescription& desc,
                    std::string& err);

// Refuses a table in which every attribute has a single value (nothing to cluster).
bool checkInformative(const TableDescription& desc, const std::string& fileName, std::string& err);

// The whole description: size, A domain sizes, the informative check. With
// `echo`, tells it the size once read and then every domain size as it is read.
bool readDescription(ByteSource& in, const std::string& fileName, TableDescription& desc,
                     std::string& err, Progress* echo = nullptr);

// Where a loader takes its rows from: a data file, or rows a program holds or
// makes (the reference tables of kelbow-choose). Every code a source hands out
// lies in its attribute's domain.
class RowSource {
 public:
  virtual ~RowSource() = default;

  enum class Result { kRecord, kEnd, kBad };

  // Reads the next row into codes (A entries). kEnd when no row is left; kBad,
  // with err set to one line, when the source holds a bad row or cannot be read.
  virtual Result read(int* codes, std::string& err) = 0;
  // True when no further row follows (or the source cannot be read on: see failed()).
  virtual bool atEnd() = 0;
  virtual bool failed() const { return false; }
  // The line that reports the failure.
  virtual std::string failureLine() const { return ""; }
  // The name that messages about the rows give.
  virtual const std::string& fileName() const = 0;
};

// Reads records of A codes from a data file and checks every code against its domain.
class RecordReader final : public RowSource {
 public:
  RecordReader(ByteSource& in, std::string fileName, const std::vector<int>& domainSizes)
      : numbers_(in), fileName_(std::move(fileName)), domainSizes_(domainSizes) {}

  // kEnd when the file ends before the record's first code; kBad on a bad,
  // out-of-range or missing code, or when the file cannot be read on.
  Result read(int* codes, std::string& err) override;

  // Skips white space.
  bool atEnd() override { return numbers_.atEnd(); }
  bool failed() const override { return numbers_.failed(); }
  std::string failureLine() const override { return numbers_.failure() + "\n"; }

  int recordsRead() const { return records_; }
  const std::string& fileName() const override { return fileName_; }

 private:
  NumberReader numbers_;
  std::string fileName_;
  const std::vector<int>& domainSizes_;
  int records_ = 0;
};

}  // namespace kelbow
