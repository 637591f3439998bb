// kelbow on one thread and on several (KELBOW_THREADS): the same bytes on
// every table of either road (result file, standard streams, exit status), the
// same refusal of a bad row met by the reader thread, and the refusal of a
// thread count that is none.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "tool_run.h"

namespace kelbow::testing {
namespace {

// Sets KELBOW_THREADS (or unsets it, for nullopt) for the runs started while it lives.
class ThreadsVariable {
 public:
  explicit ThreadsVariable(const std::optional<std::string>& value) {
    if (const char* old = ::getenv(kName)) old_ = old;
    if (value)
      ::setenv(kName, value->c_str(), 1);
    else
      ::unsetenv(kName);
  }
  ~ThreadsVariable() {
    if (old_)
      ::setenv(kName, old_->c_str(), 1);
    else
      ::unsetenv(kName);
  }
  ThreadsVariable(const ThreadsVariable&) = delete;
  ThreadsVariable& operator=(const ThreadsVariable&) = delete;

 private:
  static constexpr const char* kName = "KELBOW_THREADS";
  std::optional<std::string> old_;
};

class Threads : public KelbowTest {
 protected:
  struct Outcome {
    ToolRun run;
    std::string result;
  };

  // Runs kelbow on NAME.data and NAME.desc with KELBOW_THREADS at `threads`.
  Outcome runWith(const std::string& name, const std::optional<std::string>& threads) {
    std::filesystem::remove(dir_ / (name + ".data.kelbow"));
    ThreadsVariable variable(threads);
    Outcome o{kelbow({"-d", name + ".data", "-n", name + ".desc"}), ""};
    o.result = dir_.read(name + ".data.kelbow");
    return o;
  }

  // One thread, two, three and the default (every processor): the same bytes.
  void expectSameOnEveryCount(const std::string& name) {
    SCOPED_TRACE(name);
    const Outcome one = runWith(name, "1");
    for (const std::optional<std::string>& threads :
         {std::optional<std::string>("2"), std::optional<std::string>("3"),
          std::optional<std::string>()}) {
      const Outcome other = runWith(name, threads);
      const std::string shown = threads.value_or("the default");
      EXPECT_EQ(other.run.status, one.run.status) << shown;
      EXPECT_EQ(other.run.out, one.run.out) << shown;
      EXPECT_EQ(other.run.err, one.run.err) << shown;
      EXPECT_EQ(other.result, one.result) << shown;
    }
  }

  ToolRun makeTable(const std::vector<std::string>& args) {
    return runTool(KELBOW_MAKE_TABLE_EXE, args, dir_.path(), "kelbow-make-table");
  }
};

// Generated tables of both roads: tiny and large domains, few and many
// attributes, one-row clusters and many-row ones, sparse and dense union sums.
TEST_F(Threads, GeneratedTablesGiveTheSameBytesOnEveryCount) {
  const std::vector<std::vector<std::string>> shapes{
      {"2", "40", "3", "2", "0.0"},      {"5", "1499", "30", "6", "0.3"},
      {"4", "1500", "6", "3", "0.1"},    {"6", "2500", "8", "40", "0.3"},
      {"12", "20000", "20", "8", "0.3"}, {"2", "3000", "1", "50", "0.5"},
      {"4", "800", "5", "300", "0.2"}};
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const std::string name = "g" + std::to_string(i);
    std::vector<std::string> args{name};
    args.insert(args.end(), shapes[i].begin(), shapes[i].end());
    args.push_back(std::to_string(100 + i));
    ASSERT_EQ(makeTable(args).status, 0) << name;
    expectSameOnEveryCount(name);
  }
}

// A row refused in the middle of a large table, past several blocks the reader
// thread has read ahead, and a record count that differs from the declared one.
TEST_F(Threads, ABadRowAndAWrongCountAreToldAsOnOneThread) {
  ASSERT_EQ(makeTable({"b", "4", "9000", "6", "5", "0.2", "7"}).status, 0);
  std::string data = dir_.read("b.data");
  const std::string good = data;
  std::size_t at = 0;
  for (int line = 0; line < 6000; ++line) at = data.find('\n', at) + 1;
  data.insert(at, "0 1 2 3 9 0\n");
  dir_.write("b.data", data);
  expectSameOnEveryCount("b");
  EXPECT_EQ(runWith("b", "2").run.status, 1);
  dir_.write("b.data", good + good.substr(0, good.find('\n') + 1));
  expectSameOnEveryCount("b");
}

// Every real data set beside the checkout.
TEST_F(Threads, RealDataSetsGiveTheSameBytesOnEveryCount) {
  const std::filesystem::path shared = sharedDir();
  if (shared.empty())
    GTEST_SKIP() << "../shared/data is not beside the checkout; real-data runs skipped";
  for (const char* name :
       {"breast-cancer", "car", "connect-4", "house-votes-84", "kr-vs-kp", "krkopt", "lymphography",
        "mushroom", "nursery", "soybean-small", "splice", "tic-tac-toe", "zoo"}) {
    copySharedSet(shared, name, dir_.path());
    expectSameOnEveryCount(name);
  }
}

TEST_F(Threads, ACountThatIsNoNumberOfThreadsIsRefused) {
  ASSERT_EQ(makeTable({"t", "2", "40", "3", "2", "0.0", "1"}).status, 0);
  for (const char* value : {"0", "-1", "two", "2x", " 2", "1025", "99999999999999999999"}) {
    ThreadsVariable variable{std::string(value)};
    const ToolRun r = kelbowFailing({"-d", "t.data", "-n", "t.desc"}, "t.data.kelbow");
    EXPECT_EQ(r.err, std::string("kelbow: KELBOW_THREADS=") + value +
                         ": not a number of threads from 1 to 1024\n");
    EXPECT_EQ(r.out, "");
  }
  // Set but empty: as if unset.
  EXPECT_EQ(runWith("t", "").run.status, 0);
}

}  // namespace
}  // namespace kelbow::testing
