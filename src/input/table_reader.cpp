#include "input/table_reader.h"

#include <cctype>
#include <climits>

namespace kelbow {

int NumberReader::get() {
  if (pos_ == len_) {
    len_ = std::fread(buffer_, 1, sizeof buffer_, in_);
    pos_ = 0;
    if (len_ == 0) return EOF;
  }
  return static_cast<unsigned char>(buffer_[pos_++]);
}

void NumberReader::unget(int c) {
  if (c != EOF) --pos_;  // only ever called right after get() returned c
}

bool NumberReader::atEnd() {
  int c;
  do c = get();
  while (c != EOF && std::isspace(c));
  unget(c);
  return c == EOF;
}

NumberReader::Result NumberReader::next(int& value) {
  token_.clear();
  if (atEnd()) return Result::kEnd;
  for (int c = get(); c != EOF && !std::isspace(c); c = get()) token_.push_back(static_cast<char>(c));
  // The character that ended the token is white space (or the end): consumed.

  std::size_t i = 0;
  bool negative = false;
  if (token_[0] == '+' || token_[0] == '-') {
    negative = token_[0] == '-';
    i = 1;
  }
  if (i == token_.size()) return Result::kNotInteger;
  long long magnitude = 0;
  for (; i < token_.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(token_[i]))) return Result::kNotInteger;
    magnitude = magnitude * 10 + (token_[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return Result::kNotInteger;
  }
  const long long v = negative ? -magnitude : magnitude;
  if (v > INT_MAX || v < INT_MIN) return Result::kNotInteger;
  value = static_cast<int>(v);
  return Result::kNumber;
}

namespace {

std::string quoted(const std::string& token) {
  // Keep the message on one line and readable whatever bytes the token holds.
  std::string out = "'";
  for (unsigned char c : token.substr(0, 40)) out.push_back(std::isprint(c) ? static_cast<char>(c) : '?');
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
      err = fileName + ": the " + what[i] + " is missing; the file must start with the row count and the attribute count\n";
      return false;
    }
    if (r == NumberReader::Result::kNotInteger) {
      err = fileName + ": the " + what[i] + " " + quoted(in.token()) + " is not a decimal integer\n";
      return false;
    }
    if (values[i] < 1) {
      err = fileName + ": the " + what[i] + " is " + std::to_string(values[i]) + "; it must be at least 1\n";
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
  const std::string where = fileName + ": attribute " + std::to_string(a + 1) + ": ";
  int d = 0;
  const NumberReader::Result r = in.next(d);
  if (r == NumberReader::Result::kEnd) {
    err = where + "the domain size is missing; the file declares " + std::to_string(desc.attributeCount) +
          " attributes but lists " + std::to_string(a) + " domain sizes\n";
    return false;
  }
  if (r == NumberReader::Result::kNotInteger) {
    err = where + "the domain size " + quoted(in.token()) + " is not a decimal integer\n";
    return false;
  }
  if (d < 1) {
    err = where + "the domain size is " + std::to_string(d) + "; it must be at least 1\n";
    return false;
  }
  if (desc.valueCount + static_cast<long long>(d) > kMaxValueSlots) {
    err = where + "the domain sizes add up to more than " + std::to_string(kMaxValueSlots) + " values\n";
    return false;
  }
  desc.domainSizes.push_back(d);
  desc.valueCount += d;
  if (d == 1) ++desc.singleValuedCount;
  return true;
}

bool checkInformative(const TableDescription& desc, const std::string& fileName, std::string& err) {
  if (desc.singleValuedCount < desc.attributeCount) return true;
  err = fileName + ": every attribute has domain size 1; there is nothing to cluster\n";
  return false;
}

bool readDescription(std::FILE* in, const std::string& fileName, TableDescription& desc,
                     std::string& err) {
  NumberReader numbers(in);
  if (!readTableSize(numbers, fileName, desc, err)) return false;
  for (int a = 0; a < desc.attributeCount; ++a)
    if (!readDomainSize(numbers, fileName, a, desc, err)) return false;
  return checkInformative(desc, fileName, err);
}

RecordReader::Result RecordReader::read(int* codes, std::string& err) {
  const int attributes = static_cast<int>(domainSizes_.size());
  for (int a = 0; a < attributes; ++a) {
    // Built only when a message is needed: this loop runs once per code of the file.
    auto where = [&] {
      return fileName_ + ": record " + std::to_string(records_ + 1) + ", attribute " + std::to_string(a + 1) + ": ";
    };
    int v = 0;
    const NumberReader::Result r = numbers_.next(v);
    if (r == NumberReader::Result::kEnd) {
      if (a == 0) return Result::kEnd;
      err = where() + "the code is missing; the file ends inside the record\n";
      return Result::kBad;
    }
    if (r == NumberReader::Result::kNotInteger) {
      err = where() + quoted(numbers_.token()) + " is not a decimal integer\n";
      return Result::kBad;
    }
    if (v < 0 || v >= domainSizes_[a]) {
      err = where() + "the code " + std::to_string(v) + " is outside 0.." + std::to_string(domainSizes_[a] - 1) + "\n";
      return Result::kBad;
    }
    codes[a] = v;
  }
  ++records_;
  return Result::kRecord;
}

}  // namespace kelbow
