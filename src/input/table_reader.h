// Validated readers for the two input files. Both files are sequences of
// decimal integers separated by any white space; line breaks carry no meaning.
// Every reader refuses bad input with one line naming the file, the record and
// the attribute, before any value can reach a count table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelbow {

// Largest number of value slots (sum of the domain sizes) a table may have;
// every cluster holds two count tables of this length.
inline constexpr long long kMaxValueSlots = 1 << 24;

// Reads whitespace-separated decimal integers from a stdio stream.
class NumberReader {
 public:
  explicit NumberReader(std::FILE* in) : in_(in) {}

  enum class Result { kNumber, kEnd, kNotInteger };

  // Reads the next token. kNotInteger when it is not a decimal integer that
  // fits in 32 bits; token() then holds it.
  Result next(int& value);

  // Skips white space; true when the stream holds nothing more.
  bool atEnd();

  const std::string& token() const { return token_; }

 private:
  int get();
  void unget(int c);

  std::FILE* in_;
  std::string token_;
  char buffer_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
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

// The whole description: size, A domain sizes, the informative check.
bool readDescription(std::FILE* in, const std::string& fileName, TableDescription& desc,
                     std::string& err);

// Reads records of A codes and checks every code against its domain.
class RecordReader {
 public:
  RecordReader(std::FILE* in, std::string fileName, const std::vector<int>& domainSizes)
      : numbers_(in), fileName_(std::move(fileName)), domainSizes_(domainSizes) {}

  enum class Result { kRecord, kEnd, kBad };

  // Reads the next record into codes (A entries). kEnd when the file ends
  // before its first code; kBad, with err set, on a bad, out-of-range or
  // missing code.
  Result read(int* codes, std::string& err);

  // Skips white space; true when no further record starts.
  bool atEnd() { return numbers_.atEnd(); }

  int recordsRead() const { return records_; }
  const std::string& fileName() const { return fileName_; }

 private:
  NumberReader numbers_;
  std::string fileName_;
  const std::vector<int>& domainSizes_;
  int records_ = 0;
};

}  // namespace kelbow
