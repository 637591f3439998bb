// The progress of the companions that run long: one status line on a terminal,
// rewritten in place (reading, merging, the extra runs), and a few plain lines
// otherwise. Remarks that do not stop the run, and the messages that follow a
// failure, start a line of their own.
#pragma once

#include <string>
#include <string_view>

#include "choose/choose.h"
#include "common/progress.h"

namespace kelbow {

class StatusProgress : public Progress, public ChoiceProgress {
 public:
  // `enabled` false says nothing but the remarks.
  StatusProgress(std::string_view program, std::string_view table, bool enabled);

  void tableSize(int rows, int attributes) override;
  void rowsInserted(int rows) override;
  void rowsDone(int rows) override;
  void merged(int iteration, int total) override;
  void note(std::string_view line) override;
  void runsDone(int done, int total) override;

  // Clears the status line, so that what follows starts a line of its own.
  void finish();

 private:
  void status(const std::string& text);
  void line(const std::string& text);

  std::string prefix_;  // "PROGRAM: TABLE: "
  bool enabled_;
  bool terminal_;
  bool shown_ = false;  // a status line is on the terminal
  int lastPercent_ = -1;
};

}  // namespace kelbow
