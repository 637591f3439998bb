#include "merge/merge_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kelbow {
namespace {

class MergeHeapTest : public testing::Test {
 protected:
  static constexpr int kRecords = 48;

  MergeHeapTest() : heap(kRecords), records(kRecords) {
    for (int i = 0; i < kRecords; ++i) records[i] = MergePair{i, i + 100, -1, 0.0f};
  }

  MergePair* insert(int i, float cost) {
    records[i].dwe = cost;
    heap.insert(&records[i]);
    return &records[i];
  }

  // The heap's slots in order, read through the slot-order iteration.
  std::vector<MergePair*> slots() {
    std::vector<MergePair*> out;
    heap.resetCursor();
    while (MergePair* r = heap.nextRecord()) out.push_back(r);
    return out;
  }
  std::vector<int> slotRows() {
    std::vector<int> out;
    for (const MergePair* r : slots()) out.push_back(r->row);
    return out;
  }

  // Heap order, flag == slot inside, flag == -1 outside, and exactly `inside` held.
  void ExpectConsistent(const std::set<MergePair*>& inside) {
    const std::vector<MergePair*> s = slots();
    ASSERT_EQ(static_cast<int>(s.size()), heap.size());
    EXPECT_EQ(std::set<MergePair*>(s.begin(), s.end()), inside);
    for (int slot = 1; slot <= heap.size(); ++slot) {
      EXPECT_EQ(s[slot - 1]->flag, slot);
      if (slot > 1) {
        EXPECT_LE(s[slot / 2 - 1]->dwe, s[slot - 1]->dwe) << "slot " << slot;
      }
    }
    for (MergePair& r : records) {
      if (inside.count(&r) == 0) {
        EXPECT_EQ(r.flag, -1) << "record " << r.row;
      }
    }
  }

  MergeHeap heap;
  std::vector<MergePair> records;
};

TEST(MergePairTest, DefaultCostIsMinusOne) { EXPECT_EQ(MergePair{}.dwe, -1.0f); }

TEST_F(MergeHeapTest, RandomOperationsKeepOrderAndSlotsAgainstAReference) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::set<MergePair*> inside;
    for (MergePair& r : records) r.flag = -1;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(random() % 3);
      if (op == 0 && static_cast<int>(inside.size()) < kRecords) {
        std::vector<int> outside;
        for (int i = 0; i < kRecords; ++i)
          if (!inside.count(&records[i])) outside.push_back(i);
        // Few distinct costs, so that ties are frequent.
        inside.insert(insert(outside[random() % outside.size()], static_cast<float>(random() % 6)));
      } else if (op == 1 && !inside.empty()) {
        float cheapest = 1e30f;
        for (const MergePair* r : inside) cheapest = std::min(cheapest, r->dwe);
        MergePair* top = heap.extractMin();
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->dwe, cheapest);
        ASSERT_EQ(inside.erase(top), 1u);
      } else if (op == 2 && !inside.empty()) {
        MergePair* victim = *std::next(inside.begin(), random() % inside.size());
        heap.removeAt(victim->flag);
        inside.erase(victim);
      }
      ExpectConsistent(inside);
      if (HasFailure()) return;  // one broken step is enough to read
    }
    while (heap.size() > 0) heap.extractMin();
  }
}

TEST_F(MergeHeapTest, ExtractFromAnEmptyHeapReportsUnderflow) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(heap.extractMin(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "heap underflow\n");
  EXPECT_EQ(heap.size(), 0);
}

TEST_F(MergeHeapTest, PeekAtAnEmptyHeapReportsEmpty) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(heap.peekMin(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "heap empty\n");
}

TEST_F(MergeHeapTest, RemoveOutsideTheHeapReportsAndChangesNothing) {
  for (int i = 0; i < 3; ++i) insert(i, static_cast<float>(3 - i));
  const std::vector<int> before = slotRows();
  for (int slot : {0, -1, 4}) {
    testing::internal::CaptureStdout();
    heap.removeAt(slot);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "out of heap or index error\n")
        << "slot " << slot;
  }
  EXPECT_EQ(slotRows(), before);
  ExpectConsistent({&records[0], &records[1], &records[2]});
}

TEST_F(MergeHeapTest, RemovingTheLastSlotOnlyShrinks) {
  for (int i = 0; i < 5; ++i) insert(i, static_cast<float>(i));
  heap.removeAt(5);
  EXPECT_EQ(slotRows(), (std::vector<int>{0, 1, 2, 3}));
  ExpectConsistent({&records[0], &records[1], &records[2], &records[3]});
}

// Costs 1, 10, 2, 11, 12, 3, 4 inserted in this order stay in this slot order.
class MergeHeapRemovalTest : public MergeHeapTest {
 protected:
  void SetUp() override {
    const float costs[] = {1, 10, 2, 11, 12, 3, 4};
    for (int i = 0; i < 7; ++i) insert(i, costs[i]);
    ASSERT_EQ(slotRows(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  }
};

TEST_F(MergeHeapRemovalTest, MovedRecordRisesWhenCheaperThanItsParent) {
  heap.removeAt(4);  // cost 11; the last record (4) lands under the 10 and rises above it
  EXPECT_EQ(slotRows(), (std::vector<int>{0, 6, 2, 1, 4, 5}));
  ExpectConsistent({&records[0], &records[1], &records[2], &records[4], &records[5], &records[6]});
}

TEST_F(MergeHeapRemovalTest, MovedRecordSinksWhenDearerThanAChild) {
  heap.removeAt(3);  // cost 2; the last record (4) lands above the 3 and sinks below it
  EXPECT_EQ(slotRows(), (std::vector<int>{0, 1, 5, 3, 4, 6}));
  ExpectConsistent({&records[0], &records[1], &records[3], &records[4], &records[5], &records[6]});
}

TEST_F(MergeHeapTest, EqualCostDoesNotRiseAboveTheTop) {
  MergePair* first = insert(0, 1.0f);
  MergePair* second = insert(1, 1.0f);
  EXPECT_EQ(heap.peekMin(), first);
  EXPECT_EQ(first->flag, 1);
  EXPECT_EQ(second->flag, 2);
}

TEST_F(MergeHeapTest, OfTwoEqualRecordsTheFirstInsertedComesOut) {
  MergePair* first = insert(7, 2.5f);
  MergePair* second = insert(3, 2.5f);
  EXPECT_EQ(heap.extractMin(), first);
  EXPECT_EQ(heap.extractMin(), second);
}

TEST_F(MergeHeapTest, SiftDownTakesTheLeftOfTwoEqualChildren) {
  insert(0, 0.0f);
  insert(1, 1.0f);
  insert(2, 1.0f);
  insert(3, 5.0f);
  EXPECT_EQ(heap.extractMin(), &records[0]);
  // The 5 moved to the top and gave way to the left child.
  EXPECT_EQ(slotRows(), (std::vector<int>{1, 3, 2}));
  EXPECT_EQ(heap.extractMin(), &records[1]);
}

TEST_F(MergeHeapTest, DumpPrintsEverySlotInItsFixedFormat) {
  records[0] = MergePair{3, 7, -1, 0.5f};
  records[1] = MergePair{1, 2, -1, 1.25f};
  heap.insert(&records[1]);
  heap.insert(&records[0]);
  testing::internal::CaptureStdout();
  heap.dump();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "1 row=3 col= 7 dwe=0.500000  flag=1\n"
            "2 row=1 col= 2 dwe=1.250000  flag=2\n");
}

}  // namespace
}  // namespace kelbow
