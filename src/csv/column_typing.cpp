#include "csv/column_typing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/value_escape.h"
#include "csv/cell_syntax.h"
#include "csv/shell_word.h"

namespace kelbow {

namespace {

// More value slots than this make kelbow slow: on 30,000 rows of 10 columns,
// 1,000 slots took 1.7 CPU s, 2,000 took 3.8 s and 5,000 took 8.6 s, and a
// 30,000-slot table 267 s (README).
constexpr long long kSlowSlots = 1000;
// Columns named in the warning of a slow table; names listed in a message.
constexpr size_t kWorstColumns = 3;
constexpr size_t kListedNames = 20;

bool parseCount(std::string_view text, int lo, int hi, int& n) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size() && n >= lo && n <= hi;
}

// "COL=VALUE" split at its last '=' (a column name may hold one).
bool splitAssignment(std::string_view text, std::string& column, std::string& value) {
  const size_t eq = text.rfind('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  column = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

// Reads the argument of --bins, --cut or --dates.
bool takeColumnOption(std::string_view name, std::string_view arg, TypingOptions& o,
                      std::string& err) {
  ColumnOption opt;
  const bool bins = name == "--bins", cut = name == "--cut";
  opt.text = std::string(name) + " " + shellWord(arg);
  std::string value;
  if (bins && arg.find('=') == std::string_view::npos) {
    if (!parseCount(arg, 2, kMaxBins, o.bins)) {
      err = opt.text + ": a count of bins from 2 to " + std::to_string(kMaxBins) +
            ", or COL=N, is wanted";
      return false;
    }
    return true;
  }
  if (!splitAssignment(arg, opt.column, value)) {
    err = opt.text + ": COL=" +
          (bins  ? "N"
           : cut ? "E1,E2,... (ascending numbers)"
                 : "PARTS") +
          " is wanted";
    return false;
  }
  if (bins) {
    if (!parseCount(value, 2, kMaxBins, opt.bins)) {
      err = opt.text + ": a count of bins from 2 to " + std::to_string(kMaxBins) +
            " is wanted after '='";
      return false;
    }
    o.columnBins.push_back(std::move(opt));
  } else if (cut) {
    for (const std::string& item : splitList(value)) {
      double edge;
      if (!parseNumber(item, DecimalMark::kPoint, edge) ||
          (!opt.cuts.empty() && edge <= opt.cuts.back())) {
        err = opt.text +
              ": the edges are ascending numbers with '.' as the "
              "decimal mark, separated by commas";
        return false;
      }
      opt.cuts.push_back(edge);
      opt.cutTexts.push_back(numberLabel(edge));
    }
    o.cuts.push_back(std::move(opt));
  } else {
    for (const std::string& item : splitList(value)) {
      const auto part = std::find_if(kDateParts.begin(), kDateParts.end(),
                                     [&](DatePart p) { return datePartName(p) == item; });
      if (part == kDateParts.end() ||
          std::find(opt.parts.begin(), opt.parts.end(), *part) != opt.parts.end()) {
        err = opt.text +
              ": the parts are some of year, quarter, month, day, weekday "
              "and hour, each once, separated by commas";
        return false;
      }
      opt.parts.push_back(*part);
    }
    o.dates.push_back(std::move(opt));
  }
  return true;
}

}  // namespace

std::vector<std::string> splitList(std::string_view list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    items.emplace_back(list.substr(start, comma - start));
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

bool takeTypingOption(std::string_view option, std::string_view arg, TypingOptions& o,
                      std::string& err) {
  if (option == "--bins" || option == "--cut" || option == "--dates")
    return takeColumnOption(option, arg, o, err);
  if (option == "--drop" || option == "--categorical") {
    for (std::string& item : splitList(arg))
      (option == "--drop" ? o.drop : o.categorical).push_back(std::move(item));
  } else if (option == "--labels") {
    o.labels = std::string(arg);
  } else if (option == "--missing") {
    o.missing = splitList(arg);
  } else if (option == "--split-chars") {
    o.split.emplace_back(arg);
  } else if (option == "--decimal-comma") {
    o.mark = DecimalMark::kComma;
  } else if (option == "--decimal-point") {
    o.mark = DecimalMark::kPoint;
  } else if (option == "--day-first") {
    o.dayFirst = true;
  } else {
    err = "the option '" + std::string(option) + "' does not decide how columns are coded";
    return false;
  }
  return true;
}

std::string plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

ColumnTyping::ColumnTyping(const TypingOptions& o, std::string name, std::vector<std::string> names,
                           bool named, Sink sink)
    : o_(o),
      name_(std::move(name)),
      names_(std::move(names)),
      named_(named),
      sink_(std::move(sink)) {}

std::vector<bool> ColumnTyping::typedColumns() const {
  std::vector<bool> typed(plans_.size());
  for (size_t col = 0; col < plans_.size(); ++col) typed[col] = plans_[col].typed;
  return typed;
}

void ColumnTyping::chooseMark(const std::function<DecimalMark(std::string* example)>& detect) {
  if (o_.mark) {
    mark_ = *o_.mark;
  } else {
    std::string example;
    mark_ = detect(&example);
    if (mark_ == DecimalMark::kComma)
      say(name_ + ": decimal mark ',' (detected: '" + escapeValue(example) +
          "' is a number only with a decimal comma; --decimal-point to read '.')");
  }
  surveys_.clear();
  for (size_t col = 0; col < names_.size(); ++col) surveys_.emplace_back(plans_[col].typed, mark_);
}

bool ColumnTyping::isMissing(std::string_view v) const {
  if (o_.missing)
    for (const std::string& m : *o_.missing)
      if (m == v) return true;
  return false;
}

void ColumnTyping::surveyRecord(const std::vector<std::string>& fields,
                                const std::vector<TextPosition>& positions) {
  ++rows_;
  for (size_t col = 0; col < fields.size(); ++col)
    if (roles_[col] == ColumnRole::kAttribute && !isMissing(fields[col]))
      surveys_[col].add(fields[col], positions[col]);
}

std::string ColumnTyping::columnName(size_t col) const {
  return "column " + std::to_string(col + 1) + " '" + escapeValue(names_[col]) + "'";
}

std::string ColumnTyping::reference(size_t col, bool inList) const {
  return shellWord(columnReference(col, names_, named_, inList));
}

void ColumnTyping::setUp(TableEncoder& table, const std::vector<ColumnRole>& finalRoles) const {
  for (size_t col = 0; col < names_.size(); ++col) {
    if (finalRoles[col] == ColumnRole::kBinned) table.setBins(col, binsOf_[col], mark_);
    if (finalRoles[col] == ColumnRole::kDateParts)
      table.setDateParts(col, plans_[col].dates->parts, partValues_[col],
                         o_.dayFirst || surveys_[col].dayFirstOnly());
  }
  if (o_.missing) table.setMissing(*o_.missing);
}

std::optional<size_t> ColumnTyping::column(const std::string& wanted, const std::string& option,
                                           std::string& err) const {
  const std::optional<size_t> col = findColumn(wanted, names_, named_);
  if (!col) {
    err = name_ + ":1: " + option + ": no such column (the file has " +
          plural(static_cast<long long>(names_.size()), "column", "columns") +
          (named_ ? ": " + columnList(names_, kListedNames)
           : wanted.find_first_not_of("0123456789") == std::string::npos
               ? ""
               : " and no header; --names gives them names") +
          ")";
  }
  return col;
}

bool ColumnTyping::assignRoles(std::string& err) {
  std::vector<ColumnRole>& roles = roles_;
  roles.assign(names_.size(), ColumnRole::kAttribute);
  auto give = [&](const std::string& wanted, const char* option, ColumnRole role) {
    const std::optional<size_t> col = column(wanted, std::string(option) + " " + wanted, err);
    if (!col) return false;
    if (roles[*col] != ColumnRole::kAttribute && roles[*col] != role) {
      err = name_ + ":1: " + option + " " + wanted + ": column " + std::to_string(*col + 1) +
            " is already dropped, kept as labels or split";
      return false;
    }
    roles[*col] = role;
    return true;
  };
  for (const std::string& wanted : o_.drop)
    if (!give(wanted, "--drop", ColumnRole::kDrop)) return false;
  if (o_.labels && !give(*o_.labels, "--labels", ColumnRole::kLabels)) return false;
  for (const std::string& wanted : o_.split)
    if (!give(wanted, "--split-chars", ColumnRole::kSplit)) return false;
  for (ColumnRole r : roles)
    if (r == ColumnRole::kAttribute || r == ColumnRole::kSplit) return resolveColumnOptions(err);
  err = name_ + ":1: no column is left as an attribute";
  return false;
}

bool ColumnTyping::resolveColumnOptions(std::string& err) {
  const std::vector<ColumnRole>& roles = roles_;
  plans_.assign(names_.size(), ColumnPlan());
  for (size_t col = 0; col < names_.size(); ++col)
    plans_[col].typed = roles[col] == ColumnRole::kAttribute;
  std::vector<std::string> given(names_.size());  // the option that chose a column's treatment
  auto claim = [&](size_t col, const std::string& option) {
    if (roles[col] != ColumnRole::kAttribute) {
      err =
          name_ + ":1: " + option + ": " + columnName(col) + " is dropped, kept as labels or split";
      return false;
    }
    if (!given[col].empty()) {
      err = name_ + ":1: " + option + ": " + columnName(col) + " is already given to " + given[col];
      return false;
    }
    given[col] = option;
    return true;
  };
  for (const std::string& wanted : o_.categorical) {
    const std::string option = "--categorical " + shellWord(wanted);
    const std::optional<size_t> col = column(wanted, option, err);
    if (!col || !claim(*col, option)) return false;
    plans_[*col].typed = false;
  }
  for (const auto* list : {&o_.columnBins, &o_.cuts, &o_.dates})
    for (const ColumnOption& opt : *list) {
      const std::optional<size_t> col = column(opt.column, opt.text, err);
      if (!col || !claim(*col, opt.text)) return false;
      (list == &o_.columnBins ? plans_[*col].bins
       : list == &o_.cuts     ? plans_[*col].cut
                              : plans_[*col].dates) = &opt;
    }
  return true;
}

bool ColumnTyping::decide(const std::vector<long long>& distinct, std::string& err) {
  for (size_t col = 0; col < plans_.size(); ++col) plans_[col].distinct = distinct[col];
  for (size_t col = 0; col < plans_.size(); ++col) {
    ColumnPlan& p = plans_[col];
    p.slots = p.distinct;
    if (!p.typed) continue;
    const ColumnSurvey& s = surveys_[col];
    p.kind = classify(s, rows_);
    const ColumnOption* wantsNumbers = p.bins != nullptr ? p.bins : p.cut;
    if (wantsNumbers != nullptr && !s.numeric()) {
      const TextPosition at = s.firstNonNumberAt();
      err = at.line == 0
                ? name_ + ":1: " + wantsNumbers->text + ": " + columnName(col) + " holds no numbers"
                : name_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " +
                      wantsNumbers->text + ": " + columnName(col) + " holds '" +
                      escapeValue(s.firstNonNumber()) + "', which is no number";
      return false;
    }
    if (p.dates != nullptr) {
      if (!s.dates()) {
        const TextPosition at = s.firstNonDateAt();
        err = s.values() == 0 || at.line == 0
                  ? name_ + ":1: " + p.dates->text + ": " + columnName(col) + " holds no dates"
                  : name_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " +
                        p.dates->text + ": " + columnName(col) + " holds '" +
                        escapeValue(s.firstNonDate()) + "', which is no date";
        return false;
      }
      if (!s.anyTime() && std::find(p.dates->parts.begin(), p.dates->parts.end(),
                                    DatePart::kHour) != p.dates->parts.end()) {
        err = name_ + ":1: " + p.dates->text + ": " + columnName(col) +
              " holds dates without a time of day: no hour";
        return false;
      }
    }
    if (wantsNumbers != nullptr) p.kind = ColumnKind::kMeasure;
  }
  return true;
}

bool ColumnTyping::plan(bool codedComplete, std::vector<ColumnRole>& finalRoles, bool& recode,
                        std::string& err) {
  recode = !codedComplete;
  finalRoles = roles_;
  binsOf_.assign(names_.size(), ValueBins());
  partValues_.assign(names_.size(), {});
  for (size_t col = 0; col < names_.size(); ++col) {
    ColumnPlan& p = plans_[col];
    if (!p.typed) continue;
    const ColumnSurvey& s = surveys_[col];
    if (p.kind == ColumnKind::kMeasure) {
      binsOf_[col] =
          p.cut != nullptr
              ? ValueBins::cut(s.numbers(), p.cut->cuts, p.cut->cutTexts)
              : ValueBins::quantiles(s.numbers(), p.bins != nullptr ? p.bins->bins : o_.bins);
      finalRoles[col] = ColumnRole::kBinned;
      p.slots = binsOf_[col].size();
      recode = true;
    } else if (p.kind == ColumnKind::kDates) {
      recode = true;
      if (p.dates == nullptr) {
        finalRoles[col] = ColumnRole::kDrop;
        p.slots = 0;
        continue;
      }
      p.slots = 0;
      for (DatePart part : p.dates->parts) {
        std::vector<int> values = s.partValues(part, o_.dayFirst);
        if (part == DatePart::kHour && !s.everyTime()) values.insert(values.begin(), -1);
        p.slots += static_cast<long long>(values.size());
        partValues_[col].push_back(std::move(values));
      }
      finalRoles[col] = ColumnRole::kDateParts;
    }
  }
  report(finalRoles);
  bool anyKept = false;
  for (ColumnRole role : finalRoles)
    anyKept = anyKept || (role != ColumnRole::kDrop && role != ColumnRole::kLabels);
  if (!anyKept) {
    err = name_ +
          ":1: no column is left as an attribute (the dates are left out; --dates makes "
          "categories of them)";
    return false;
  }
  return true;
}

// Says what became of each kept column, and warns about suspect ones and a
// table that clusters slowly, before the table is written.
void ColumnTyping::report(const std::vector<ColumnRole>& finalRoles) {
  std::vector<std::string> words, fewNumbers;
  // One list of markers for every column that holds numbers but for a few
  // values: the markers given and those values, so that one option does for all.
  std::vector<std::string> given = o_.missing ? *o_.missing : std::vector<std::string>();
  for (size_t col = 0; col < plans_.size(); ++col)
    if (plans_[col].typed)
      for (const auto& [value, n] : surveys_[col].strays())
        if (std::find(given.begin(), given.end(), value) == given.end()) given.push_back(value);
  std::string markers;
  for (size_t i = 0; i < given.size(); ++i) markers += (i ? "," : "") + given[i];
  for (size_t col = 0; col < plans_.size(); ++col) {
    const ColumnPlan& p = plans_[col];
    const ColumnSurvey& s = surveys_[col];
    const ColumnRole role = finalRoles[col];
    if (role == ColumnRole::kDrop || role == ColumnRole::kLabels || role == ColumnRole::kSplit)
      if (p.kind != ColumnKind::kDates) continue;
    const std::string name = columnName(col);
    const std::string ref = columnReference(col, names_, named_, false);
    const std::string listRef = reference(col, true);
    if (role == ColumnRole::kBinned) {
      const ValueDistribution& n = s.numbers();
      const ValueBins& b = binsOf_[col];
      std::string edges;
      for (size_t i = 0; i < b.edges().size(); ++i)
        edges += (i ? ", " : "") + numberLabel(b.edges()[i]);
      say(name_ + ": " + name + ": numbers from " + numberLabel(n.min()) + " to " +
          numberLabel(n.max()) + " (" +
          (n.exact() ? std::to_string(n.distinct())
                     : "more than " + std::to_string(ValueDistribution::kExactValues)) +
          " distinct): " + plural(b.size(), "bin", "bins") +
          (p.cut != nullptr ? "" : " of about equal counts") +
          (edges.empty() ? "" : ", cut at " + edges) +
          (p.cut != nullptr    ? " (" + p.cut->text + ")"
           : p.bins != nullptr ? " (" + p.bins->text + ")"
                               : " (" + shellWord("--bins") + " " + shellWord(ref + "=N") +
                                     ", --cut " + shellWord(ref + "=E1,E2,...") +
                                     " or --categorical " + listRef + " to choose)"));
      continue;
    }
    if (p.kind == ColumnKind::kDates) {
      const bool dayFirst = o_.dayFirst || s.dayFirstOnly();
      const std::string forms = s.dateForms(dayFirst);
      const std::string order = s.datesAmbiguous()
                                    ? (o_.dayFirst ? "; read day first"
                                                   : "; read month first, --day-first for "
                                                     "dd/mm/yyyy")
                                    : "";
      if (role == ColumnRole::kDateParts) {
        std::string parts;
        for (DatePart part : p.dates->parts)
          parts += (parts.empty() ? "" : ", ") + escapeValue(names_[col]) + "." +
                   std::string(datePartName(part));
        say(name_ + ": " + name + ": dates (" + forms + ") made into " + parts + order);
      } else {
        warn(name + " holds dates (" + forms + "): left out; --dates " +
             shellWord(ref + (s.anyTime() ? "=month,weekday,hour" : "=month,weekday")) +
             " makes categories of them" + order);
      }
      continue;
    }
    if (!p.typed || p.kind == ColumnKind::kWords || p.kind == ColumnKind::kIdentifierRun) {
      words.push_back(names_[col]);
    } else {
      fewNumbers.push_back(names_[col]);
    }
    const std::string drop = "--drop " + listRef + " leaves it out";
    if (p.kind == ColumnKind::kIdentifierRun) {
      warn(name + " holds the integers " + numberLabel(s.numbers().min()) + " to " +
           numberLabel(s.numbers().max()) + ", each once: row numbers, an identifier; " + drop);
      continue;
    }
    const auto strays = s.strays();
    if (!strays.empty() && !(s.numbers().exact() && s.numbers().distinct() <= kFewNumbers)) {
      std::string shown;
      long long count = 0;
      for (const auto& [value, n] : strays) {
        shown += (shown.empty() ? "'" : " and '") + escapeValue(value) + "'";
        count += n;
      }
      warn(name + " holds numbers but for " + shown + " (" + plural(count, "row", "rows") +
           "): kept as categories; --missing " + shellWord(markers) +
           " reads that as missing, and the numbers are then cut into bins");
      continue;
    }
    if (s.otherMarkReads())
      warn(name + " reads as numbers with a decimal " +
           (mark_ == DecimalMark::kPoint ? "comma: --decimal-comma" : "point: --decimal-point") +
           " reads them so");
    switch (oddity(s, p.distinct, rows_)) {
      case Oddity::kConstant:
        warn(name + " holds '" + escapeValue(s.example()) + "' in every row: it carries nothing; " +
             drop);
        break;
      case Oddity::kCodes:
        warn(name + " holds " + std::to_string(p.distinct) + " distinct codes like '" +
             escapeValue(s.example()) + "' in " + std::to_string(rows_) + " rows: an identifier; " +
             drop);
        break;
      case Oddity::kFreeText: {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.0f", s.meanLength());
        warn(name + " holds free text (" + std::to_string(p.distinct) + " distinct values in " +
             std::to_string(rows_) + " rows, " + mean + " characters on average); " + drop);
        break;
      }
      case Oddity::kManyValues:
        warn(name + " has " + std::to_string(p.distinct) + " distinct values in " +
             std::to_string(rows_) + " rows: an identifier? " + drop);
        break;
      case Oddity::kNone:
        break;
    }
  }
  if (!words.empty()) say(name_ + ": kept as categories: " + columnList(words, kListedNames));
  if (!fewNumbers.empty())
    say(name_ + ": numbers with at most " + std::to_string(kFewNumbers) +
        " distinct values kept as categories: " + columnList(fewNumbers, kListedNames) +
        " (--bins 'COL=N' cuts one into N bins)");

  long long slots = 0;
  std::vector<size_t> kept;
  for (size_t col = 0; col < plans_.size(); ++col)
    if (finalRoles[col] != ColumnRole::kDrop && finalRoles[col] != ColumnRole::kLabels) {
      slots += plans_[col].slots;
      kept.push_back(col);
    }
  if (slots > kSlowSlots) {
    std::stable_sort(kept.begin(), kept.end(),
                     [&](size_t a, size_t b) { return plans_[a].slots > plans_[b].slots; });
    std::string worst;
    for (size_t i = 0; i < kept.size() && i < kWorstColumns; ++i)
      worst += (i ? ", '" : "'") + escapeValue(names_[kept[i]]) + "' (" +
               std::to_string(plans_[kept[i]].slots) + ")";
    warn(std::to_string(slots) + " value slots in all, the most in " + worst +
         ": kelbow will be slow on this table (it slows past " + std::to_string(kSlowSlots) +
         "); leave out or bin the columns with many values");
  }
}

}  // namespace kelbow
