#include "input/table_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdint>

#include "common/message_text.h"

namespace kelbow {

namespace {

// Byte classes of the number syntax. White space is that of the "C" locale.
enum : unsigned char { kOther, kDigit, kSpace, kSign };

constexpr std::array<unsigned char, 256> byteClasses() {
  std::array<unsigned char, 256> c{};
  for (int b = '0'; b <= '9'; ++b) c[b] = kDigit;
  for (unsigned char b : {' ', '\t', '\n', '\v', '\f', '\r'}) c[b] = kSpace;
  c['+'] = c['-'] = kSign;
  return c;
}
constexpr std::array<unsigned char, 256> kClass = byteClasses();

// Largest magnitude a 32-bit integer can have (that of INT_MIN).
constexpr std::uint64_t kMaxMagnitude = static_cast<std::uint64_t>(INT_MAX) + 1;

}  // namespace

NumberReader::NumberReader(ByteSource& in, std::size_t bufferSize) : in_(in), buffer_(bufferSize) {}

bool NumberReader::refill() {
  if (failed_) return false;
  char* room = buffer_.refill();
  const long n = in_.read(room, buffer_.size());
  if (n < 0) failed_ = true;
  if (n <= 0) {
    pos_ = end_ = nullptr;
    return false;
  }
  pos_ = room;
  end_ = pos_ + n;
  return true;
}

bool NumberReader::atEnd() {
  for (;;) {
    while (pos_ < end_ && kClass[static_cast<unsigned char>(*pos_)] == kSpace) ++pos_;
    if (pos_ < end_) return false;
    if (!refill()) return true;
  }
}

NumberReader::Result NumberReader::nextToken(int& value) {
  token_.clear();
  if (atEnd()) return failed_ ? Result::kReadError : Result::kEnd;

  // A token runs to the next white space or the end, possibly across buffers;
  // the part in each buffer is kept only once the token has turned out bad.
  std::uint64_t magnitude = 0;
  bool negative = false;
  bool digits = false;
  bool bad = false;
  std::size_t length = 0;  // bytes of the token so far
  const char* start = pos_;
  const auto keep = [&](const char* from, const char* to) {
    const std::size_t room = kKeptTokenBytes - token_.size();
    token_.append(from, std::min(room, static_cast<std::size_t>(to - from)));
  };
  const char* stop = nullptr;  // end of the token's part in the current buffer
  for (;;) {
    const char* p = pos_;
    for (; p < end_; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      const unsigned char kind = kClass[c];
      if (kind == kDigit) {
        digits = true;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kMaxMagnitude) {
          bad = true;
          magnitude = kMaxMagnitude;  // stays above INT_MAX, never wraps
        }
      } else if (kind == kSpace) {
        break;
      } else if (kind != kSign || length + (p - start) != 0) {
        bad = true;
      } else {
        negative = c == '-';
      }
    }
    if (p < end_) {  // ended by white space, which is consumed
      stop = p;
      pos_ = p + 1;
      break;
    }
    // The buffer ends inside the token. A bad token is not read past what its
    // quote needs, so that endless garbage cannot keep the reader busy.
    keep(start, p);
    length += static_cast<std::size_t>(p - start);
    if (bad && token_.size() == kKeptTokenBytes) return Result::kNotInteger;
    if (!refill()) {
      if (failed_) return Result::kReadError;
      start = stop = nullptr;  // the token ends with the source
      break;
    }
    start = pos_;
  }
  if (bad || !digits || (!negative && magnitude > static_cast<std::uint64_t>(INT_MAX))) {
    keep(start, stop);
    return Result::kNotInteger;
  }
  value = negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<int>(magnitude);
  return Result::kNumber;
}

namespace {

std::string quoted(const std::string& token) {
  // Keep the message on one line and readable whatever bytes the token holds.
  std::string out = "'";
  for (unsigned char c : token.substr(0, 40))
    out.push_back(std::isprint(c) ? static_cast<char>(c) : '?');
  if (token.size() > 40) out += "...";
  return out + "'";
}

}  // namespace

bool readTableSize(NumberReader& in, const std::string& fileName, TableDescription& desc,
                   std::string& err) {
  int values[2] = {0, 0};
  const char* what[2] = {"row count", "attribute count"};
  for (int i = 0; i < 2; ++i) {
    const NumberReader::Result r = in.next(values[i]);
    if (r == NumberReader::Result::kEnd) {
      err = shownName(fileName) + ": the " + what[i] +
            " is missing; the file must start with the row count and the attribute count\n";
      return false;
    }
    if (r == NumberReader::Result::kNotInteger) {
      err = shownName(fileName) + ": the " + what[i] + " " + quoted(in.token()) +
            " is not a decimal integer\n";
      return false;
    }
    if (r == NumberReader::Result::kReadError) {
      err = in.failure() + "\n";
      return false;
    }
    if (values[i] < 1) {
      err = shownName(fileName) + ": the " + what[i] + " is " + std::to_string(values[i]) +
            "; it must be at least 1\n";
      return false;
    }
  }
  desc = TableDescription{};
  desc.rows = values[0];
  desc.attributeCount = values[1];
  return true;
}

bool readDomainSize(NumberReader& in, const std::string& fileName, int a, TableDescription& desc,
                    std::string& err) {
  const std::string where = shownName(fileName) + ": attribute " + std::to_string(a + 1) + ": ";
  int d = 0;
  const NumberReader::Result r = in.next(d);
  if (r == NumberReader::Result::kEnd) {
    err = where + "the domain size is missing; the file declares " +
          std::to_string(desc.attributeCount) + " attributes but lists " + std::to_string(a) +
          " domain sizes\n";
    return false;
  }
  if (r == NumberReader::Result::kNotInteger) {
    err = where + "the domain size " + quoted(in.token()) + " is not a decimal integer\n";
    return false;
  }
  if (r == NumberReader::Result::kReadError) {
    err = in.failure() + "\n";
    return false;
  }
  if (d < 1) {
    err = where + "the domain size is " + std::to_string(d) + "; it must be at least 1\n";
    return false;
  }
  if (desc.valueCount + static_cast<long long>(d) > kMaxValueSlots) {
    err = where + "the domain sizes add up to more than " + std::to_string(kMaxValueSlots) +
          " values\n";
    return false;
  }
  desc.domainSizes.push_back(d);
  desc.valueCount += d;
  if (d == 1) ++desc.singleValuedCount;
  return true;
}

bool checkInformative(const TableDescription& desc, const std::string& fileName, std::string& err) {
  if (desc.singleValuedCount < desc.attributeCount) return true;
  err = shownName(fileName) + ": every attribute has domain size 1; there is nothing to cluster\n";
  return false;
}

bool readDescription(ByteSource& in, const std::string& fileName, TableDescription& desc,
                     std::string& err, Progress* echo) {
  NumberReader numbers(in);
  if (!readTableSize(numbers, fileName, desc, err)) return false;
  if (echo != nullptr) echo->tableSize(desc.rows, desc.attributeCount);
  for (int a = 0; a < desc.attributeCount; ++a) {
    if (!readDomainSize(numbers, fileName, a, desc, err)) return false;
    if (echo != nullptr) echo->domainSize(desc.domainSizes[a]);
  }
  return checkInformative(desc, fileName, err);
}

RecordReader::Result RecordReader::read(int* codes, std::string& err) {
  const int attributes = static_cast<int>(domainSizes_.size());
  for (int a = 0; a < attributes; ++a) {
    // Built only when a message is needed: this loop runs once per code of the file.
    auto where = [&] {
      return shownName(fileName_) + ": record " + std::to_string(records_ + 1) + ", attribute " +
             std::to_string(a + 1) + ": ";
    };
    int v = 0;
    const NumberReader::Result r = numbers_.next(v);
    if (r == NumberReader::Result::kNumber && v >= 0 && v < domainSizes_[a]) {
      codes[a] = v;
      continue;
    }
    if (r == NumberReader::Result::kEnd) {
      if (a == 0) return Result::kEnd;
      err = where() + "the code is missing; the file ends inside the record\n";
      return Result::kBad;
    }
    if (r == NumberReader::Result::kNotInteger) {
      err = where() + quoted(numbers_.token()) + " is not a decimal integer\n";
      return Result::kBad;
    }
    if (r == NumberReader::Result::kReadError) {
      err = failureLine();
      return Result::kBad;
    }
    err = where() + "the code " + std::to_string(v) + " is outside 0.." +
          std::to_string(domainSizes_[a] - 1) + "\n";
    return Result::kBad;
  }
  ++records_;
  return Result::kRecord;
}

}  // namespace kelbow
