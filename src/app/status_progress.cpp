#include "app/status_progress.h"

#include <unistd.h>

#include <cstdio>

namespace kelbow {

StatusProgress::StatusProgress(std::string_view program, std::string_view table, bool enabled)
    : prefix_(std::string(program) + ": " + std::string(table) + ": "),
      enabled_(enabled),
      terminal_(::isatty(2) == 1) {}

void StatusProgress::status(const std::string& text) {
  if (!enabled_ || !terminal_) return;
  // Back to the line's start, the text, and the rest of the old line cleared.
  std::fprintf(stderr, "\r%s%s\x1b[K", prefix_.c_str(), text.c_str());
  shown_ = true;
}

void StatusProgress::line(const std::string& text) {
  if (!enabled_) return;
  finish();
  std::fprintf(stderr, "%s%s\n", prefix_.c_str(), text.c_str());
}

void StatusProgress::finish() {
  if (shown_) std::fputs("\r\x1b[K", stderr);
  shown_ = false;
}

void StatusProgress::tableSize(int rows, int attributes) {
  line("clustering " + std::to_string(rows) + " rows of " + std::to_string(attributes) +
       " attributes");
}

void StatusProgress::rowsInserted(int rows) {
  if (rows % 10000 == 0) status("reading: " + std::to_string(rows) + " rows");
}

void StatusProgress::rowsDone(int rows) { status("read " + std::to_string(rows) + " rows"); }

void StatusProgress::merged(int iteration, int total) {
  const int percent = total > 0 ? static_cast<int>(100LL * iteration / total) : 100;
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  status("merging: " + std::to_string(percent) + "%");
}

void StatusProgress::note(std::string_view text) {
  finish();
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void StatusProgress::runsDone(int done, int total) {
  if (done == 0) {
    lastPercent_ = -1;
    line(std::to_string(total) + " more runs: reference tables and other row orders");
    return;
  }
  status("more runs: " + std::to_string(done) + " of " + std::to_string(total) + " done");
}

}  // namespace kelbow
