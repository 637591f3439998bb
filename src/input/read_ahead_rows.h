// A row source read ahead on a helper thread: the helper reads (and so parses
// and decompresses) another source's rows into a ring of a few blocks, which
// the caller's thread takes in order. The large-table loader reads through it
// when its run has more than one thread; the rows, their order, the point at
// which a bad row is refused and its message are those of the source itself.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "input/table_reader.h"

namespace kelbow {

class ReadAheadRows final : public RowSource {
 public:
  // Starts reading `source`, rows of `width` codes, code a below
  // domainSizes[a] (the ring keeps every code in as few bytes as the largest
  // domain needs; a code that does not fit ends the process as a broken
  // invariant, the source having checked them); `source` must outlive this
  // object and is used by the helper alone until this object is destroyed.
  ReadAheadRows(RowSource& source, int width, const int* domainSizes);
  // Stops the helper after the block it is reading and waits for it.
  ~ReadAheadRows() override;
  ReadAheadRows(const ReadAheadRows&) = delete;
  ReadAheadRows& operator=(const ReadAheadRows&) = delete;

  // The source's next row, or its end, or its refusal with the source's line.
  // An exception the source threw (out of memory) is thrown here, in its place.
  Result read(int* codes, std::string& err) override;
  bool atEnd() override;
  // The source's failure, known once its end or refusal has been read.
  bool failed() const override { return sourceFailed_; }
  std::string failureLine() const override { return failureLine_; }
  const std::string& fileName() const override { return fileName_; }

  // Rows of one block (fewer for wide rows, so that a block holds at most
  // kBlockCodes codes), and blocks of the ring.
  static constexpr int kBlockRows = 1024;
  static constexpr int kBlockCodes = 1 << 16;
  static constexpr int kBlocks = 8;
  int blockRows() const { return blockRows_; }

 private:
  struct Block {
    std::vector<unsigned char> codes;  // blockRows_ rows of width codes, codeBytes_ each
    int rows = 0;
    Result last = Result::kRecord;  // kRecord: more blocks follow
    std::string err;
    std::exception_ptr thrown;
  };

  void readBlocks();
  // Reads the block's next row from the source into row_ and packs it.
  Result readInto(Block& block);
  // Makes block_ a block that holds a row not yet taken or the source's last word.
  void nextRow();

  RowSource& source_;
  std::vector<int> row_;  // the helper's row as the source gives it
  const int width_;
  const int codeBytes_;
  const int blockRows_;
  const std::string fileName_;
  std::vector<Block> ring_;
  std::mutex mutex_;
  std::condition_variable changed_;
  long long filled_ = 0;  // blocks the helper has handed over
  long long taken_ = 0;   // blocks the caller has given back
  bool stopping_ = false;
  Block* block_ = nullptr;  // the caller's current block
  int next_ = 0;            // its next row
  bool sourceFailed_ = false;
  std::string failureLine_;
  std::thread helper_;
};

}  // namespace kelbow
