// JSON read back: a document parsed whole into a tree of values, strictly (no
// comments, no trailing commas, no duplicate keys, nothing after the value),
// for files a person may have edited, such as kelbow-assign's model. Every
// value remembers the line it starts on, so that a reader can say where a
// document is wrong.
#pragma once

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelbow {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const { return kind_; }
  long line() const { return line_; }
  bool isNumber() const { return kind_ == Kind::kNumber; }
  bool isString() const { return kind_ == Kind::kString; }
  bool isArray() const { return kind_ == Kind::kArray; }
  bool isObject() const { return kind_ == Kind::kObject; }

  bool boolean() const { return boolean_; }
  double number() const { return number_; }
  // The number's text as written (for integers beyond double's exact range).
  const std::string& text() const { return text_; }
  // The string, with its escapes resolved (UTF-8).
  const std::string& string() const { return text_; }
  const std::vector<JsonValue>& items() const { return items_; }
  // The members of an object in the order they were written.
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
  // The member named `key`, or null.
  const JsonValue* find(std::string_view key) const;

 private:
  friend class JsonParser;
  Kind kind_ = Kind::kNull;
  long line_ = 1;
  bool boolean_ = false;
  double number_ = 0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// Parses `text` whole. On bad JSON returns false with err "line N: what".
// Nesting deeper than kJsonDepthLimit is refused, so that no document can
// exhaust the stack.
inline constexpr int kJsonDepthLimit = 64;
bool parseJson(std::string_view text, JsonValue& out, std::string& err);

// The name of a kind for messages: "a number", "an object", ...
std::string jsonKindName(JsonValue::Kind kind);

// The checks of a file format read from a parsed document (a model, a
// table's encoding). A check that fails sets err to one line, "FILE:LINE:
// what" with the line of the value that is wrong, and returns false.
class JsonChecker {
 public:
  JsonChecker(const std::string& fileName, std::string& err) : file_(fileName), err_(err) {}

  // Fails at `at`; without `withLine` the message names the file alone.
  bool fail(const JsonValue& at, const std::string& what, bool withLine = true) const;
  // The member `key` of `object`, which must be there and of `kind`.
  bool member(const JsonValue& object, std::string_view key, JsonValue::Kind kind,
              const JsonValue*& out) const;
  // Refuses a member of `object` that is not one of `known`; `which` (may be
  // empty) starts the message.
  bool knownMembers(const JsonValue& object, std::initializer_list<std::string_view> known,
                    const std::string& which) const;
  // A count: digits only, at most INT_MAX.
  bool integer(const JsonValue& v, const std::string& what, int& out) const;
  // An array of strings, each once when `distinct`, appended to `out`.
  bool strings(const JsonValue& list, const std::string& what, std::vector<std::string>& out,
               bool distinct) const;

 private:
  const std::string& file_;
  std::string& err_;
};

}  // namespace kelbow
