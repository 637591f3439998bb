// Doubly linked list with a remembered position (the cursor). The summary tree
// keeps in it the entry records that wait to be inserted again; the list owns
// every record it holds and destroys it with its element.
//
// The links are open fields so that the consistency test can be pointed at a
// damaged list; only the operations keep them consistent.
#pragma once

#include <memory>

#include "summary/entry_record.h"

namespace kelbow {

struct LinListElement {
  std::unique_ptr<EntryRecord> data;  // may be null
  LinListElement* next = nullptr;     // towards the tail
  LinListElement* prev = nullptr;     // towards the head
};

class LinList {
 public:
  LinList() = default;
  // Destroys every element with its record, from head to tail.
  virtual ~LinList();
  LinList(const LinList&) = delete;
  LinList& operator=(const LinList&) = delete;

  // Puts `p` in a new element at the head and clears the cursor, so that taken
  // with first() and erase() the list works as a stack.
  void insert(std::unique_ptr<EntryRecord> p);

  // Removes the cursor element and destroys its record. False when there is no
  // cursor. The cursor moves to the following element, or becomes invalid when
  // the tail was removed.
  bool erase();

  // Cursor moves: each returns the record under the new cursor, or null.
  EntryRecord* first();
  EntryRecord* last();
  EntryRecord* next();  // expects a cursor on an element
  EntryRecord* prev();  // expects a cursor on an element

  // Cursor to position i (0-based), walking from the nearest of head, tail and
  // cursor. Null for i >= anz; a broken chain met on the way ends the process.
  EntryRecord* get(int i);

  // Reports the first broken link or count on standard error; never ends the process.
  void check() const;

  // Writes id, n and the count table of every record to standard output.
  void print() const;

  LinListElement* firstElement = nullptr;  // head, null when empty
  LinListElement* lastElement = nullptr;   // tail, null when empty
  int anz = 0;                             // number of elements
  LinListElement* cursor = nullptr;        // remembered element, or null
  int cursorIndex = -1;                    // position of cursor, -1 when not valid
};

// A list that can keep its records ordered by id.
class SortedLinList : public LinList {
 public:
  void setSortOrder(bool ascending) { sortDirection = ascending; }

  // Inserts in front of the first element that does not sort before `p` (true:
  // ids non-decreasing from the head), so equal ids keep the newest first.
  void insertSorted(std::unique_ptr<EntryRecord> p);

  // Reorders the records by exchanging payloads between neighbours. Note the
  // opposite sense: with true the ids end non-increasing from the head.
  void sort(bool direction);

  bool sortDirection = true;
};

}  // namespace kelbow
