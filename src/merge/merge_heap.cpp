#include "merge/merge_heap.h"

#include <cstdio>

namespace kelbow {

// Every write of a record into a slot goes through here, so flag is always current.
void MergeHeap::place(int s, MergePair* r) {
  slots_[s] = r;
  r->flag = s;
}

// Moves the hole at s up while its parent is strictly dearer than r, then puts r
// there: a record as cheap as its parent stays below it.
void MergeHeap::siftUp(int s, MergePair* r) {
  while (s > 1 && cost(s / 2) > r->dwe) {
    place(s, slots_[s / 2]);
    s /= 2;
  }
  place(s, r);
}

// A child replaces its parent only when strictly cheaper; of two equally cheap
// children the left one is taken.
void MergeHeap::siftDown(int s) {
  for (;;) {
    int best = s;
    if (2 * s <= count_ && cost(2 * s) < cost(best)) best = 2 * s;
    if (2 * s + 1 <= count_ && cost(2 * s + 1) < cost(best)) best = 2 * s + 1;
    if (best == s) return;
    MergePair* moved = slots_[s];
    place(s, slots_[best]);
    place(best, moved);
    s = best;
  }
}

void MergeHeap::insert(MergePair* r) {
  ++count_;
  siftUp(count_, r);
}

MergePair* MergeHeap::extractMin() {
  if (count_ < 1) {
    std::printf("heap underflow\n");
    return nullptr;
  }
  MergePair* top = slots_[1];
  place(1, slots_[count_]);
  --count_;
  siftDown(1);
  top->flag = -1;
  return top;
}

void MergeHeap::removeAt(int s) {
  if (s < 1 || s > count_) {
    std::printf("out of heap or index error\n");
    return;
  }
  slots_[s]->flag = -1;
  if (s == count_) {
    --count_;
    return;
  }
  MergePair* moved = slots_[count_];
  place(s, moved);
  --count_;
  if (s > 1 && moved->dwe < cost(s / 2))
    siftUp(s, moved);
  else
    siftDown(s);
}

MergePair* MergeHeap::peekMin() const {
  if (count_ < 1) {
    std::printf("heap empty\n");
    return nullptr;
  }
  return slots_[1];
}

MergePair* MergeHeap::nextRecord() {
  ++cursor_;
  return cursor_ > count_ ? nullptr : slots_[cursor_];
}

void MergeHeap::dump() const {
  for (int s = 1; s <= count_; ++s) {
    const MergePair* r = slots_[s];
    std::printf("%d row=%d col= %d dwe=%f  flag=%d\n", s, r->row, r->col,
                static_cast<double>(r->dwe), r->flag);
  }
}

}  // namespace kelbow
