// The data reader against a plain reference of the number syntax: for plain
// text the records, the place where reading stops and every message must be
// exactly those of the reference; compressed input (gzip, zstd) must decode
// or be refused in one line, and never yield a code outside its domain.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "input/byte_source.h"
#include "input/description_text.h"
#include "input/table_reader.h"

using namespace kelbow;

namespace {

const std::string kName = "f.data";

// The description the records are checked against: the input's own when it is
// valid and small, else two attributes of 2 and 3 values.
std::vector<int> domainsOf(std::string_view description) {
  DescriptionText text;
  text.assign("f.desc", description);
  const std::unique_ptr<ByteSource> in = text.reader();
  TableDescription desc;
  std::string err;
  if (readDescription(*in, "f.desc", desc, err) && desc.attributeCount <= 64)
    return desc.domainSizes;
  return {2, 3};
}

std::string quoted(const std::string& token) {
  std::string out = "'";
  for (unsigned char c : token.substr(0, 40))
    out.push_back(std::isprint(c) ? static_cast<char>(c) : '?');
  if (token.size() > 40) out += "...";
  return out + "'";
}

// The reference: tokens split at white space, each a sign and digits of at most
// 32 bits; the messages the tool gives.
struct Reference {
  std::vector<std::vector<int>> records;
  std::string err;  // empty when the data ends cleanly at a record boundary
};

Reference reference(std::string_view data, const std::vector<int>& domains) {
  Reference out;
  std::size_t pos = 0;
  std::vector<int> record;
  for (;;) {
    while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    const auto where = [&] {
      return kName + ": record " + std::to_string(out.records.size() + 1) + ", attribute " +
             std::to_string(record.size() + 1) + ": ";
    };
    if (pos == data.size()) {
      if (!record.empty())
        out.err = where() + "the code is missing; the file ends inside the record\n";
      return out;
    }
    std::string token;
    while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
      token += data[pos++];
    std::size_t i = token[0] == '+' || token[0] == '-' ? 1 : 0;
    bool ok = i < token.size();
    long long magnitude = 0;
    for (; ok && i < token.size(); ++i) {
      ok = token[i] >= '0' && token[i] <= '9';
      magnitude = magnitude * 10 + (token[i] - '0');
      ok = ok && magnitude <= static_cast<long long>(INT_MAX) + 1;
    }
    const long long v = token[0] == '-' ? -magnitude : magnitude;
    if (!ok || v > INT_MAX) {
      out.err = where() + quoted(token) + " is not a decimal integer\n";
      return out;
    }
    const int d = domains[record.size()];
    if (v < 0 || v >= d) {
      out.err = where() + "the code " + std::to_string(v) + " is outside 0.." +
                std::to_string(d - 1) + "\n";
      return out;
    }
    record.push_back(static_cast<int>(v));
    if (record.size() == domains.size()) {
      out.records.push_back(record);
      record.clear();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const fuzzing::FuzzInput input = fuzzing::splitInput(bytes, size);
  const std::vector<int> domains = domainsOf(input.description);
  const std::unique_ptr<ByteSource> source =
      decodingSource(std::make_unique<MemorySource>(input.data), kName);
  RecordReader reader(*source, kName, domains);
  std::vector<std::vector<int>> records;
  std::vector<int> codes(domains.size());
  std::string err;
  for (;;) {
    const RecordReader::Result r = reader.read(codes.data(), err);
    if (r != RecordReader::Result::kRecord) {
      KELBOW_FUZZ_CHECK(r == RecordReader::Result::kEnd ? err.empty() : !err.empty());
      break;
    }
    for (std::size_t a = 0; a < domains.size(); ++a)
      KELBOW_FUZZ_CHECK(codes[a] >= 0 && codes[a] < domains[a]);
    records.push_back(codes);
  }
  KELBOW_FUZZ_CHECK(reader.recordsRead() == static_cast<int>(records.size()));
  if (!err.empty()) {
    KELBOW_FUZZ_CHECK(err.rfind(kName + ": ", 0) == 0 && err.find('\n') == err.size() - 1);
  }
  const unsigned char first = input.data.empty() ? 0 : static_cast<unsigned char>(input.data[0]);
  const bool maybeCompressed = first == 0x1f || first == 0x28 || (first & 0xf0) == 0x50;
  if (!maybeCompressed) {
    const Reference expected = reference(input.data, domains);
    KELBOW_FUZZ_CHECK(records == expected.records);
    KELBOW_FUZZ_CHECK(err == expected.err);
  }
  return 0;
}
