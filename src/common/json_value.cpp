#include "common/json_value.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "common/json_text.h"
#include "common/utf8.h"

namespace kelbow {

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [name, value] : members_)
    if (name == key) return &value;
  return nullptr;
}

std::string jsonKindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::kNull:
      return "null";
    case JsonValue::Kind::kBool:
      return "true or false";
    case JsonValue::Kind::kNumber:
      return "a number";
    case JsonValue::Kind::kString:
      return "a string";
    case JsonValue::Kind::kArray:
      return "an array";
    case JsonValue::Kind::kObject:
      return "an object";
  }
  return "?";
}

bool JsonChecker::fail(const JsonValue& at, const std::string& what, bool withLine) const {
  err_ = file_ + (withLine ? ":" + std::to_string(at.line()) : "") + ": " + what;
  return false;
}

bool JsonChecker::member(const JsonValue& object, std::string_view key, JsonValue::Kind kind,
                         const JsonValue*& out) const {
  out = object.find(key);
  if (out == nullptr) return fail(object, "the member \"" + std::string(key) + "\" is missing");
  if (out->kind() != kind)
    return fail(*out, "\"" + std::string(key) + "\" should be " + jsonKindName(kind) + ", not " +
                          jsonKindName(out->kind()));
  return true;
}

bool JsonChecker::knownMembers(const JsonValue& object,
                               std::initializer_list<std::string_view> known,
                               const std::string& which) const {
  for (const auto& [key, value] : object.members()) {
    bool found = false;
    for (std::string_view k : known) found = found || k == key;
    if (!found)
      return fail(value, (which.empty() ? "" : which + ": ") + "unknown member \"" + key + "\"");
  }
  return true;
}

bool JsonChecker::integer(const JsonValue& v, const std::string& what, int& out) const {
  const std::string& t = v.text();
  if (!v.isNumber() || t.empty() || t.size() > 10 ||
      t.find_first_not_of("0123456789") != std::string::npos || std::stoll(t) > INT_MAX)
    return fail(v, what + " should be a whole number from 0 to " + std::to_string(INT_MAX));
  out = static_cast<int>(std::stoll(t));
  return true;
}

bool JsonChecker::strings(const JsonValue& list, const std::string& what,
                          std::vector<std::string>& out, bool distinct) const {
  std::set<std::string> seen;
  for (const JsonValue& s : list.items()) {
    if (!s.isString()) return fail(s, what + " should hold strings only");
    if (distinct && !seen.insert(s.string()).second)
      return fail(s, what + " holds the value " + jsonString(s.string()) + " twice");
    out.push_back(s.string());
  }
  return true;
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : s_(text) {}

  bool document(JsonValue& out, std::string& err) {
    if (!value(out, 0)) return fail(err);
    blanks();
    if (at_ != s_.size()) {
      what_ = "something follows the value";
      return fail(err);
    }
    return true;
  }

 private:
  bool fail(std::string& err) {
    err = "line " + std::to_string(line_) + ": " + what_;
    return false;
  }
  bool wrong(std::string what) {
    what_ = std::move(what);
    return false;
  }
  void blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) {
      if (s_[at_] == '\n') ++line_;
      ++at_;
    }
  }
  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    blanks();
    v.line_ = line_;
    if (at_ == s_.size()) return wrong("the document ends where a value should be");
    const char c = s_[at_];
    if (c == '{' || c == '[') {
      if (depth >= kJsonDepthLimit) return wrong("nested too deeply");
      return c == '{' ? object(v, depth) : array(v, depth);
    }
    if (c == '"') {
      v.kind_ = JsonValue::Kind::kString;
      return string(v.text_);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return number(v);
    if (word("true") || word("false")) {
      v.kind_ = JsonValue::Kind::kBool;
      v.boolean_ = c == 't';
      return true;
    }
    if (word("null")) return true;
    return wrong(std::string("unexpected character '") + (c >= 0x20 && c < 0x7f ? c : '?') + "'");
  }

  bool object(JsonValue& v, int depth) {
    v.kind_ = JsonValue::Kind::kObject;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    for (;;) {
      blanks();
      if (at_ == s_.size() || s_[at_] != '"')
        return wrong("a member name in double quotes expected");
      std::string key;
      if (!string(key)) return false;
      if (v.find(key) != nullptr) return wrong("the member \"" + key + "\" appears twice");
      blanks();
      if (at_ == s_.size() || s_[at_] != ':') return wrong("':' expected after a member name");
      ++at_;
      v.members_.emplace_back(std::move(key), JsonValue());
      if (!value(v.members_.back().second, depth + 1)) return false;
      blanks();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      return wrong("',' or '}' expected in an object");
    }
  }

  bool array(JsonValue& v, int depth) {
    v.kind_ = JsonValue::Kind::kArray;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    for (;;) {
      v.items_.emplace_back();
      if (!value(v.items_.back(), depth + 1)) return false;
      blanks();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      return wrong("',' or ']' expected in an array");
    }
  }

  bool number(JsonValue& v) {
    const size_t start = at_;
    auto digits = [&] {
      const size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (s_[at_] == '-') ++at_;
    if (at_ < s_.size() && s_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return wrong("a digit expected in a number");
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (!digits()) return wrong("a digit expected after the decimal point");
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!digits()) return wrong("a digit expected in the exponent");
    }
    v.kind_ = JsonValue::Kind::kNumber;
    v.text_.assign(s_.substr(start, at_ - start));
    errno = 0;
    v.number_ = std::strtod(v.text_.c_str(), nullptr);
    if (errno == ERANGE && (v.number_ > 1 || v.number_ < -1))
      return wrong("the number " + v.text_ + " is too large");
    return true;
  }

  bool hex4(unsigned& out) {
    if (s_.size() - at_ < 4) return wrong("four hexadecimal digits expected after \\u");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return wrong("four hexadecimal digits expected after \\u");
      out = out * 16 + static_cast<unsigned>(d);
    }
    return true;
  }

  static void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool string(std::string& out) {
    ++at_;
    out.clear();
    for (;;) {
      if (at_ == s_.size()) return wrong("a string is not closed");
      const unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return wrong("a control character inside a string");
      if (c == '\\') {
        if (++at_ == s_.size()) return wrong("a string is not closed");
        const char e = s_[at_++];
        switch (e) {
          case '"':
          case '\\':
          case '/':
            out += e;
            break;
          case 'b':
            out += '\b';
            break;
          case 'f':
            out += '\f';
            break;
          case 'n':
            out += '\n';
            break;
          case 'r':
            out += '\r';
            break;
          case 't':
            out += '\t';
            break;
          case 'u': {
            unsigned cp = 0;
            if (!hex4(cp)) return false;
            if (cp >= 0xD800 && cp < 0xDC00) {
              unsigned low = 0;
              if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000)
                return wrong("a lone surrogate in a \\u escape");
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp < 0xE000) {
              return wrong("a lone surrogate in a \\u escape");
            }
            appendUtf8(out, cp);
            break;
          }
          default:
            return wrong(std::string("an unknown escape \\") + (e >= 0x20 && e < 0x7f ? e : '?'));
        }
        continue;
      }
      std::uint32_t cp = 0;
      const size_t len = utf8Sequence(s_.substr(at_), &cp);
      if (len == 0) return wrong("bytes that are not UTF-8 inside a string");
      out.append(s_.substr(at_, len));
      at_ += len;
    }
  }

  std::string_view s_;
  size_t at_ = 0;
  long line_ = 1;
  std::string what_;
};

bool parseJson(std::string_view text, JsonValue& out, std::string& err) {
  out = JsonValue();
  return JsonParser(text).document(out, err);
}

}  // namespace kelbow
