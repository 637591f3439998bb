#include "summary/lin_list.h"

#include <cstdio>
#include <string>

#include "common/error.h"

namespace kelbow {

LinList::~LinList() {
  LinListElement* e = firstElement;
  while (e != nullptr) {
    LinListElement* following = e->next;
    delete e;  // the list owns its elements through the links
    e = following;
  }
}

void LinList::insert(std::unique_ptr<EntryRecord> p) {
  auto* e = new LinListElement{std::move(p), firstElement, nullptr};  // owned by the list
  if (firstElement != nullptr) firstElement->prev = e;
  ++anz;
  firstElement = e;
  if (lastElement == nullptr) lastElement = e;
  cursor = nullptr;
  cursorIndex = -1;
}

bool LinList::erase() {
  if (cursor == nullptr) return false;
  LinListElement* c = cursor;
  LinListElement* newCursor = nullptr;
  if (c == firstElement && c == lastElement) {
    firstElement = nullptr;
    lastElement = nullptr;
    cursorIndex = -1;
  } else if (c == firstElement) {
    c->next->prev = nullptr;
    firstElement = c->next;
    newCursor = firstElement;
    cursorIndex = 0;
  } else if (c == lastElement) {
    c->prev->next = nullptr;
    lastElement = c->prev;
    cursorIndex = -1;
  } else {
    // The following element takes over the position, so cursorIndex stays.
    c->next->prev = c->prev;
    c->prev->next = c->next;
    newCursor = c->next;
  }
  delete c;
  cursor = newCursor;
  --anz;
  return true;
}

EntryRecord* LinList::first() {
  cursor = firstElement;
  if (cursor == nullptr) return nullptr;
  cursorIndex = 0;
  return cursor->data.get();
}

EntryRecord* LinList::last() {
  cursor = lastElement;
  if (cursor == nullptr) return nullptr;
  cursorIndex = anz - 1;
  return cursor->data.get();
}

EntryRecord* LinList::next() {
  if (cursor != nullptr) cursor = cursor->next;
  if (cursor == nullptr) {
    cursorIndex = -1;
    return nullptr;
  }
  ++cursorIndex;
  return cursor->data.get();
}

EntryRecord* LinList::prev() {
  if (cursor != nullptr) cursor = cursor->prev;
  if (cursor == nullptr) {
    cursorIndex = -1;
    return nullptr;
  }
  --cursorIndex;
  return cursor->data.get();
}

EntryRecord* LinList::get(int i) {
  if (i >= anz || i < 0) return nullptr;
  if (i == cursorIndex && cursor != nullptr) return cursor->data.get();

  // Start from whichever of head, tail and cursor is nearest; on equal
  // distances the walk starts from the cursor.
  LinListElement* at = cursor;
  int pos = cursorIndex;
  bool forward = true;
  if (cursorIndex == -1) {
    if (i < anz / 2) {
      at = firstElement, pos = 0, forward = true;
    } else {
      at = lastElement, pos = anz - 1, forward = false;
    }
  } else if (i < cursorIndex) {
    if (cursorIndex - i > i) {
      at = firstElement, pos = 0, forward = true;
    } else {
      forward = false;
    }
  } else if (i - cursorIndex > anz - 1 - i) {
    at = lastElement, pos = anz - 1, forward = false;
  }

  constexpr const char* kBroken = "LinList::get: List seems to be inkonsistent";
  while (pos != i) {
    if (at == nullptr) fatal(kBroken);
    at = forward ? at->next : at->prev;
    pos += forward ? 1 : -1;
  }
  // A chain shorter than anz ends in null here; never hand that out.
  if (at == nullptr) fatal(kBroken);
  cursor = at;
  cursorIndex = i;
  return cursor->data.get();
}

void LinList::check() const {
  auto countMismatch = [this](int counted) {
    return "LinList::check: anz (" + std::to_string(counted) + " != " + std::to_string(anz) +
           ") passt nicht";
  };
  if (firstElement == nullptr) {
    if (lastElement != nullptr) error("LinList::check: first == NULL, last != NULL", false);
    if (anz != 0) error("LinList::check: first == NULL, anz != 0", false);
    return;
  }
  if (firstElement->prev != nullptr) {
    error("LinList::check: Listenkopf.prev ungleich NULL", false);
    return;
  }
  int counted = 1;
  const LinListElement* p = firstElement;
  for (const LinListElement* e = p->next; e != nullptr; p = e, e = e->next) {
    if (e->prev != p) {
      error("LinList::check: Rueckwaertsverkettung fehlerhaft", false);
      return;
    }
    if (p->next != e) {
      error("LinList::check: Vorwaertsverkettung fehlerhaft", false);
      return;
    }
    if (++counted > anz) {
      error(countMismatch(counted), false);
      return;
    }
  }
  if (p->next != nullptr) {
    error("LinList::check: Listenende.next ungleich NULL", false);
  } else if (p != lastElement) {
    error("LinList::check: last ungleich Listenende", false);
  } else if (counted != anz) {
    error(countMismatch(counted), false);
  }
}

void LinList::print() const {
  for (const LinListElement* e = firstElement; e != nullptr; e = e->next) {
    if (e->data == nullptr) continue;  // an element may hold no record
    const EntryRecord& r = *e->data;
    std::printf("%d %d", r.id, r.n);
    // The counts are integers; they are printed as the floating-point values they equal.
    for (int s = 0; s < r.valueCount; ++s) std::printf("%f ", static_cast<double>(r.counts[s]));
    std::printf("\n");
  }
}

void SortedLinList::insertSorted(std::unique_ptr<EntryRecord> p) {
  const int key = p->id;
  auto* e = new LinListElement{std::move(p), nullptr, nullptr};  // owned by the list
  if (firstElement == nullptr) {
    firstElement = e;
    lastElement = e;
    anz = 1;
    return;
  }
  cursor = firstElement;
  while (cursor != nullptr && (sortDirection ? cursor->data->id < key : cursor->data->id > key))
    cursor = cursor->next;
  if (cursor == nullptr) {
    e->prev = lastElement;
    lastElement->next = e;
    lastElement = e;
  } else {
    e->next = cursor;
    e->prev = cursor->prev;
    if (cursor->prev != nullptr) {
      cursor->prev->next = e;
    } else {
      firstElement = e;
    }
    cursor->prev = e;
  }
  ++anz;
  cursorIndex = -1;
}

void SortedLinList::sort(bool direction) {
  sortDirection = direction;
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (LinListElement* e = firstElement != nullptr ? firstElement->next : nullptr; e != nullptr;
         e = e->next) {
      const int key = e->data->id;
      const int before = e->prev->data->id;
      if (direction ? key > before : key < before) {
        std::swap(e->data, e->prev->data);
        swapped = true;
      }
    }
  }
  cursor = nullptr;
  cursorIndex = -1;
}

}  // namespace kelbow
