// The priority queue of the merge loop: an array-based min-heap of pointers to
// merge candidates, ordered by cost. Each record knows its own slot (`flag`),
// so a candidate can be taken out of the middle without a search.
#pragma once

#include <vector>

namespace kelbow {

// A candidate merge of clusters `row` and `col`.
struct MergePair {
  int row;
  int col;
  int flag;           // slot in the heap (1..count), -1 when not in it
  float dwe = -1.0f;  // cost: increase of the summed entropy value
};

class MergeHeap {
 public:
  explicit MergeHeap(int capacity)
      : slots_(static_cast<std::size_t>(capacity) + 1), capacity_(capacity) {}
  virtual ~MergeHeap() = default;

  // Adds r and sets its flag. The caller never inserts more than capacity records.
  void insert(MergePair* r);
  // Removes and returns the cheapest record (flag -1); null, with a message, when empty.
  MergePair* extractMin();
  // Removes the record in slot s (flag -1); a message and no change when s is not in 1..count.
  void removeAt(int s);
  // The cheapest record, or null with a message when empty.
  MergePair* peekMin() const;

  // Slot-order iteration: resetCursor, then nextRecord until null.
  void resetCursor() { cursor_ = 0; }
  MergePair* nextRecord();

  // Prints every slot to standard output.
  void dump() const;

  int size() const { return count_; }
  int capacity() const { return capacity_; }

 private:
  float cost(int s) const { return slots_[s]->dwe; }
  void place(int s, MergePair* r);
  void siftUp(int s, MergePair* r);
  void siftDown(int s);

  std::vector<MergePair*> slots_;  // slot 0 unused
  int capacity_;
  int count_ = 0;
  int cursor_ = 0;
};

}  // namespace kelbow
