#pragma once
// A strict JSON reader for the tests: the text must be UTF-8 and follow the
// JSON grammar exactly, or Read returns nothing.
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovimar::testing {

struct Json {
  enum Type { Null, Bool, Number, String, Array, Object } type = Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](const std::string& key) const {
    for (const auto& [k, v] : members) {
      if (k == key) return v;
    }
    static const Json missing;
    return missing;
  }
  const Json& operator[](std::size_t index) const { return items.at(index); }
  bool Has(const std::string& key) const {
    for (const auto& m : members) {
      if (m.first == key) return true;
    }
    return false;
  }
};

class JsonReader {
 public:
  static std::optional<Json> Read(std::string_view text) {
    JsonReader r(text);
    Json value;
    r.Space();
    if (!r.Value(value)) return std::nullopt;
    r.Space();
    if (r.pos_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  explicit JsonReader(std::string_view text) : s_(text) {}

  bool Peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
  bool Eat(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  void Space() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) ++pos_;
  }
  bool Word(std::string_view w) {
    if (s_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  bool Value(Json& v) {
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') return ObjectValue(v);
    if (c == '[') return ArrayValue(v);
    if (c == '"') {
      v.type = Json::String;
      return StringValue(v.string);
    }
    if (Word("true")) {
      v.type = Json::Bool;
      v.boolean = true;
      return true;
    }
    if (Word("false")) {
      v.type = Json::Bool;
      return true;
    }
    if (Word("null")) return true;
    return NumberValue(v);
  }

  bool ObjectValue(Json& v) {
    v.type = Json::Object;
    ++pos_;
    Space();
    if (Eat('}')) return true;
    for (;;) {
      Space();
      std::string key;
      if (!Peek('"') || !StringValue(key)) return false;
      Space();
      if (!Eat(':')) return false;
      Space();
      Json member;
      if (!Value(member)) return false;
      v.members.emplace_back(std::move(key), std::move(member));
      Space();
      if (Eat('}')) return true;
      if (!Eat(',')) return false;
    }
  }

  bool ArrayValue(Json& v) {
    v.type = Json::Array;
    ++pos_;
    Space();
    if (Eat(']')) return true;
    for (;;) {
      Space();
      Json item;
      if (!Value(item)) return false;
      v.items.push_back(std::move(item));
      Space();
      if (Eat(']')) return true;
      if (!Eat(',')) return false;
    }
  }

  static void AppendUtf8(std::string& out, unsigned cp) {
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

  bool Hex4(unsigned& cp) {
    if (pos_ + 4 > s_.size()) return false;
    cp = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[pos_++];
      cp <<= 4;
      if (c >= '0' && c <= '9') cp |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') cp |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') cp |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
  bool Utf8(std::string& out) {
    const auto b = [this](std::size_t k) { return static_cast<unsigned char>(s_[pos_ + k]); };
    const unsigned char c = b(0);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else return false;
    if (pos_ + n > s_.size() || b(1) < lo || b(1) > hi) return false;
    for (std::size_t k = 2; k < n; ++k) {
      if (b(k) < 0x80 || b(k) > 0xBF) return false;
    }
    out.append(s_.substr(pos_, n));
    pos_ += n;
    return true;
  }

  bool StringValue(std::string& out) {
    ++pos_;
    while (pos_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!Utf8(out)) return false;
        continue;
      }
      ++pos_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool NumberValue(Json& v) {
    const std::size_t start = pos_;
    Eat('-');
    if (Eat('0')) {
    } else if (pos_ < s_.size() && s_[pos_] >= '1' && s_[pos_] <= '9') {
      Digits();
    } else {
      return false;
    }
    if (Eat('.') && !Digits()) return false;
    if (Eat('e') || Eat('E')) {
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    std::string text(s_.substr(start, pos_ - start));
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v.number);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    v.type = Json::Number;
    return true;
  }

  bool Digits() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace tovimar::testing
