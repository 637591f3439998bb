#include "input/read_ahead_rows.h"

#include <algorithm>

#include "common/error.h"
#include "common/packed_codes.h"

namespace kelbow {

namespace {
// How far ahead of the row being read its block is fetched, in bytes.
constexpr std::size_t kPrefetchBytes = 1024;
}  // namespace

ReadAheadRows::ReadAheadRows(RowSource& source, int width, const int* domainSizes)
    : source_(source),
      row_(std::max(width, 0)),
      width_(width),
      codeBytes_(packedCodeBytes(domainSizes, width)),
      blockRows_(std::clamp(kBlockCodes / std::max(width, 1), 1, kBlockRows)),
      fileName_(source.fileName()),
      ring_(kBlocks) {
  for (Block& b : ring_) b.codes.resize(static_cast<std::size_t>(blockRows_) * width_ * codeBytes_);
  helper_ = std::thread([this] { readBlocks(); });
}

ReadAheadRows::~ReadAheadRows() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void ReadAheadRows::readBlocks() {
  for (long long b = 0;; ++b) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // A full ring is refilled once half of it is free, not block by block:
      // each wake-up costs the two threads a switch.
      if (b - taken_ >= kBlocks)
        changed_.wait(lock, [&] { return stopping_ || b - taken_ <= kBlocks / 2; });
      if (stopping_) return;
    }
    // The block is the helper's until it is handed over.
    Block& block = ring_[b % kBlocks];
    block.rows = 0;
    block.last = Result::kRecord;
    try {
      while (block.rows < blockRows_) {
        const Result r = readInto(block);
        if (r != Result::kRecord) {
          block.last = r;
          break;
        }
        ++block.rows;
      }
    } catch (...) {
      block.thrown = std::current_exception();
      block.last = Result::kBad;
    }
    const bool last = block.last != Result::kRecord;
    bool failed = false;
    std::string line;
    if (last && !block.thrown) {
      failed = source_.failed();
      if (failed) line = source_.failureLine();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (last) {
        sourceFailed_ = failed;
        failureLine_ = std::move(line);
      }
      filled_ = b + 1;
    }
    changed_.notify_all();
    if (last) return;
  }
}

RowSource::Result ReadAheadRows::readInto(Block& block) {
  const Result r = source_.read(row_.data(), block.err);
  if (r != Result::kRecord) return r;
  const std::size_t at = static_cast<std::size_t>(block.rows) * width_ * codeBytes_;
  if (!packCodes(row_.data(), nullptr, width_, codeBytes_, block.codes.data() + at))
    fatal("ReadAheadRows: a row source gave a code outside its attribute's domain\n");
  return r;
}

void ReadAheadRows::nextRow() {
  for (;;) {
    if (block_ != nullptr && (next_ < block_->rows || block_->last != Result::kRecord)) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (block_ != nullptr) {
      // Every row of this block is taken: give it back.
      block_ = nullptr;
      ++taken_;
      if (filled_ - taken_ <= kBlocks / 2) changed_.notify_all();
    }
    changed_.wait(lock, [&] { return filled_ > taken_; });
    block_ = &ring_[taken_ % kBlocks];
    next_ = 0;
  }
}

RowSource::Result ReadAheadRows::read(int* codes, std::string& err) {
  nextRow();
  if (next_ < block_->rows) {
    const std::size_t at = static_cast<std::size_t>(next_++) * width_ * codeBytes_;
    const unsigned char* row = block_->codes.data() + at;
    // The block was written on the reader's core: ask for the rows a few
    // ahead now, so that their cache lines are on their way when needed.
    if (at + kPrefetchBytes < block_->codes.size()) __builtin_prefetch(row + kPrefetchBytes);
    unpackCodes(row, nullptr, width_, codeBytes_, codes);
    return Result::kRecord;
  }
  if (block_->thrown) std::rethrow_exception(block_->thrown);
  if (block_->last == Result::kBad) err = block_->err;
  return block_->last;
}

bool ReadAheadRows::atEnd() {
  nextRow();
  return next_ >= block_->rows;
}

}  // namespace kelbow
