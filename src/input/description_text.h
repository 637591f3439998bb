// The description file of a run, opened once and read only as far as its
// readers ask. Every reader starts at the first byte of the same kept text, so
// the run driver, the direct loader and the summary tree each parse the
// description where they need it, even when it comes through a pipe.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "input/byte_source.h"

namespace kelbow {

class DescriptionText {
 public:
  // Opens the file (decoded like a data file); false when it cannot be opened,
  // with errno telling why.
  bool open(const std::string& fileName);
  // A description given as text, as if read from a file of that name.
  void assign(const std::string& fileName, std::string_view text);

  bool isOpen() const { return file_ != nullptr; }
  const std::string& fileName() const { return fileName_; }

  // A source over the description from its first byte. This object must
  // outlive it and stay where it is while it is in use.
  std::unique_ptr<ByteSource> reader();

  // A line to add to a refusal of the description when it looks like a data
  // file, the -d and -n files swapped: it holds more numbers than its own
  // attribute count calls for, or, without a valid attribute count, its first
  // line holds more than two. Empty otherwise. Looks only at the text read so far.
  std::string swappedFilesHint() const;

 private:
  class Cursor;
  // Appends the next chunk of the file to text_; the bytes added, 0 at the end,
  // -1 on a failure (failure_ then says how).
  long pull();

  std::string fileName_;
  std::unique_ptr<ByteSource> file_;
  std::string text_;  // every byte read so far
  bool ended_ = false;
  std::string failure_;
};

}  // namespace kelbow
