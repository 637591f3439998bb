// The description reader: any bytes are either a valid description or refused
// with one line naming the file; the same text reads the same however it is
// cut into buffers; the swapped-files hint is one line or nothing.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "input/description_text.h"
#include "input/table_reader.h"

using namespace kelbow;

namespace {

struct Outcome {
  bool ok = false;
  TableDescription desc;
  std::string err;
};

Outcome readWith(DescriptionText& text, std::size_t bufferSize) {
  Outcome out;
  const std::unique_ptr<ByteSource> in = text.reader();
  NumberReader numbers(*in, bufferSize);
  out.ok = readTableSize(numbers, text.fileName(), out.desc, out.err);
  for (int a = 0; out.ok && a < out.desc.attributeCount; ++a)
    out.ok = readDomainSize(numbers, text.fileName(), a, out.desc, out.err);
  out.ok = out.ok && checkInformative(out.desc, text.fileName(), out.err);
  return out;
}

bool oneLineNaming(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 && line.back() == '\n' && line.find('\n') == line.size() - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const fuzzing::FuzzInput input = fuzzing::splitInput(bytes, size);
  // Descriptions of millions of attributes are valid but only slow the search.
  if (input.description.size() > 1 << 16) return 0;
  DescriptionText text;
  text.assign("f.desc", input.description);
  const Outcome whole = readWith(text, NumberReader::kDefaultBufferSize);
  const Outcome small = readWith(text, 1 + size % 7);
  KELBOW_FUZZ_CHECK(whole.ok == small.ok && whole.err == small.err);
  if (whole.ok) {
    const TableDescription& d = whole.desc;
    KELBOW_FUZZ_CHECK(d.rows >= 1 && d.attributeCount >= 1);
    KELBOW_FUZZ_CHECK(static_cast<int>(d.domainSizes.size()) == d.attributeCount);
    long long sum = 0;
    int single = 0;
    for (int s : d.domainSizes) {
      KELBOW_FUZZ_CHECK(s >= 1);
      sum += s;
      single += s == 1;
    }
    KELBOW_FUZZ_CHECK(sum == d.valueCount && sum <= kMaxValueSlots);
    KELBOW_FUZZ_CHECK(single == d.singleValuedCount && single < d.attributeCount);
    KELBOW_FUZZ_CHECK(small.desc.domainSizes == d.domainSizes && small.desc.rows == d.rows);
  } else {
    KELBOW_FUZZ_CHECK(oneLineNaming(whole.err, "f.desc: "));
    const std::string hint = text.swappedFilesHint();
    KELBOW_FUZZ_CHECK(hint.empty() || oneLineNaming(hint, "kelbow: f.desc looks like a data file"));
  }
  return 0;
}
