#include "input/csv_encoding.h"

#include <charconv>
#include <cmath>

#include "common/json_text.h"

namespace kelbow {

namespace {

constexpr std::string_view kFormatName = "kelbow-encoding";

std::string_view transformName(Transform t) {
  switch (t) {
    case Transform::kValue:
      return "value";
    case Transform::kBins:
      return "bins";
    case Transform::kDatePart:
      return "date part";
    case Transform::kCharacter:
      return "character";
  }
  return "";
}
constexpr Transform kTransforms[] = {Transform::kValue, Transform::kBins, Transform::kDatePart,
                                     Transform::kCharacter};

// The shortest text that reads back as the same double.
std::string exactNumber(double v) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, end);
}

// A delimiter byte: a one-character string when it is ASCII, else its number,
// so that no byte is lost to the UTF-8 of JSON strings.
std::string delimiterJson(char d) {
  const auto byte = static_cast<unsigned char>(d);
  return byte < 0x80 ? jsonString(std::string(1, d)) : std::to_string(byte);
}

std::string attributeJson(const AttributeSource& a) {
  std::string out = "{\"name\": " + jsonString(a.name) + ", \"column\": " + jsonString(a.column) +
                    ", \"column_number\": " + std::to_string(a.columnNumber) +
                    ", \"transform\": " + jsonString(transformName(a.transform));
  switch (a.transform) {
    case Transform::kValue:
      break;
    case Transform::kBins:
      out += ", \"edges\": [";
      for (size_t i = 0; i < a.edges.size(); ++i) out += (i ? ", " : "") + exactNumber(a.edges[i]);
      out += "]";
      break;
    case Transform::kDatePart:
      out += ", \"part\": " + jsonString(datePartName(a.part)) +
             ", \"day_first\": " + (a.dayFirst ? "true" : "false");
      break;
    case Transform::kCharacter:
      out += ", \"character\": " + std::to_string(a.character) +
             ", \"length\": " + std::to_string(a.length);
      break;
  }
  return out + "}";
}

class EncodingReader {
 public:
  EncodingReader(const std::string& fileName, std::string& err) : check_(fileName, err) {}

  bool read(const JsonValue& root, CsvEncoding& e) {
    const JsonValue* format = root.isObject() ? root.find("format") : nullptr;
    if (format == nullptr || !format->isString() || format->string() != kFormatName)
      return check_.fail(root, "not a table's encoding (no \"format\": \"kelbow-encoding\")",
                         false);
    const JsonValue* version;
    int v = 0;
    if (!check_.member(root, "version", JsonValue::Kind::kNumber, version) ||
        !check_.integer(*version, "\"version\"", v))
      return false;
    if (v != CsvEncoding::kFormatVersion)
      return check_.fail(*version,
                         "an encoding of format version " + version->text() +
                             "; this version of kelbow reads version " +
                             std::to_string(CsvEncoding::kFormatVersion),
                         false);
    if (!check_.knownMembers(root,
                             {"format", "version", "delimiter", "decimal_mark", "trim", "header",
                              "columns_by", "columns", "missing", "attributes"},
                             ""))
      return false;
    const JsonValue *delimiter, *mark, *trim, *header, *by, *columns, *missing, *attributes;
    if (!check_.member(root, "decimal_mark", JsonValue::Kind::kString, mark) ||
        !check_.member(root, "trim", JsonValue::Kind::kBool, trim) ||
        !check_.member(root, "header", JsonValue::Kind::kBool, header) ||
        !check_.member(root, "columns_by", JsonValue::Kind::kString, by) ||
        !check_.member(root, "columns", JsonValue::Kind::kNumber, columns) ||
        !check_.member(root, "missing", JsonValue::Kind::kArray, missing) ||
        !check_.member(root, "attributes", JsonValue::Kind::kArray, attributes))
      return false;
    delimiter = root.find("delimiter");
    if (delimiter == nullptr) return check_.fail(root, "the member \"delimiter\" is missing");
    int byte = 0;
    if (delimiter->isString() && delimiter->string().size() == 1 &&
        static_cast<unsigned char>(delimiter->string()[0]) < 0x80) {
      e.delimiter = delimiter->string()[0];
    } else if (delimiter->isNumber() && check_.integer(*delimiter, "\"delimiter\"", byte) &&
               byte >= 0x80 && byte <= 0xff) {
      e.delimiter = static_cast<char>(byte);
    } else {
      return check_.fail(*delimiter,
                         "\"delimiter\" should be one ASCII character, or the number of a byte "
                         "from 128 to 255");
    }
    if (mark->string() != "." && mark->string() != ",")
      return check_.fail(*mark, "\"decimal_mark\" should be \".\" or \",\"");
    e.mark = mark->string() == "." ? DecimalMark::kPoint : DecimalMark::kComma;
    e.trim = trim->boolean();
    e.header = header->boolean();
    if (by->string() != "name" && by->string() != "number")
      return check_.fail(*by, "\"columns_by\" should be \"name\" or \"number\"");
    e.columnsByName = by->string() == "name";
    if (e.columnsByName && !e.header)
      return check_.fail(*by, "columns found by name need a header");
    if (!check_.integer(*columns, "\"columns\"", e.columns)) return false;
    if (e.columns < 1) return check_.fail(*columns, "\"columns\" should be at least 1");
    if (!check_.strings(*missing, "\"missing\"", e.missing, false)) return false;
    if (attributes->items().empty()) return check_.fail(*attributes, "\"attributes\" is empty");
    for (const JsonValue& a : attributes->items())
      if (!readAttribute(a, e)) return false;
    return true;
  }

 private:
  bool readAttribute(const JsonValue& at, CsvEncoding& e) {
    const std::string which = "attribute " + std::to_string(e.attributes.size() + 1);
    if (!at.isObject()) return check_.fail(at, which + " should be an object");
    const JsonValue *name, *column, *number, *transform;
    if (!check_.member(at, "name", JsonValue::Kind::kString, name) ||
        !check_.member(at, "column", JsonValue::Kind::kString, column) ||
        !check_.member(at, "column_number", JsonValue::Kind::kNumber, number) ||
        !check_.member(at, "transform", JsonValue::Kind::kString, transform))
      return false;
    AttributeSource& a = e.attributes.emplace_back();
    a.name = name->string();
    a.column = column->string();
    const std::string named = which + " '" + a.name + "'";
    if (!check_.integer(*number, named + ": \"column_number\"", a.columnNumber)) return false;
    if (a.columnNumber < 1 || a.columnNumber > e.columns)
      return check_.fail(*number, named + ": \"column_number\" should be from 1 to " +
                                      std::to_string(e.columns) + ", the columns of the file");
    bool known = false;
    for (Transform t : kTransforms)
      if (transformName(t) == transform->string()) a.transform = t, known = true;
    if (!known)
      return check_.fail(*transform, named + ": the transform " + jsonString(transform->string()) +
                                         " is not one of \"value\", \"bins\", \"date part\" and "
                                         "\"character\"");
    switch (a.transform) {
      case Transform::kValue:
        return check_.knownMembers(at, {"name", "column", "column_number", "transform"}, named);
      case Transform::kBins:
        return check_.knownMembers(at, {"name", "column", "column_number", "transform", "edges"},
                                   named) &&
               readEdges(at, named, a);
      case Transform::kDatePart: {
        const JsonValue *part, *dayFirst;
        if (!check_.knownMembers(
                at, {"name", "column", "column_number", "transform", "part", "day_first"}, named) ||
            !check_.member(at, "part", JsonValue::Kind::kString, part) ||
            !check_.member(at, "day_first", JsonValue::Kind::kBool, dayFirst))
          return false;
        a.dayFirst = dayFirst->boolean();
        for (DatePart p : kDateParts)
          if (datePartName(p) == part->string()) {
            a.part = p;
            return true;
          }
        return check_.fail(*part, named + ": the date part " + jsonString(part->string()) +
                                      " is not one of year, quarter, month, day, weekday and hour");
      }
      case Transform::kCharacter: {
        const JsonValue *character, *length;
        if (!check_.knownMembers(
                at, {"name", "column", "column_number", "transform", "character", "length"},
                named) ||
            !check_.member(at, "character", JsonValue::Kind::kNumber, character) ||
            !check_.member(at, "length", JsonValue::Kind::kNumber, length) ||
            !check_.integer(*character, named + ": \"character\"", a.character) ||
            !check_.integer(*length, named + ": \"length\"", a.length))
          return false;
        if (a.character < 1 || a.character > a.length)
          return check_.fail(*character, named + ": \"character\" should be from 1 to the " +
                                             "\"length\", " + std::to_string(a.length));
        return true;
      }
    }
    return true;
  }

  bool readEdges(const JsonValue& at, const std::string& named, AttributeSource& a) {
    const JsonValue* edges;
    if (!check_.member(at, "edges", JsonValue::Kind::kArray, edges)) return false;
    for (const JsonValue& x : edges->items()) {
      double v = 0;
      const std::string& t = x.text();
      // The text read again with the same rounding the writer's text came from.
      const auto [end, ec] = x.isNumber()
                                 ? std::from_chars(t.data(), t.data() + t.size(), v)
                                 : std::from_chars_result{t.data(), std::errc::invalid_argument};
      if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v) ||
          (!a.edges.empty() && v <= a.edges.back()))
        return check_.fail(x, named + ": \"edges\" should be finite numbers in ascending order");
      a.edges.push_back(v);
    }
    return true;
  }

  JsonChecker check_;
};

}  // namespace

std::string_view datePartName(DatePart p) {
  switch (p) {
    case DatePart::kYear:
      return "year";
    case DatePart::kQuarter:
      return "quarter";
    case DatePart::kMonth:
      return "month";
    case DatePart::kDay:
      return "day";
    case DatePart::kWeekday:
      return "weekday";
    case DatePart::kHour:
      return "hour";
  }
  return "";
}

AttributeSource attributeFrom(std::string name, std::string column, int columnNumber,
                              Transform transform) {
  AttributeSource s;
  s.name = std::move(name);
  s.column = std::move(column);
  s.columnNumber = columnNumber;
  s.transform = transform;
  return s;
}

std::string csvEncodingJson(const CsvEncoding& e, const std::string& indent) {
  std::string missing = "[";
  for (size_t i = 0; i < e.missing.size(); ++i)
    missing += (i ? ", " : "") + jsonString(e.missing[i]);
  missing += "]";
  const std::string in = indent + "  ";
  std::string out = "{\n" + in + "\"format\": " + jsonString(kFormatName) + ",\n" + in +
                    "\"version\": " + std::to_string(CsvEncoding::kFormatVersion) + ",\n" + in +
                    "\"delimiter\": " + delimiterJson(e.delimiter) + ",\n" + in +
                    "\"decimal_mark\": " + (e.mark == DecimalMark::kPoint ? "\".\"" : "\",\"") +
                    ",\n" + in + "\"trim\": " + (e.trim ? "true" : "false") + ",\n" + in +
                    "\"header\": " + (e.header ? "true" : "false") + ",\n" + in +
                    "\"columns_by\": " + (e.columnsByName ? "\"name\"" : "\"number\"") + ",\n" +
                    in + "\"columns\": " + std::to_string(e.columns) + ",\n" + in +
                    "\"missing\": " + missing + ",\n" + in + "\"attributes\": [\n";
  for (size_t a = 0; a < e.attributes.size(); ++a)
    out +=
        in + "  " + attributeJson(e.attributes[a]) + (a + 1 < e.attributes.size() ? ",\n" : "\n");
  return out + in + "]\n" + indent + "}";
}

bool readCsvEncoding(const JsonValue& object, const std::string& fileName, CsvEncoding& encoding,
                     std::string& err) {
  CsvEncoding e;
  if (!EncodingReader(fileName, err).read(object, e)) return false;
  encoding = std::move(e);
  return true;
}

bool parseCsvEncoding(std::string_view text, const std::string& fileName, CsvEncoding& encoding,
                      std::string& err) {
  JsonValue root;
  if (!parseJson(text, root, err)) {
    err = fileName + ": the encoding is damaged: " + err;
    return false;
  }
  return readCsvEncoding(root, fileName, encoding, err);
}

bool matchesTable(const CsvEncoding& e, const std::vector<std::string>& names,
                  const std::vector<int>& domainSizes, const std::string& fileName,
                  std::string& err) {
  if (e.attributes.size() != names.size()) {
    err = fileName + ": the encoding makes " + std::to_string(e.attributes.size()) +
          " attributes, but the table has " + std::to_string(names.size());
    return false;
  }
  for (size_t a = 0; a < names.size(); ++a) {
    const AttributeSource& s = e.attributes[a];
    if (s.name != names[a]) {
      err = fileName + ": attribute " + std::to_string(a + 1) + " is '" + s.name +
            "' in the encoding, but '" + names[a] + "' in the table";
      return false;
    }
    if (s.transform == Transform::kBins &&
        static_cast<long long>(s.edges.size()) + 1 > domainSizes[a]) {
      err = fileName + ": attribute " + std::to_string(a + 1) + " '" + s.name + "' has " +
            std::to_string(s.edges.size() + 1) + " bins, but only " +
            std::to_string(domainSizes[a]) + " values in the table";
      return false;
    }
  }
  return true;
}

}  // namespace kelbow
