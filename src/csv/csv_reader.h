// Reading delimited text record by record, for kelbow-csv. Quoted fields may
// hold delimiters, doubled quotes and line breaks; CRLF, LF and a lone CR end a
// line; a UTF-8 byte order mark at the start is passed over; empty lines are
// skipped. The reader streams: it holds one buffer and the record being read.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelbow {

// Where a field starts: 1-based physical line and byte column.
struct TextPosition {
  long line = 0;
  long column = 0;
};

class CsvReader {
 public:
  // Reads `in` (not owned; null for a reader over text given by useText).
  // `fileName` only names the input in messages.
  CsvReader(std::FILE* in, std::string fileName);

  // Reads the whole of `text` instead of a stream (for detection and tests).
  void useText(std::string_view text);

  // The first bytes of the input (up to kHeadBytes), without consuming them;
  // holds the whole input when it is shorter. Call before the first next().
  std::string_view head();
  // True when head() holds the whole input.
  bool headIsWhole() const { return eof_; }

  void setDelimiter(char d) { delimiter_ = d; }
  // Strips blanks (spaces, and tabs unless tab is the delimiter) around
  // unquoted fields and around the quotes of quoted ones.
  void setTrim(bool trim) { trim_ = trim; }
  char delimiter() const { return delimiter_; }
  // Keeps the bytes of each record as the input holds them, for a copy of the
  // file with a column added: after next(), recordBytes() holds the record
  // without its line end and lineEnd() the line end ("" at the end of the input).
  void keepRecordBytes(bool keep) { keep_ = keep; }
  std::string_view recordBytes() const { return std::string_view(raw_).substr(0, rawFields_); }
  std::string_view lineEnd() const { return std::string_view(raw_).substr(rawFields_); }
  // Whether the input started with a UTF-8 byte order mark (passed over).
  bool hadByteOrderMark() const { return byteOrderMark_; }
  // Hands every block read from the stream to `copy` as well (the caller keeps
  // a copy of an input it cannot read twice); an empty function stops that.
  void setCopy(std::function<void(std::string_view)> copy) { copy_ = std::move(copy); }

  enum class Result { kRecord, kEnd, kBad };

  // Reads the next record into `fields` and the start of each field into
  // `positions`. kBad, with err "FILE:LINE:COLUMN: what", on an unterminated
  // quote or a character after a closing quote; kBad also on a read error.
  Result next(std::vector<std::string>& fields, std::vector<TextPosition>& positions,
              std::string& err);

  // Line and column of the next byte to read (after a record: the start of the
  // line that follows it).
  TextPosition position() const { return {line_, column_}; }
  const std::string& fileName() const { return fileName_; }

  static constexpr size_t kHeadBytes = 1 << 16;

 private:
  int peek();
  void advance();
  bool fill();
  bool isBlank(int c) const { return c == ' ' || (c == '\t' && delimiter_ != '\t'); }
  std::string where(TextPosition p) const;

  std::FILE* in_;
  std::string fileName_;
  std::function<void(std::string_view)> copy_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
  bool started_ = false;
  bool readError_ = false;
  char delimiter_ = ',';
  bool trim_ = false;
  bool keep_ = false;
  bool byteOrderMark_ = false;
  std::string raw_;
  size_t rawFields_ = 0;
  long line_ = 1;
  long column_ = 1;
};

// What detectDelimiter decided and why, for the message on standard error.
struct DelimiterGuess {
  char delimiter = ',';
  bool consistent = false;  // every record of the head has the same field count
  size_t fields = 1;        // that field count (of the first record otherwise)
  size_t records = 0;       // complete records looked at
};

// Picks the delimiter among ',', ';' and TAB that splits every complete record
// of `head` into the same number (at least 2) of fields, the most fields
// winning and ',' then ';' then TAB breaking ties. Falls back to ','.
DelimiterGuess detectDelimiter(std::string_view head, bool whole, bool trim);

// A delimiter named on a command line: one byte, or "tab" (also "TAB", "\\t");
// never a quote or a line end.
bool parseDelimiter(std::string_view text, char& d);

// One field of a record to write: as it is, or between double quotes (inner
// quotes doubled) when it holds the delimiter, a quote or a line end.
std::string csvField(std::string_view field, char delimiter);
// The same field appended to `out`.
void appendCsvField(std::string& out, std::string_view field, char delimiter);

// The printable name of a delimiter for messages: ',' ';' "tab" or the byte.
std::string delimiterName(char d);

}  // namespace kelbow
