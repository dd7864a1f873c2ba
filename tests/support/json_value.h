#pragma once
// Reads JSON back in tests: enough of it for the reports and the command line's JSON lines.

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

struct Json {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject } type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  [[nodiscard]] const Json& operator[](const std::string& key) const {
    static const Json kNone;
    const auto it = members.find(key);
    return it == members.end() ? kNone : it->second;
  }
  [[nodiscard]] const Json& operator[](size_t i) const { return items.at(i); }
  [[nodiscard]] bool Has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  // The value, or none when `text` is not one JSON value.
  static std::optional<Json> Parse(std::string_view text) {
    JsonReader r(text);
    Json v;
    if (!r.Value(v)) return std::nullopt;
    r.Blank();
    if (r.i_ != text.size()) return std::nullopt;
    return v;
  }

 private:
  explicit JsonReader(std::string_view t) : t_(t) {}
  void Blank() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t'))
      ++i_;
  }
  bool Word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool String(std::string& out) {
    if (i_ >= t_.size() || t_[i_] != '"') return false;
    for (++i_; i_ < t_.size(); ++i_) {
      char c = t_[i_];
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c == '\\') {
        if (++i_ >= t_.size()) return false;
        c = t_[i_];
        if (c == 'n') c = '\n';
        if (c == 't') c = '\t';
        if (c == 'r') c = '\r';
        if (c == 'u') {
          c = static_cast<char>(
              std::strtol(std::string(t_.substr(i_ + 1, 4)).c_str(), nullptr, 16));
          i_ += 4;
        }
      }
      out += c;
    }
    return false;
  }
  bool Value(Json& v) {
    Blank();
    if (i_ >= t_.size()) return false;
    const char c = t_[i_];
    if (c == '{') {
      v.type = Json::Type::kObject;
      ++i_;
      Blank();
      if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
      while (true) {
        Blank();
        std::string key;
        if (!String(key)) return false;
        Blank();
        if (!Word(":")) return false;
        if (!Value(v.members[key])) return false;
        Blank();
        if (Word("}")) return true;
        if (!Word(",")) return false;
      }
    }
    if (c == '[') {
      v.type = Json::Type::kArray;
      ++i_;
      Blank();
      if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
      while (true) {
        v.items.emplace_back();
        if (!Value(v.items.back())) return false;
        Blank();
        if (Word("]")) return true;
        if (!Word(",")) return false;
      }
    }
    if (c == '"') {
      v.type = Json::Type::kString;
      return String(v.text);
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      v.type = Json::Type::kBool;
      v.boolean = t_[i_ - 1] == 'e' && t_[i_ - 2] == 'u';
      return true;
    }
    const std::string rest(t_.substr(i_, 40));
    char* end = nullptr;
    v.number = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str()) return false;
    v.type = Json::Type::kNumber;
    i_ += static_cast<size_t>(end - rest.c_str());
    return true;
  }

  std::string_view t_;
  size_t i_ = 0;
};

}  // namespace testsupport
