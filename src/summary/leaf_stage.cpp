#include "summary/leaf_stage.h"

#include <algorithm>

#include "common/error.h"
#include "common/packed_codes.h"
#include "summary/cf_node.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {

// The smallest ring, whatever the width of a row.
constexpr std::size_t kFewestRows = 16;

}  // namespace

LeafStage::LeafStage(CFTree& tree)
    : tree_(tree),
      attributes_(tree.attributeCount),
      codeBytes_(packedCodeBytes(tree.domainSizes.data(), tree.attributeCount)),
      rowBytes_(static_cast<std::size_t>(std::max(1, attributes_)) * codeBytes_) {
  rows_ = kFewestRows;
  while (rows_ < kMostRows && 2 * rows_ * rowBytes_ <= kRingBytes) rows_ *= 2;
  batch_ = rows_ / 4;
  codes_.resize(rows_ * rowBytes_);
  nodes_.resize(rows_);
  slots_.resize(attributes_);
  row_.init(tree.valueCount, &tree);
  tree_.leafStage = this;
  thread_ = std::thread([this] { serve(); });
}

LeafStage::~LeafStage() {
  publishHead();
  stop();
  tree_.leafStage = nullptr;
}

void LeafStage::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_.store(true);
    stageWake_.notify_one();
  }
  thread_.join();
}

void LeafStage::finish() {
  publishHead();
  stop();
  if (failed_.load()) std::rethrow_exception(failure_);
}

void LeafStage::publishHead() {
  // Sequentially consistent, as the stage's going to sleep is: either it sees
  // these rows before it sleeps or this thread sees it asleep.
  head_.store(head_mine_);
  if (stageAsleep_.load() && head_mine_ - tail_.load() >= batch_) {
    std::lock_guard<std::mutex> lock(mutex_);
    stageWake_.notify_one();
  }
}

void LeafStage::push(CFNode* node, int id, const int* slots) {
  const std::size_t head = head_mine_;
  if (head - tail_seen_ == rows_) {
    tail_seen_ = tail_.load(std::memory_order_acquire);
    if (head - tail_seen_ == rows_) {
      // A full ring: let the stage see every row, then wait asleep until it
      // has freed a batch.
      publishHead();
      std::unique_lock<std::mutex> lock(mutex_);
      treeAsleep_.store(true);
      treeWake_.wait(lock, [&] { return failed_.load() || head - tail_.load() < rows_; });
      treeAsleep_.store(false);
      tail_seen_ = tail_.load();
    }
    if (failed_.load()) std::rethrow_exception(failure_);
  }
  const std::size_t at = head & (rows_ - 1);
  // The lines of a row a few ahead were last read on the stage's processor:
  // ask for them now, for writing, so that the stores of that row do not wait.
  if (head + kAhead - tail_seen_ < rows_) {
    const std::size_t ahead = (head + kAhead) & (rows_ - 1);
    __builtin_prefetch(codesOf(ahead), 1);
    __builtin_prefetch(codesOf(ahead) + rowBytes_ - 1, 1);
    __builtin_prefetch(&nodes_[ahead], 1);
  }
  if (head == 0) firstId_ = id;
  if (id != firstId_ + static_cast<long long>(head))
    fatal("LeafStage: the rows handed over are not numbered one after another\n");
  if (!packCodes(slots, tree_.slotOffsets.data(), attributes_, codeBytes_, codesOf(at)))
    fatal("LeafStage: a row's value slot lies outside its attribute\n");
  nodes_[at] = node;
  head_mine_ = head + 1;
  // The counters cross between the processors a stride of rows at a time.
  if (head_mine_ % kStride == 0) publishHead();
}

void LeafStage::insert(std::size_t row, std::size_t head) {
  const std::size_t at = row & (rows_ - 1);
  // Written on the tree's processor: the lines of a row a few ahead are asked
  // for now.
  if (row + kAhead < head) {
    const std::size_t ahead = (row + kAhead) & (rows_ - 1);
    __builtin_prefetch(codesOf(ahead));
    __builtin_prefetch(codesOf(ahead) + rowBytes_ - 1);
    __builtin_prefetch(&nodes_[ahead]);
  }
  unpackCodes(codesOf(at), tree_.slotOffsets.data(), attributes_, codeBytes_, slots_.data());
  // The row's data entry, as the tree's own insertion makes it.
  SummaryEntry& e = row_;
  e.becomeRow(slots_.data(), firstId_ + static_cast<int>(row));
  CFNode* node = nodes_[at];
  while (node->level > 0) node = node->passDown(e);
  CFNode* sibling = nullptr;
  if (node->insert(e, sibling) != DONE)
    fatal("LeafStage: a leaf of a full tree did not take a row whole\n");
}

void LeafStage::publishTail(std::size_t tail) {
  tail_.store(tail);
  // The tree's thread sleeps only on a full ring: wake it once a batch is free.
  if (treeAsleep_.load() && rows_ - (head_.load() - tail) >= batch_) {
    std::lock_guard<std::mutex> lock(mutex_);
    treeWake_.notify_one();
  }
}

void LeafStage::serve() {
  try {
    std::size_t tail = 0;
    for (;;) {
      std::size_t head = head_.load(std::memory_order_acquire);
      if (head == tail) {
        // Every row handed over is in: sleep until a batch waits or the rows end.
        std::unique_lock<std::mutex> lock(mutex_);
        stageAsleep_.store(true);
        stageWake_.wait(lock, [&] { return ending_.load() || head_.load() - tail >= batch_; });
        stageAsleep_.store(false);
        head = head_.load(std::memory_order_acquire);
        if (head == tail && ending_.load()) return;
        continue;
      }
      while (tail != head) {
        insert(tail, head);
        ++tail;
        if (tail % kStride == 0 || tail == head) publishTail(tail);
      }
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::current_exception();
    failed_.store(true);
    treeWake_.notify_one();
  }
}

}  // namespace kelbow
