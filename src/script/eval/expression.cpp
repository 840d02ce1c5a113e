#include "script/eval/expression.h"

#include <optional>
#include <vector>

#include "engine/statement_error.h"

namespace kem {
namespace {

// Decimal digits with an optional sign that must be followed by a digit.
bool IsIntegerLiteral(std::string_view s) {
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Value of an integer literal; nullopt when it lies outside the 32-bit range.
std::optional<std::int64_t> LiteralValue(std::string_view s) {
  bool negative = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') s.remove_prefix(1);
  std::int64_t v = 0;
  for (char c : s) {
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return std::nullopt;
  return v;
}

enum class Op { Eq, Ne, Le, Lt, Ge, Gt };

std::optional<Op> ParseOperator(std::string_view s) {
  if (s == "=") return Op::Eq;
  if (s == "<>") return Op::Ne;
  if (s == "<=") return Op::Le;
  if (s == "<") return Op::Lt;
  if (s == ">=") return Op::Ge;
  if (s == ">") return Op::Gt;
  return std::nullopt;
}

template <typename T>
bool Apply(Op op, const T& a, const T& b) {
  switch (op) {
    case Op::Eq: return a == b;
    case Op::Ne: return a != b;
    case Op::Le: return a <= b;
    case Op::Lt: return a < b;
    case Op::Ge: return a >= b;
    case Op::Gt: return a > b;
  }
  return false;
}

class Parser {
 public:
  Parser(std::string_view text, bool checkOnly) : checkOnly_(checkOnly) {
    s_.reserve(text.size() + 2);
    s_ += '(';
    s_.append(text);
    s_ += ')';
  }

  // nullopt on a syntax error.
  std::optional<bool> Run() {
    enum class Connective { None, And, Or };
    struct Frame {
      bool hasValue = false;
      bool value = false;
      Connective pending = Connective::None;
    };
    // Frame 0 is the outermost list (ended by the end of the text); every "(" opens a
    // frame ended by ")". Iterative, so deep nesting cannot exhaust the stack.
    std::vector<Frame> frames(1);
    auto combine = [&](bool v) {
      Frame& f = frames.back();
      if (!f.hasValue) f.value = v;
      else if (f.pending == Connective::And) f.value = f.value && v;
      else f.value = f.value || v;
      f.hasValue = true;
      f.pending = Connective::None;
    };

    bool expectTerm = true;
    for (;;) {
      SkipSpaces();
      if (expectTerm) {
        if (AtEnd()) return std::nullopt;
        if (s_[pos_] == '(') {
          ++pos_;
          frames.emplace_back();
          continue;
        }
        if (s_[pos_] != '"') return std::nullopt;
        auto v = Comparison();
        if (!v) return std::nullopt;
        combine(*v);
        expectTerm = false;
        continue;
      }
      if (AtEnd()) {
        if (frames.size() != 1) return std::nullopt;  // missing ")"
        return frames.back().value;
      }
      if (s_[pos_] == ')') {
        if (frames.size() == 1) return std::nullopt;  // left over after the expression
        ++pos_;
        bool v = frames.back().value;
        frames.pop_back();
        combine(v);
        continue;
      }
      std::size_t start = pos_;
      while (!AtEnd() && s_[pos_] != ' ' && s_[pos_] != '"') ++pos_;
      std::string_view word(s_.data() + start, pos_ - start);
      if (word == "and") frames.back().pending = Connective::And;
      else if (word == "or") frames.back().pending = Connective::Or;
      else return std::nullopt;
      expectTerm = true;
    }
  }

 private:
  bool AtEnd() const { return pos_ >= s_.size(); }
  void SkipSpaces() {
    while (!AtEnd() && s_[pos_] == ' ') ++pos_;
  }

  // Reads a quoted operand into text (a buffer reused across comparisons).
  bool Operand(std::string& text) {
    if (AtEnd() || s_[pos_] != '"') return false;
    ++pos_;
    text.clear();
    for (;;) {
      std::size_t quote = s_.find('"', pos_);
      if (quote == std::string::npos) return false;  // missing closing quote
      text.append(s_, pos_, quote - pos_);
      pos_ = quote + 1;
      if (pos_ < s_.size() && s_[pos_] == '"') {
        text.push_back('"');
        ++pos_;
        continue;
      }
      return true;
    }
  }

  std::optional<bool> Comparison() {
    if (!Operand(left_)) return std::nullopt;
    SkipSpaces();
    std::size_t start = pos_;
    while (!AtEnd() && s_[pos_] != ' ' && s_[pos_] != '"') ++pos_;
    auto op = ParseOperator(std::string_view(s_.data() + start, pos_ - start));
    if (!op) return std::nullopt;
    SkipSpaces();
    if (!Operand(right_)) return std::nullopt;
    if (IsIntegerLiteral(left_) && IsIntegerLiteral(right_)) {
      auto a = LiteralValue(left_);
      auto b = LiteralValue(right_);
      if (a && b) return Apply(*op, *a, *b);
      if (checkOnly_) return false;
      throw StatementError("Integer value '" + (a ? right_ : left_) + "' in the expression is out of range");
    }
    return Apply(*op, left_, right_);  // byte by byte, unsigned
  }

  std::string left_;
  std::string right_;

  std::string s_;
  std::size_t pos_ = 0;
  bool checkOnly_;
};

}  // namespace

std::string EvaluateExpression(std::string_view text) {
  auto v = Parser(text, false).Run();
  if (!v) return "ERROR";
  return *v ? "TRUE" : "FALSE";
}

bool ExpressionSyntaxOk(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == '$') c = '"';
  return Parser(s, true).Run().has_value();
}

}  // namespace kem
