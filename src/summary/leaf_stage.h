// The lower half of a full summary tree's insertions, on a thread of its own.
// Once the tree is full its shape is frozen: a row goes down from the root,
// adds itself at every node to the entry it chooses there, and the leaf it
// reaches takes it whole. What the root chooses never depends on what happens
// below it, so the tree's thread weighs every row at the root and hands (row,
// node chosen) to this stage, which takes the rows down the rest of the tree
// in the same order as the tree's thread would have: every entry ends with the
// same counts and values, bit for bit.
//
// Nothing flows back, so the hand-over is a ring that the stage empties in
// bursts: it sleeps until a quarter of the ring is waiting (or the rows end),
// the tree's thread sleeps only on a full ring, and each side publishes its
// count of rows a stride at a time, so that the counters cross between the
// processors seldom.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "summary/summary_entry.h"

namespace kelbow {

class CFNode;
class CFTree;

class LeafStage {
 public:
  explicit LeafStage(CFTree& tree);
  ~LeafStage();
  LeafStage(const LeafStage&) = delete;
  LeafStage& operator=(const LeafStage&) = delete;

  // Hands over row `id` (its value slot of every attribute), to go down from
  // `node`; waits while the ring is full. The rows handed over are numbered
  // one after another (a broken invariant ends the process otherwise). Throws
  // what the stage's thread threw, if it did.
  void push(CFNode* node, int id, const int* slots);
  // Returns once every row handed over is in its leaf; throws what the stage's
  // thread threw, if it did. The tree may then be read. (The destructor does
  // the same without throwing.)
  void finish();

  // Rows a ring holds, and the bytes of packed codes it holds at most.
  static constexpr std::size_t kMostRows = 8192;
  static constexpr std::size_t kRingBytes = 1 << 20;

 private:
  // Rows between two publications of either counter.
  static constexpr std::size_t kStride = 32;
  // How many rows ahead each side asks for the ring's lines.
  static constexpr std::size_t kAhead = 8;

  void serve();
  void publishHead();
  void publishTail(std::size_t tail);
  // Takes the row handed over as number `row` (from 0) down to its leaf;
  // `head` rows have been handed over.
  void insert(std::size_t row, std::size_t head);
  void stop();
  // The packed codes of ring row `at`.
  unsigned char* codesOf(std::size_t at) { return codes_.data() + at * rowBytes_; }

  CFTree& tree_;
  const int attributes_;
  const int codeBytes_;         // bytes of a code in the ring
  const std::size_t rowBytes_;  // bytes of a row in the ring (at least 1)
  std::size_t rows_;            // ring size in rows, a power of two
  std::size_t batch_;           // rows waiting that wake the stage
  // Every row of the ring: its codes (slot less the attribute's first slot),
  // packed, and the node it goes down from.
  std::vector<unsigned char> codes_;
  std::vector<CFNode*> nodes_;
  int firstId_ = 0;         // the id of the first row handed over
  std::vector<int> slots_;  // the stage's row, unpacked
  SummaryEntry row_;        // the entry of the row being inserted

  // The tree's thread's side: rows handed over, and the rows inserted as it last saw them.
  alignas(64) std::size_t head_mine_ = 0;
  std::size_t tail_seen_ = 0;
  alignas(64) std::atomic<std::size_t> head_{0};  // rows handed over, as published
  alignas(64) std::atomic<std::size_t> tail_{0};  // rows inserted, as published
  alignas(64) std::atomic<bool> stageAsleep_{false};
  std::atomic<bool> treeAsleep_{false};
  std::atomic<bool> ending_{false};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::condition_variable stageWake_;
  std::condition_variable treeWake_;
  std::exception_ptr failure_;  // set before failed_
  std::thread thread_;
};

}  // namespace kelbow
