#include "csv/csv_reader.h"

#include <cerrno>
#include <cstring>

namespace kelbow {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr int kEnd = -1;

}  // namespace

CsvReader::CsvReader(std::FILE* in, std::string fileName)
    : in_(in), fileName_(std::move(fileName)), buffer_(kHeadBytes) {}

void CsvReader::useText(std::string_view text) {
  in_ = nullptr;
  buffer_.assign(text.begin(), text.end());
  pos_ = 0;
  len_ = buffer_.size();
  eof_ = true;
}

bool CsvReader::fill() {
  if (eof_ || in_ == nullptr) {
    eof_ = true;
    return false;
  }
  // The first fill reads a whole head (fread keeps reading a pipe until the
  // buffer is full or the input ends); later fills replace the consumed buffer.
  if (pos_ == len_) pos_ = len_ = 0;
  const size_t want = buffer_.size() - len_;
  const size_t got = std::fread(buffer_.data() + len_, 1, want, in_);
  len_ += got;
  if (copy_ && got > 0) copy_({buffer_.data() + len_ - got, got});
  if (got < want) {
    eof_ = true;
    if (std::ferror(in_)) readError_ = true;
  }
  return got > 0;
}

std::string_view CsvReader::head() {
  if (!started_ && len_ == 0 && !eof_) fill();
  return {buffer_.data(), len_};
}

int CsvReader::peek() {
  if (!started_) {
    started_ = true;
    if (len_ == 0) fill();
    if (std::string_view(buffer_.data(), len_).starts_with(kByteOrderMark)) {
      pos_ = kByteOrderMark.size();
      byteOrderMark_ = true;
    }
  }
  if (pos_ == len_ && !fill()) return kEnd;
  return static_cast<unsigned char>(buffer_[pos_]);
}

void CsvReader::advance() {
  const char c = buffer_[pos_++];
  if (keep_) raw_.push_back(c);
  if (c == '\n') {
    ++line_;
    column_ = 1;
  } else if (c == '\r') {
    // CRLF counts as one line end; a lone CR ends a line too.
    if (peek() != '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
  } else {
    ++column_;
  }
}

std::string CsvReader::where(TextPosition p) const {
  return fileName_ + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
}

CsvReader::Result CsvReader::next(std::vector<std::string>& fields,
                                  std::vector<TextPosition>& positions, std::string& err) {
  fields.clear();
  positions.clear();
  // Empty lines hold no record.
  for (int c = peek(); c == '\n' || c == '\r'; c = peek()) advance();
  raw_.clear();
  rawFields_ = 0;
  if (peek() == kEnd) {
    if (readError_) {
      err = fileName_ + ": read error (" + std::strerror(errno) + ")";
      return Result::kBad;
    }
    return Result::kEnd;
  }
  for (;;) {
    if (trim_)
      while (isBlank(peek())) advance();
    positions.push_back(position());
    std::string& field = fields.emplace_back();
    int c = peek();
    if (c == '"') {
      const TextPosition open = position();
      advance();
      for (;;) {
        c = peek();
        if (c == kEnd) {
          err = where(open) + "the quoted field " + std::to_string(fields.size()) +
                " is not closed before the end of the file";
          return Result::kBad;
        }
        advance();
        if (c == '"') {
          if (peek() != '"') break;  // the closing quote
          advance();                 // a doubled quote stands for one
        }
        field.push_back(static_cast<char>(c));
      }
      if (trim_)
        while (isBlank(peek())) advance();
      c = peek();
      if (c != delimiter_ && c != '\n' && c != '\r' && c != kEnd) {
        err = where(position()) + "unexpected character after the closing quote of field " +
              std::to_string(fields.size()) + " (a quote inside a quoted field is written twice)";
        return Result::kBad;
      }
    } else {
      // A quote inside an unquoted field is an ordinary character.
      while (c != delimiter_ && c != '\n' && c != '\r' && c != kEnd) {
        field.push_back(static_cast<char>(c));
        advance();
        c = peek();
      }
      if (trim_)
        while (!field.empty() && isBlank(static_cast<unsigned char>(field.back())))
          field.pop_back();
    }
    if (c == delimiter_) {
      advance();
      continue;
    }
    rawFields_ = raw_.size();
    if (c != kEnd) advance();  // the line end (CRLF: the CR; the LF follows)
    if (c == '\r' && peek() == '\n') advance();
    break;
  }
  if (readError_) {
    err = fileName_ + ": read error (" + std::strerror(errno) + ")";
    return Result::kBad;
  }
  return Result::kRecord;
}

DelimiterGuess detectDelimiter(std::string_view head, bool whole, bool trim) {
  constexpr size_t kRecordsLooked = 50;
  DelimiterGuess best;
  bool haveFirst = false;
  for (char d : {',', ';', '\t'}) {
    CsvReader reader(nullptr, "");
    reader.useText(head);
    reader.setDelimiter(d);
    reader.setTrim(trim);
    std::vector<std::string> fields;
    std::vector<TextPosition> positions;
    std::string err;
    std::vector<size_t> counts;
    while (counts.size() < kRecordsLooked &&
           reader.next(fields, positions, err) == CsvReader::Result::kRecord) {
      counts.push_back(fields.size());
    }
    // The last record of a cut head may itself be cut.
    if (!whole && counts.size() > 1 && counts.size() < kRecordsLooked) counts.pop_back();
    if (counts.empty()) continue;
    bool same = true;
    for (size_t n : counts) same = same && n == counts[0];
    if (!haveFirst) {
      best = {d, false, counts[0], counts.size()};
      haveFirst = true;
    }
    if (same && counts[0] >= 2 && (!best.consistent || counts[0] > best.fields))
      best = {d, true, counts[0], counts.size()};
  }
  if (!best.consistent) best.delimiter = ',';
  return best;
}

std::string delimiterName(char d) {
  if (d == '\t') return "tab";
  return std::string("'") + d + "'";
}

bool parseDelimiter(std::string_view text, char& d) {
  if (text == "tab" || text == "\\t" || text == "TAB") {
    d = '\t';
  } else if (text.size() == 1) {
    d = text[0];
  } else {
    return false;
  }
  return d != '"' && d != '\n' && d != '\r';
}

std::string csvField(std::string_view field, char delimiter) {
  std::string out;
  appendCsvField(out, field, delimiter);
  return out;
}

void appendCsvField(std::string& out, std::string_view field, char delimiter) {
  bool quote = false;
  for (char c : field) quote = quote || c == delimiter || c == '"' || c == '\n' || c == '\r';
  if (!quote) {
    out.append(field);
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace kelbow
