#include "app/text_progress.h"

#include "common/error.h"

namespace kelbow {

namespace {
// Each "inserting object" line overwrites the previous one on a terminal.
constexpr char kBackspaces[] =
    "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b"
    "\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b";
static_assert(sizeof kBackspaces - 1 == 79);
}  // namespace

void TextProgress::tableSize(int rows, int attributes) {
  std::fprintf(out_, "rows=%d cols = %d\n", rows, attributes);
}

void TextProgress::domainSize(int size) { std::fprintf(out_, "%d\n", size); }

void TextProgress::directRoad(int rows) { std::fprintf(out_, "%d rows\n", rows); }

void TextProgress::rowsInserted(int rows) {
  std::fputs(kBackspaces, out_);
  std::fprintf(out_, "inserting object %d", rows);
  midLine_ = true;
}

void TextProgress::rowsDone(int /*rows*/) {
  std::fputs("\n", out_);
  midLine_ = false;
}

void TextProgress::merged(int iteration, int /*total*/) {
  std::fprintf(out_, "iteration %d\n", iteration);
}

void TextProgress::note(std::string_view line) {
  endLine();
  error(line, false);
}

void TextProgress::endLine() {
  if (midLine_ && out_ == stderr) std::fputs("\n", out_);
  midLine_ = false;
}

}  // namespace kelbow
