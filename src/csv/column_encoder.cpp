#include "csv/column_encoder.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "input/table_reader.h"

namespace kelbow {

namespace {

// Rows coded at a time: every attribute's codes of a block are written before
// the next block, so that the rows written stay in the cache.
constexpr long long kBlockRows = 4096;

// One column's distinct texts in the order of their first appearance, down the
// rows, as a file of the table would show them (a missing cell is the empty
// field, one text with an empty value).
struct Groups {
  std::vector<std::int32_t> ofCode;  // per code + 1 (0: the missing cell); -1 when unused
  std::vector<std::string_view> text;
  std::vector<long long> count, first;  // per group: its rows, and the first of them
};

bool groupColumn(const TextColumn& c, long long rows, const std::string& name, Groups& g,
                 std::string& err) {
  if (!checkCodes(c, rows, name, err)) return false;
  const long long codes = static_cast<long long>(c.texts.size()) + 1;
  std::vector<long long> count(codes, 0), first(codes, -1);
  for (long long r = 0; r < rows; ++r) {
    const long long code = static_cast<long long>(c.codes[r]) + 1;
    if (count[code]++ == 0) first[code] = r;
  }
  std::vector<std::int32_t> order;
  for (long long code = 0; code < codes; ++code)
    if (count[code] > 0) order.push_back(static_cast<std::int32_t>(code));
  std::sort(order.begin(), order.end(),
            [&](std::int32_t a, std::int32_t b) { return first[a] < first[b]; });
  g.ofCode.assign(codes, -1);
  std::unordered_map<std::string_view, std::int32_t> byText;
  for (std::int32_t code : order) {
    const std::string_view text = code == 0 ? std::string_view() : c.texts[code - 1];
    const auto [it, added] = byText.emplace(text, static_cast<std::int32_t>(g.text.size()));
    if (added) {
      g.text.push_back(text);
      g.count.push_back(0);
      g.first.push_back(first[code]);
    }
    g.ofCode[code] = it->second;
    g.count[it->second] += count[code];
  }
  return true;
}

// Where row r of column col stands in the file of the table: line r + 2 (after
// the header line), and the column's place for the byte column.
TextPosition place(long long r, size_t col) {
  return {static_cast<long>(r + 2), static_cast<long>(col + 1)};
}

}  // namespace

bool checkCodes(const TextColumn& c, long long rows, const std::string& name, std::string& err) {
  const long long texts = static_cast<long long>(c.texts.size());
  for (long long r = 0; r < rows; ++r)
    if (c.codes[r] < -1 || c.codes[r] >= texts) {
      err = name + ": column '" + escapeValue(c.name) + "': row " + std::to_string(r) +
            " holds the code " + std::to_string(c.codes[r]) + ", outside -1.." +
            std::to_string(texts - 1);
      return false;
    }
  return true;
}

bool encodeColumns(const std::vector<TextColumn>& columns, long long rows, const TypingOptions& o,
                   const std::string& name, EncodedColumns& out, std::string& err) {
  out = EncodedColumns();
  std::vector<std::string> names;
  for (const TextColumn& c : columns) names.push_back(c.name);
  ColumnTyping typing(o, name, names, true, [&](bool warning, const std::string& text) {
    out.lines.push_back({warning, text});
  });
  if (!typing.assignRoles(err)) return false;
  if (rows <= 0) {
    err = name + ":2: no data rows after the header line";
    return false;
  }
  if (rows > INT_MAX) {
    err = name + ": more than " + std::to_string(INT_MAX) + " data rows";
    return false;
  }
  const std::vector<ColumnRole>& roles = typing.roles();
  std::vector<Groups> groups(columns.size());
  for (size_t col = 0; col < columns.size(); ++col)
    if (!groupColumn(columns[col], rows, name, groups[col], err)) return false;
  const auto textAt = [&](size_t col, long long r) {
    return groups[col].text[groups[col].ofCode[columns[col].codes[r] + 1]];
  };

  // The decimal mark, from the data rows among kelbow-csv's first records.
  const std::vector<bool> typed = typing.typedColumns();
  typing.chooseMark([&](std::string* example) {
    std::vector<std::vector<std::string>> head;
    for (long long r = 0; r < rows && r + 1 < static_cast<long long>(kHeaderSampleRows); ++r) {
      head.emplace_back();
      for (size_t col = 0; col < columns.size(); ++col) head.back().emplace_back(textAt(col, r));
    }
    return detectDecimalMark(head, typed, example);
  });

  // The survey: each distinct value once with its count, or, past the counts
  // kept exactly, every row in order; and which columns kelbow-csv's first
  // reading would stop coding.
  std::vector<long long> distinct(columns.size(), 0);
  std::vector<bool> stopped(columns.size(), false);
  for (size_t col = 0; col < columns.size(); ++col) {
    if (roles[col] != ColumnRole::kAttribute) continue;
    const Groups& g = groups[col];
    ColumnSurvey& s = typing.survey(col);
    std::vector<char> missing(g.text.size());
    for (size_t i = 0; i < g.text.size(); ++i) missing[i] = typing.isMissing(g.text[i]);
    if (g.text.size() <= ValueDistribution::kExactValues) {
      for (size_t i = 0; i < g.text.size(); ++i)
        if (!missing[i]) s.add(g.text[i], place(g.first[i], col), g.count[i]);
    } else {
      long long seen = 0;
      for (long long r = 0; r < rows; ++r) {
        const std::int32_t i = g.ofCode[columns[col].codes[r] + 1];
        seen = std::max(seen, static_cast<long long>(i) + 1);
        if (!missing[i]) s.add(g.text[i], place(r, col));
        if (typed[col] && !stopped[col] && (r + 1) % kCodingCheckRows == 0 &&
            (s.numeric() || s.dates()) &&
            seen > static_cast<long long>(ValueDistribution::kExactValues))
          stopped[col] = true;
      }
    }
    distinct[col] = stopped[col] ? s.values() : static_cast<long long>(g.text.size());
  }
  typing.setRows(rows);

  // One record per distinct value: record i holds every column's i-th value
  // (or its first again, already coded), so each is coded once, in the order
  // of its first appearance.
  size_t records = 0;
  for (const Groups& g : groups) records = std::max(records, g.text.size());
  std::vector<std::string> fields(columns.size());
  std::vector<TextPosition> positions(columns.size());
  const auto record = [&](size_t i) {
    for (size_t col = 0; col < columns.size(); ++col) {
      const Groups& g = groups[col];
      const size_t at = i < g.text.size() ? i : 0;
      fields[col].assign(g.text[at]);
      positions[col] = place(g.first[at], col);
    }
  };
  std::vector<int> coded;

  // The characters of the split columns, as the first reading codes them.
  if (std::find(roles.begin(), roles.end(), ColumnRole::kSplit) != roles.end()) {
    std::vector<ColumnRole> splitOnly(roles.size(), ColumnRole::kDrop);
    for (size_t col = 0; col < roles.size(); ++col)
      if (roles[col] == ColumnRole::kSplit) splitOnly[col] = ColumnRole::kSplit;
    TableEncoder first(splitOnly, names, kMaxValueSlots, 1);
    for (size_t i = 0; i < records; ++i) {
      record(i);
      if (!first.codeRecord(fields, positions, name, coded, err)) return false;
    }
    for (size_t a = 0; a < first.attributeCount(); ++a)
      distinct[first.attributeColumn(a)] += static_cast<long long>(first.codes(a).values().size());
  }
  long long firstValues = 0;
  for (size_t col = 0; col < columns.size(); ++col)
    if (!stopped[col]) firstValues += distinct[col];
  if (firstValues > kMaxValueSlots) {
    err = name + ": more than " + std::to_string(kMaxValueSlots) +
          " distinct values in all columns; the tool accepts at most that many value slots";
    return false;
  }

  std::vector<ColumnRole> finalRoles;
  bool recode = false;
  const bool complete = std::find(stopped.begin(), stopped.end(), true) == stopped.end();
  if (!typing.decide(distinct, err) || !typing.plan(complete, finalRoles, recode, err))
    return false;

  TableEncoder table(finalRoles, names, kMaxValueSlots, 1);
  typing.setUp(table, finalRoles);
  std::vector<std::vector<std::int32_t>> codeOfValue;  // per attribute and value of its column
  for (size_t i = 0; i < records; ++i) {
    record(i);
    if (!table.codeRecord(fields, positions, name, coded, err)) return false;
    if (i == 0) codeOfValue.resize(table.attributeCount());
    for (size_t a = 0; a < coded.size(); ++a)
      if (i < groups[table.attributeColumn(a)].text.size()) codeOfValue[a].push_back(coded[a]);
  }

  // Every row's codes by lookup: per attribute, the code of each of the
  // column's codes as handed over.
  const size_t attributes = table.attributeCount();
  out.rows = rows;
  out.attributes = static_cast<int>(attributes);
  out.codes.resize(static_cast<size_t>(rows) * attributes);
  std::vector<std::vector<std::int32_t>> lookup(attributes);
  for (size_t a = 0; a < attributes; ++a) {
    const Groups& g = groups[table.attributeColumn(a)];
    lookup[a].resize(g.ofCode.size(), 0);
    for (size_t code = 0; code < g.ofCode.size(); ++code)
      if (g.ofCode[code] >= 0) lookup[a][code] = codeOfValue[a][g.ofCode[code]];
  }
  for (long long from = 0; from < rows; from += kBlockRows) {
    const long long to = std::min(rows, from + kBlockRows);
    for (size_t a = 0; a < attributes; ++a) {
      const std::int32_t* in = columns[table.attributeColumn(a)].codes;
      const std::int32_t* map = lookup[a].data() + 1;
      std::int32_t* w = out.codes.data() + static_cast<size_t>(from) * attributes + a;
      for (long long r = from; r < to; ++r, w += attributes) *w = map[in[r]];
    }
  }

  for (size_t a = 0; a < attributes; ++a) {
    out.names.push_back(table.attributeName(a));
    out.values.push_back(table.codes(a).values());
  }
  if (o.missing) out.missing = *o.missing;
  CsvEncoding& made = out.source;
  made.delimiter = ',';
  made.mark = typing.mark();
  made.trim = false;
  made.header = true;
  made.columnsByName = true;
  made.columns = static_cast<int>(columns.size());
  made.missing = out.missing;
  made.attributes = table.sources();
  return true;
}

}  // namespace kelbow
