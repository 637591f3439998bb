#include "summary/lin_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelbow {
namespace {

std::unique_ptr<EntryRecord> record(int id, int n = 1, std::vector<int> counts = {}) {
  auto r = std::make_unique<EntryRecord>();
  r->id = id;
  r->n = n;
  r->valueCount = static_cast<int>(counts.size());
  r->counts = std::move(counts);
  return r;
}

// Ids from head to tail, read through the links (not the cursor).
std::vector<int> ids(const LinList& list) {
  std::vector<int> out;
  for (const LinListElement* e = list.firstElement; e != nullptr; e = e->next)
    out.push_back(e->data->id);
  return out;
}

// A list holding ids 0, 1, ..., size - 1 from head to tail.
void fill(LinList& list, int size) {
  for (int id = size - 1; id >= 0; --id) list.insert(record(id));
}

std::string checkMessages(const LinList& list) {
  ::testing::internal::CaptureStderr();
  list.check();
  return ::testing::internal::GetCapturedStderr();
}

TEST(LinList, WorksAsAStackThroughTheHead) {
  LinList list;
  EXPECT_EQ(list.first(), nullptr);
  for (int id : {1, 2, 3}) list.insert(record(id));
  EXPECT_EQ(list.anz, 3);
  EXPECT_EQ(list.first()->id, 3);
  EXPECT_EQ(list.next()->id, 2);
  EXPECT_EQ(list.next()->id, 1);
  EXPECT_EQ(list.cursorIndex, 2);
  EXPECT_EQ(list.next(), nullptr);
  EXPECT_EQ(list.cursorIndex, -1);
  EXPECT_EQ(list.last()->id, 1);
  EXPECT_EQ(list.cursorIndex, 2);
  EXPECT_EQ(list.prev()->id, 2);
  EXPECT_EQ(list.cursorIndex, 1);

  // Taking from the head and erasing empties the list in reverse order of insertion.
  std::vector<int> taken;
  while (list.anz > 0) {
    taken.push_back(list.first()->id);
    ASSERT_TRUE(list.erase());
  }
  EXPECT_EQ(taken, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(list.firstElement, nullptr);
  EXPECT_EQ(list.lastElement, nullptr);
}

TEST(LinList, EraseMovesTheCursorByPosition) {
  LinList head;
  fill(head, 3);
  head.first();
  ASSERT_TRUE(head.erase());
  EXPECT_EQ(head.cursor, head.firstElement);
  EXPECT_EQ(head.cursorIndex, 0);
  EXPECT_EQ(ids(head), (std::vector<int>{1, 2}));

  LinList middle;
  fill(middle, 3);
  middle.get(1);
  ASSERT_TRUE(middle.erase());
  EXPECT_EQ(middle.cursor->data->id, 2);
  EXPECT_EQ(middle.cursorIndex, 1);
  EXPECT_EQ(ids(middle), (std::vector<int>{0, 2}));
  EXPECT_EQ(middle.firstElement->next->prev, middle.firstElement);

  LinList tail;
  fill(tail, 3);
  tail.last();
  ASSERT_TRUE(tail.erase());
  EXPECT_EQ(tail.cursor, nullptr);
  EXPECT_EQ(tail.cursorIndex, -1);
  EXPECT_EQ(tail.lastElement->data->id, 1);
  EXPECT_EQ(tail.lastElement->next, nullptr);
  EXPECT_EQ(tail.anz, 2);

  LinList single;
  fill(single, 1);
  single.first();
  ASSERT_TRUE(single.erase());
  EXPECT_EQ(single.anz, 0);
  EXPECT_EQ(single.firstElement, nullptr);
  EXPECT_EQ(single.lastElement, nullptr);
  EXPECT_EQ(checkMessages(single), "");
}

TEST(LinList, EraseWithoutCursorChangesNothing) {
  LinList list;
  EXPECT_FALSE(list.erase());
  fill(list, 2);
  list.first();
  list.insert(record(9));  // insert clears the cursor
  EXPECT_FALSE(list.erase());
  EXPECT_EQ(ids(list), (std::vector<int>{9, 0, 1}));
  EXPECT_EQ(list.anz, 3);
}

TEST(LinList, GetReturnsNullOutsideTheList) {
  LinList list;
  EXPECT_EQ(list.get(0), nullptr);
  fill(list, 3);
  list.get(1);
  EXPECT_EQ(list.get(3), nullptr);
  EXPECT_EQ(list.cursorIndex, 1);  // the cursor stays where it was
  EXPECT_EQ(list.get(2)->id, 2);
  EXPECT_EQ(list.get(0)->id, 0);
  EXPECT_EQ(list.cursorIndex, 0);
}

// The walk direction is observed by cutting the chain on the side that must
// not be walked: get still succeeds when it starts from the right end.
TEST(LinList, GetWalksFromTheNearestStart) {
  {
    // No cursor, five elements: 2 is not below 5 / 2, so the walk starts at the tail.
    LinList list;
    fill(list, 5);
    LinListElement* second = list.firstElement->next;
    list.firstElement->next = nullptr;
    EXPECT_EQ(list.get(2)->id, 2);
    EXPECT_EQ(list.cursorIndex, 2);
    list.firstElement->next = second;
  }
  {
    // Cursor at 1 of six, target 3: equal distances (2 and 2) walk from the cursor.
    LinList list;
    fill(list, 6);
    list.get(1);
    LinListElement* fifth = list.lastElement->prev;
    list.lastElement->prev = nullptr;
    EXPECT_EQ(list.get(3)->id, 3);
    list.lastElement->prev = fifth;
  }
}

TEST(LinListDeathTest, GetOnABrokenChainEndsTheProcess) {
  LinList list;
  fill(list, 5);
  list.lastElement->prev->prev = nullptr;  // the walk from the tail to 2 falls off
  EXPECT_EXIT(list.get(2), ::testing::ExitedWithCode(1),
              "^LinList::get: List seems to be inkonsistent$");
  list.lastElement->prev->prev = list.firstElement->next->next;
}

TEST(LinList, CheckIsSilentOnConsistentLists) {
  LinList list;
  EXPECT_EQ(checkMessages(list), "");
  fill(list, 4);
  list.get(2);
  list.erase();
  EXPECT_EQ(checkMessages(list), "");
}

TEST(LinList, CheckReportsTheFirstBrokenInvariant) {
  LinList list;
  fill(list, 3);
  LinListElement* a = list.firstElement;
  LinListElement* b = a->next;
  LinListElement* c = b->next;

  a->prev = c;
  EXPECT_EQ(checkMessages(list), "LinList::check: Listenkopf.prev ungleich NULL");
  a->prev = nullptr;

  c->prev = a;
  EXPECT_EQ(checkMessages(list), "LinList::check: Rueckwaertsverkettung fehlerhaft");
  c->prev = b;

  list.anz = 2;
  EXPECT_EQ(checkMessages(list), "LinList::check: anz (3 != 2) passt nicht");
  list.anz = 4;
  EXPECT_EQ(checkMessages(list), "LinList::check: anz (3 != 4) passt nicht");
  list.anz = 3;

  list.lastElement = b;
  EXPECT_EQ(checkMessages(list), "LinList::check: last ungleich Listenende");
  list.lastElement = c;
  EXPECT_EQ(checkMessages(list), "");
}

TEST(LinList, CheckOnAnEmptyHeadReportsTailAndCount) {
  LinList list;
  fill(list, 1);
  LinListElement* only = list.firstElement;
  list.firstElement = nullptr;
  EXPECT_EQ(checkMessages(list),
            "LinList::check: first == NULL, last != NULLLinList::check: first == NULL, anz != 0");
  list.lastElement = nullptr;
  EXPECT_EQ(checkMessages(list), "LinList::check: first == NULL, anz != 0");
  list.firstElement = only;
  list.lastElement = only;
}

TEST(LinList, PrintWritesIdCountAndTable) {
  LinList list;
  list.insert(record(7, 3, {2, 0, 1}));
  list.insert(record(-1, 1, {}));
  ::testing::internal::CaptureStdout();
  list.print();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "-1 1\n7 32.000000 0.000000 1.000000 \n");
}

TEST(SortedLinList, InsertSortedPutsNewElementsBeforeEqualKeys) {
  SortedLinList list;
  list.insertSorted(record(3, 100));
  list.insertSorted(record(1));
  list.insertSorted(record(3, 200));
  EXPECT_EQ(ids(list), (std::vector<int>{1, 3, 3}));
  EXPECT_EQ(list.firstElement->next->data->n, 200);
  EXPECT_EQ(list.cursor, list.lastElement);  // the walk stopped at the old 3
  EXPECT_EQ(list.cursorIndex, -1);
  list.insertSorted(record(5));
  EXPECT_EQ(ids(list), (std::vector<int>{1, 3, 3, 5}));
  EXPECT_EQ(list.cursor, nullptr);  // appended after the tail
  EXPECT_EQ(list.lastElement->data->id, 5);
  EXPECT_EQ(list.anz, 4);
  EXPECT_EQ(checkMessages(list), "");

  SortedLinList descending;
  descending.setSortOrder(false);
  for (int id : {2, 9, 4, 9}) descending.insertSorted(record(id));
  EXPECT_EQ(ids(descending), (std::vector<int>{9, 9, 4, 2}));
  EXPECT_EQ(checkMessages(descending), "");
}

TEST(SortedLinList, SortMovesPayloadsOnly) {
  SortedLinList list;
  for (int id : {4, 1, 3, 1, 5}) list.insert(record(id));
  const LinListElement* head = list.firstElement;
  list.get(2);
  list.sort(true);
  EXPECT_EQ(ids(list), (std::vector<int>{5, 4, 3, 1, 1}));
  EXPECT_EQ(list.firstElement, head);
  EXPECT_EQ(list.cursor, nullptr);
  EXPECT_EQ(list.cursorIndex, -1);
  list.sort(false);
  EXPECT_EQ(ids(list), (std::vector<int>{1, 1, 3, 4, 5}));
  EXPECT_FALSE(list.sortDirection);
  EXPECT_EQ(checkMessages(list), "");
}

}  // namespace
}  // namespace kelbow
