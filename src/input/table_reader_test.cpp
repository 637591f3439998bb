#include "input/table_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kelbow {
namespace {

// A refusal is one line that starts with the name of the file at fault.
void ExpectOneLineNaming(const std::string& err, const std::string& file) {
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.rfind(file + ": ", 0), 0u) << err;
  EXPECT_EQ(err.back(), '\n') << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// ---------------------------------------------------------------- NumberReader

class NumberReaderTest : public testing::Test {
 protected:
  // Every token of `text` with its outcome; numbers as their value, others as the token.
  static std::vector<std::string> tokens(
      std::string_view text, std::size_t bufferSize = NumberReader::kDefaultBufferSize) {
    MemorySource file(text);
    NumberReader in(file, bufferSize);
    std::vector<std::string> out;
    for (;;) {
      int v = 0;
      const NumberReader::Result r = in.next(v);
      if (r == NumberReader::Result::kEnd) return out;
      out.push_back(r == NumberReader::Result::kNumber ? std::to_string(v) : "bad:" + in.token());
    }
  }
};

TEST_F(NumberReaderTest, AnyWhiteSpaceSeparatesSignedNumbers) {
  EXPECT_EQ(tokens("  12\n-7\t+3\r\n0 -0\v\f5"),
            (std::vector<std::string>{"12", "-7", "3", "0", "0", "5"}));
}

TEST_F(NumberReaderTest, EmptyOrBlankInputEndsAtOnce) {
  EXPECT_TRUE(tokens("").empty());
  EXPECT_TRUE(tokens(" \n\t \n").empty());
}

TEST_F(NumberReaderTest, AcceptsTheWholeThirtyTwoBitRange) {
  EXPECT_EQ(tokens("2147483647 -2147483648 007"),
            (std::vector<std::string>{"2147483647", "-2147483648", "7"}));
}

TEST_F(NumberReaderTest, RefusesNumbersPastThirtyTwoBitsWithoutWrapping) {
  // 2^32 and 2^32 + 1 would wrap to 0 and 1 in 32-bit arithmetic, 2^64 + 5 to 5 in 64-bit.
  EXPECT_EQ(tokens("2147483648 -2147483649 4294967296 4294967297 18446744073709551621"),
            (std::vector<std::string>{"bad:2147483648", "bad:-2147483649", "bad:4294967296",
                                      "bad:4294967297", "bad:18446744073709551621"}));
}

TEST_F(NumberReaderTest, RefusesTokensThatAreNotDecimalIntegers) {
  EXPECT_EQ(tokens("1.5 abc 12x + - --1 1- 0x10 1e3"),
            (std::vector<std::string>{"bad:1.5", "bad:abc", "bad:12x", "bad:+", "bad:-", "bad:--1",
                                      "bad:1-", "bad:0x10", "bad:1e3"}));
}

// Every token at every position against the buffer's end: the same tokens as
// with one buffer for the whole text, bad ones quoted alike.
TEST_F(NumberReaderTest, TokensReadTheSameAcrossBufferBoundaries) {
  const std::string text = " 12 -7 +0003 2147483647 -2147483648 1.5 2147483648 x9 -";
  const std::vector<std::string> whole = tokens(text);
  ASSERT_EQ(whole.size(), 9u);
  for (std::size_t size = 1; size <= text.size(); ++size)
    EXPECT_EQ(tokens(text, size), whole) << size;
}

// A bad token is quoted from its first 41 bytes (enough to tell that it goes
// on), and nothing past them is read: endless garbage ends the reading at once.
TEST_F(NumberReaderTest, ABadTokenIsKeptToItsFirstBytesOnly) {
  const std::string longBad = "1" + std::string(100, 'x');
  EXPECT_EQ(tokens(longBad + " 5", 16).front(), "bad:" + longBad.substr(0, 41));
  EXPECT_EQ(tokens(longBad.substr(0, 41) + " 5", 16).front(), "bad:" + longBad.substr(0, 41));
  // A long good token is read whole, however many buffers it spans.
  EXPECT_EQ(tokens(std::string(200, '0') + "42 7", 16), (std::vector<std::string>{"42", "7"}));
}

// A source that fails after some bytes: the reader reports the failure, never an end.
TEST_F(NumberReaderTest, ASourceFailureIsNoEnd) {
  struct Failing : ByteSource {
    long read(char* buffer, std::size_t) override {
      if (calls++ > 0) return fail("f.data: read error: Input/output error");
      buffer[0] = '4';
      return 1;
    }
    int calls = 0;
  } source;
  NumberReader in(source, 8);
  int v = 0;
  EXPECT_EQ(in.next(v), NumberReader::Result::kReadError);
  EXPECT_TRUE(in.failed());
  EXPECT_EQ(in.failure(), "f.data: read error: Input/output error");
}

// ---------------------------------------------------------------- descriptions

class DescriptionTest : public testing::Test {
 protected:
  bool read(std::string_view text) {
    MemorySource file(text);
    err.clear();
    return readDescription(file, kName, desc, err);
  }
  // Reads `text`, expects a refusal and returns its message.
  std::string refusal(std::string_view text) {
    EXPECT_FALSE(read(text)) << "accepted: " << text;
    ExpectOneLineNaming(err, kName);
    return err;
  }

  const std::string kName = "tables/desc.txt";
  TableDescription desc;
  std::string err;
};

TEST_F(DescriptionTest, AcceptsAnyWhiteSpaceLayout) {
  for (std::string_view text : {"3 2\n2\n3\n", "3\n2\n2 3", "  3\t2  2\r\n3", "3 2 2 3"}) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(read(text)) << err;
    EXPECT_EQ(desc.rows, 3);
    EXPECT_EQ(desc.attributeCount, 2);
    EXPECT_EQ(desc.domainSizes, (std::vector<int>{2, 3}));
    EXPECT_EQ(desc.singleValuedCount, 0);
    EXPECT_EQ(desc.valueCount, 5);
  }
}

TEST_F(DescriptionTest, OneValuedAttributesAreCountedAndKeepTheirSlot) {
  ASSERT_TRUE(read("4 3\n2\n1\n5\n")) << err;
  EXPECT_EQ(desc.singleValuedCount, 1);
  EXPECT_EQ(desc.valueCount, 8);
}

TEST_F(DescriptionTest, NumbersAfterTheDomainSizesAreNeverRead) {
  ASSERT_TRUE(read("3 2\n2\n3\n99 not-a-number\n")) << err;
  EXPECT_EQ(desc.domainSizes, (std::vector<int>{2, 3}));
}

// Every refusal with a word its one-line message must hold.
TEST_F(DescriptionTest, RefusesBrokenDescriptionsNamingWhatIsWrong) {
  const struct {
    const char* text;
    const char* names;
  } cases[] = {
      {"", "row count"},  // missing counts
      {"  \n", "row count"},
      {"5\n", "attribute count"},
      {"abc 2 2 3", "abc"},  // counts that are not integers
      {"3 2.0 2 3", "2.0"},
      {"0 2 2 3", "row count"},  // R < 1
      {"-3 2 2 3", "row count"},
      {"3 0", "attribute count"},  // A < 1
      {"3 -1 2", "attribute count"},
      {"3 3\n2\n3\n", "attribute 3"},  // too few domain sizes
      {"3 1\n", "attribute 1"},
      {"3 2\n2\n0\n", "attribute 2"},  // d < 1
      {"3 2\n-4\n3\n", "attribute 1"},
      {"3 2\n2\nthree\n", "attribute 2"},
      {"1 2\n2147483647\n2147483647\n", "attribute"},  // sizes whose sum would overflow
      {"1 3\n2000000000\n2000000000\n2000000000\n", "attribute"},
      {"3 2\n1\n1\n", "domain size 1"},  // every attribute one-valued
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NE(refusal(c.text).find(c.names), std::string::npos) << err;
  }
  ASSERT_TRUE(read("3 2\n1\n2\n")) << err;  // one informative attribute is enough
}

// Truncation at every byte: a prefix is accepted only once it holds the last
// domain size, and then reads the same as the whole file.
TEST_F(DescriptionTest, EveryTruncationIsAcceptedWholeOrRefusedInOneLine) {
  const std::string text = "12 3\n2\n3\n1\n";
  const std::size_t complete = text.rfind('1') + 1;
  for (std::size_t len = 0; len <= text.size(); ++len) {
    SCOPED_TRACE("prefix length " + std::to_string(len));
    if (read(text.substr(0, len))) {
      EXPECT_GE(len, complete);
      EXPECT_EQ(desc.rows, 12);
      EXPECT_EQ(desc.domainSizes, (std::vector<int>{2, 3, 1}));
    } else {
      EXPECT_LT(len, complete);
      ExpectOneLineNaming(err, kName);
    }
  }
}

TEST_F(DescriptionTest, EveryCorruptedByteIsAcceptedSoundlyOrRefusedInOneLine) {
  const std::string text = "12 3\n2\n3\n1\n";
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (char bad : {'0', '9', '-', 'x', '.', ' ', '\n', '\0', '\xff'}) {
      std::string damaged = text;
      damaged[at] = bad;
      SCOPED_TRACE("byte " + std::to_string(at) + " set to " +
                   std::to_string(static_cast<unsigned char>(bad)));
      if (read(damaged)) {
        EXPECT_GE(desc.rows, 1);
        EXPECT_EQ(static_cast<int>(desc.domainSizes.size()), desc.attributeCount);
        EXPECT_TRUE(std::all_of(desc.domainSizes.begin(), desc.domainSizes.end(),
                                [](int d) { return d >= 1; }));
        EXPECT_LT(desc.singleValuedCount, desc.attributeCount);
      } else {
        ExpectOneLineNaming(err, kName);
      }
    }
  }
}

// ---------------------------------------------------------------- records

class RecordReaderTest : public testing::Test {
 protected:
  struct Outcome {
    std::vector<std::vector<int>> records;
    RecordReader::Result last = RecordReader::Result::kEnd;
    std::string err;
  };

  // Reads records of `text` until the reader stops or `limit` records are in.
  Outcome readAll(std::string_view text, int limit = INT_MAX) {
    MemorySource file(text);
    RecordReader reader(file, kName, sizes);
    Outcome out;
    std::vector<int> codes(sizes.size());
    while (static_cast<int>(out.records.size()) < limit) {
      out.last = reader.read(codes.data(), out.err);
      if (out.last != RecordReader::Result::kRecord) break;
      out.records.push_back(codes);
    }
    EXPECT_EQ(reader.recordsRead(), static_cast<int>(out.records.size()));
    return out;
  }

  // Expects a refusal at the given record and attribute (both 1-based).
  void ExpectRefusedAt(const Outcome& out, int record, int attribute) {
    ASSERT_EQ(out.last, RecordReader::Result::kBad);
    ExpectOneLineNaming(out.err, kName);
    int r = 0, a = 0;
    ASSERT_EQ(std::sscanf(out.err.c_str() + kName.size(), ": record %d, attribute %d:", &r, &a), 2)
        << out.err;
    EXPECT_EQ(r, record) << out.err;
    EXPECT_EQ(a, attribute) << out.err;
  }

  const std::string kName = "tables/data.txt";
  std::vector<int> sizes{2, 3, 1};
};

TEST_F(RecordReaderTest, ReadsRecordsInFileOrderAndEndsCleanly) {
  const Outcome out = readAll("0 2 0\n1 0 0\n  \n");
  EXPECT_EQ(out.last, RecordReader::Result::kEnd);
  EXPECT_EQ(out.records, (std::vector<std::vector<int>>{{0, 2, 0}, {1, 0, 0}}));
}

TEST_F(RecordReaderTest, LineBreaksCarryNoMeaning) {
  EXPECT_EQ(readAll("0\n2\n0 1\n0 0").records, readAll("0 2 0\n1 0 0\n").records);
}

TEST_F(RecordReaderTest, RefusesACodeOutsideItsDomain) {
  ExpectRefusedAt(readAll("0 3 0\n"), 1, 2);
  ExpectRefusedAt(readAll("0 2 0\n-1 0 0\n"), 2, 1);
  ExpectRefusedAt(readAll("0 2 0\n1 0 1\n"), 2, 3);
  EXPECT_NE(readAll("0 3 0\n").err.find("3"), std::string::npos);
}

TEST_F(RecordReaderTest, RefusesACodeThatIsNotAnInteger) {
  const Outcome out = readAll("0 2 0\n1 1.5 0\n");
  ExpectRefusedAt(out, 2, 2);
  EXPECT_NE(out.err.find("1.5"), std::string::npos) << out.err;
  // 2^32 would wrap to the valid code 0.
  ExpectRefusedAt(readAll("4294967296 0 0\n"), 1, 1);
}

TEST_F(RecordReaderTest, RefusesAShortLastRecord) {
  ExpectRefusedAt(readAll("0 2 0\n1 0\n"), 2, 3);
}

// Truncation at every byte: the reader hands out exactly the complete records
// of the prefix, then ends cleanly at a record boundary or refuses the record
// and attribute at which the text breaks off. Codes are single digits, so a cut
// never shortens a code into another valid one.
TEST_F(RecordReaderTest, EveryTruncationYieldsTheCompleteRecordsThenEndsOrRefuses) {
  const std::string text = "0 2 0\n1 0 0\n1 2 0\n0 1 0\n";
  const std::vector<std::vector<int>> all{{0, 2, 0}, {1, 0, 0}, {1, 2, 0}, {0, 1, 0}};
  const int attributes = static_cast<int>(sizes.size());
  for (std::size_t len = 0; len <= text.size(); ++len) {
    SCOPED_TRACE("prefix length " + std::to_string(len));
    const std::string prefix = text.substr(0, len);
    const int codes = static_cast<int>(
        std::count_if(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; }));
    const Outcome out = readAll(prefix);
    ASSERT_EQ(static_cast<int>(out.records.size()), codes / attributes);
    for (std::size_t r = 0; r < out.records.size(); ++r) EXPECT_EQ(out.records[r], all[r]);
    if (codes % attributes == 0)
      EXPECT_EQ(out.last, RecordReader::Result::kEnd) << out.err;
    else
      ExpectRefusedAt(out, codes / attributes + 1, codes % attributes + 1);
  }
}

TEST_F(RecordReaderTest, EveryCorruptedByteIsAcceptedInRangeOrRefusedInOneLine) {
  const std::string text = "0 2 0\n1 0 0\n1 2 0\n0 1 0\n";
  const int rows = 4;
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (char bad : {'1', '3', '9', '-', 'x', '.', ' ', '\n', '\0', '\xff'}) {
      std::string damaged = text;
      damaged[at] = bad;
      SCOPED_TRACE("byte " + std::to_string(at) + " set to " +
                   std::to_string(static_cast<unsigned char>(bad)));
      const Outcome out = readAll(damaged, rows);
      if (out.last == RecordReader::Result::kBad) {
        ExpectOneLineNaming(out.err, kName);
        int r = 0, a = 0;
        ASSERT_EQ(std::sscanf(out.err.c_str() + kName.size(), ": record %d, attribute %d:", &r, &a),
                  2);
        EXPECT_EQ(r, static_cast<int>(out.records.size()) + 1);
        EXPECT_TRUE(a >= 1 && a <= static_cast<int>(sizes.size())) << out.err;
        continue;
      }
      for (const std::vector<int>& record : out.records)
        for (std::size_t a = 0; a < sizes.size(); ++a)
          EXPECT_TRUE(record[a] >= 0 && record[a] < sizes[a]);
    }
  }
}

}  // namespace
}  // namespace kelbow
