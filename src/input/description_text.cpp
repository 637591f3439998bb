#include "input/description_text.h"

#include <charconv>
#include <cstring>

#include "common/error.h"
#include "common/message_text.h"

namespace kelbow {

namespace {

// Bytes pulled from the file at a time.
constexpr std::size_t kChunk = 1 << 14;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

class DescriptionText::Cursor : public ByteSource {
 public:
  explicit Cursor(DescriptionText& text) : text_(text) {}
  long read(char* buffer, std::size_t size) override {
    if (pos_ == text_.text_.size()) {
      const long n = text_.pull();
      if (n < 0) return fail(text_.failure_);
      if (n == 0) return 0;
    }
    const std::size_t n = std::min(size, text_.text_.size() - pos_);
    std::memcpy(buffer, text_.text_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }

 private:
  DescriptionText& text_;
  std::size_t pos_ = 0;
};

bool DescriptionText::open(const std::string& fileName) {
  fileName_ = fileName;
  text_.clear();
  ended_ = false;
  failure_.clear();
  file_ = openInput(fileName);
  return file_ != nullptr;
}

void DescriptionText::assign(const std::string& fileName, std::string_view text) {
  fileName_ = fileName;
  text_.clear();
  ended_ = false;
  failure_.clear();
  // Decoded like a file, so that a compressed description reads the same.
  file_ = decodingSource(std::make_unique<MemorySource>(text), fileName);
}

std::unique_ptr<ByteSource> DescriptionText::reader() { return std::make_unique<Cursor>(*this); }

long DescriptionText::pull() {
  if (ended_ || file_ == nullptr) return 0;
  if (!failure_.empty()) return -1;
  char chunk[kChunk];
  const long n = file_->read(chunk, kChunk);
  if (n > 0) text_.append(chunk, static_cast<std::size_t>(n));
  if (n < 0) failure_ = file_->failure();
  if (n == 0) ended_ = true;
  return n;
}

std::string DescriptionText::swappedFilesHint() const {
  // With an attribute count A in its second place, a description holds 2 + A
  // numbers; more than that, or without such an A more than two on the first
  // line, is what a data file looks like. Only the kept text is looked at.
  long long tokens = 0;
  long long firstLine = 0;
  long long wanted = -1;  // 2 + A, once the second token gives A
  bool onFirstLine = true;
  for (std::size_t i = 0; i < text_.size();) {
    if (isSpace(text_[i])) {
      if (text_[i] == '\n') onFirstLine = false;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text_.size() && !isSpace(text_[j])) ++j;
    ++tokens;
    if (onFirstLine) ++firstLine;
    if (tokens == 2) {
      int a = 0;
      const auto [end, ec] = std::from_chars(text_.data() + i, text_.data() + j, a);
      if (ec == std::errc() && end == text_.data() + j && a >= 1) wanted = 2LL + a;
    }
    const bool looksLikeData = wanted >= 0 ? tokens > wanted : firstLine > 2;
    if (looksLikeData) {
      return std::string(programName()) + ": " + shownName(fileName_) +
             " looks like a data file, not a description; are the -d and -n files swapped?\n";
    }
    if (tokens >= 2 && wanted < 0 && !onFirstLine) break;
    i = j;
  }
  return "";
}

}  // namespace kelbow
