#include "kel/format/Filter.h"

#include <charconv>
#include <optional>

#include "kel/runtime/Text.h"

namespace kel::format {

namespace {

enum class Kind { Number, Text, Date };

Kind kindOf(const FieldDescriptor& d) {
  switch (columnTypeOf(d.type).value_or(ColumnType::Character)) {
    case ColumnType::Number:
    case ColumnType::Float:
    case ColumnType::Integer:
      return Kind::Number;
    case ColumnType::Date:
      return Kind::Date;
    case ColumnType::Character:
    case ColumnType::Memo:
    case ColumnType::Logical:  // its letter, T or F, as GDAL gives it
      return Kind::Text;
  }
  return Kind::Text;
}

const char* nameOf(Kind k) {
  return k == Kind::Number ? "a number" : k == Kind::Date ? "a date" : "text";
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int compareCaseless(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    auto x = static_cast<unsigned char>(lower(a[i])), y = static_cast<unsigned char>(lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

std::string_view textOf(const Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? "T" : "F";
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* r = std::get_if<RawBytes>(&v)) return r->bytes;
  return {};
}

// -1, 0 or 1; none when the two cannot be compared (a null among them).
std::optional<int> compare(const Value& a, const Value& b) {
  if (isNull(a) || isNull(b)) return std::nullopt;
  auto* i = std::get_if<std::int64_t>(&a);
  auto* j = std::get_if<std::int64_t>(&b);
  if (i != nullptr && j != nullptr) return *i < *j ? -1 : *i > *j ? 1 : 0;
  std::optional<double> x = asDouble(a), y = asDouble(b);
  if (x && y) return *x < *y ? -1 : *x > *y ? 1 : 0;
  auto* d = std::get_if<Date>(&a);
  auto* e = std::get_if<Date>(&b);
  if (d != nullptr && e != nullptr) return *d < *e ? -1 : *e < *d ? 1 : 0;
  if (x || y || d != nullptr || e != nullptr) return std::nullopt;
  return compareCaseless(textOf(a), textOf(b));
}

// The length of the UTF-8 character that starts with byte c.
std::size_t charLength(unsigned char c) {
  return c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
}

bool like(std::string_view s, std::string_view p, std::string_view escape, bool caseless) {
  // Backtracks to the last '%' only: linear in practice, quadratic at worst.
  std::size_t si = 0, pi = 0, starP = std::string_view::npos, starS = 0;
  auto escapeAt = [&](std::size_t at) {
    return !escape.empty() && p.compare(at, escape.size(), escape) == 0;
  };
  while (si < s.size()) {
    if (pi < p.size() && !escapeAt(pi) && p[pi] == '%') {
      starP = ++pi;
      starS = si;
      continue;
    }
    bool escaped = pi < p.size() && escapeAt(pi);
    std::size_t at = pi + (escaped ? escape.size() : 0);
    if (at < p.size()) {
      std::size_t n = charLength(static_cast<unsigned char>(p[at]));
      std::size_t m = charLength(static_cast<unsigned char>(s[si]));
      bool any = !escaped && p[at] == '_';
      bool same = n == m && (caseless ? compareCaseless(p.substr(at, n), s.substr(si, m)) == 0
                                      : p.compare(at, n, s, si, m) == 0);
      if (any || same) {
        si += m;
        pi = at + n;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    pi = starP;
    si = starS += charLength(static_cast<unsigned char>(s[starS]));
  }
  while (pi < p.size() && p[pi] == '%') ++pi;
  return pi == p.size();
}

// A date as a filter writes it: YYYY-MM-DD or YYYY/MM/DD, month and day of one or two digits.
std::optional<Date> dateOf(std::string_view s) {
  Date d;
  int* parts[3] = {&d.year, &d.month, &d.day};
  const char* p = s.data();
  const char* end = p + s.size();
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (p == end || (*p != '-' && *p != '/')) return std::nullopt;
      ++p;
    }
    auto [next, ec] = std::from_chars(p, end, *parts[k]);
    if (ec != std::errc() || next - p > (k == 0 ? 4 : 2)) return std::nullopt;
    p = next;
  }
  if (p != end || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return std::nullopt;
  return d;
}

std::optional<Value> numberLiteral(std::string_view s) {
  std::int64_t i = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), i);
  if (ec == std::errc() && p == s.data() + s.size()) return Value(i);
  double d = 0;
  auto [q, ec2] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec2 == std::errc() && q == s.data() + s.size()) return Value(d);
  return std::nullopt;
}

bool isKeyword(std::string_view word) {
  for (const char* k : {"and", "or", "not", "like", "ilike", "escape", "in", "between", "is",
                        "null"}) {
    if (compareCaseless(word, k) == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<std::size_t> findColumn(const std::vector<Column>& columns, std::string_view name) {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].name == name) return c;
  }
  const std::u16string wanted = toUtf16(name);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (equalsIgnoringCase(toUtf16(columns[c].name), wanted)) return c;
  }
  return std::nullopt;
}

FilterError::FilterError(std::size_t at, const std::string& said)
    : std::runtime_error("the filter, at character " + std::to_string(at) + ": " + said),
      position(at),
      sentence(said) {}

class FilterParser {
 public:
  FilterParser(std::string_view text, const std::vector<Column>& columns, Filter& out)
      : text_(text), columns_(columns), out_(out) {}

  void run() {
    next();
    out_.root_ = condition(0);
    if (token_.kind != End) fail(token_.at, "expected AND, OR or the end of the filter");
  }

 private:
  enum TokenKind { End, Word, Quoted, Number, String, Symbol };
  struct Token {
    TokenKind kind = End;
    std::size_t at = 0;  // in bytes
    std::string text;
  };

  [[noreturn]] void fail(std::size_t byte, const std::string& sentence) const {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < byte && i < text_.size(); ++i) {
      chars += (static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80;
    }
    throw FilterError(chars, sentence);
  }

  void next() {
    std::size_t i = pos_;
    while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\n' ||
                                text_[i] == '\r')) {
      ++i;
    }
    token_ = Token{End, i, {}};
    if (i == text_.size()) {
      pos_ = i;
      return;
    }
    char c = text_[i];
    auto word = [](char ch) {
      return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' ||
             (ch >= '0' && ch <= '9') || static_cast<unsigned char>(ch) >= 0x80;
    };
    std::size_t j = i;
    if (c == '\'' || c == '"') {
      token_.kind = c == '\'' ? String : Quoted;
      for (++j;; ++j) {
        if (j >= text_.size()) {
          fail(i, c == '\'' ? "the text has no closing quote" : "the name has no closing quote");
        }
        if (text_[j] == c) {
          if (j + 1 < text_.size() && text_[j + 1] == c) {
            token_.text += c;
            ++j;
            continue;
          }
          break;
        }
        token_.text += text_[j];
      }
      pos_ = j + 1;
      return;
    }
    if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < text_.size() && text_[i + 1] >= '0' &&
                                   text_[i + 1] <= '9')) {
      token_.kind = Number;
      while (j < text_.size() && ((text_[j] >= '0' && text_[j] <= '9') || text_[j] == '.')) ++j;
      if (j < text_.size() && (text_[j] == 'e' || text_[j] == 'E')) {
        ++j;
        if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
        while (j < text_.size() && text_[j] >= '0' && text_[j] <= '9') ++j;
      }
      if (j < text_.size() && word(text_[j])) fail(i, "a number runs into letters");
    } else if (word(c)) {
      token_.kind = Word;
      while (j < text_.size() && word(text_[j])) ++j;
    } else {
      token_.kind = Symbol;
      j = i + 1;
      if (j < text_.size() && ((c == '<' && (text_[j] == '>' || text_[j] == '=')) ||
                               ((c == '>' || c == '!') && text_[j] == '='))) {
        ++j;
      }
      if (c == '!' && j == i + 1) fail(i, "'!' stands only in '!='");
      if (std::string_view("=<>!(),-").find(c) == std::string_view::npos) {
        fail(i, "the character '" + std::string(text_.substr(i, charLength(c))) +
                    "' has no meaning here");
      }
    }
    token_.text = std::string(text_.substr(i, j - i));
    pos_ = j;
  }

  bool keyword(const char* k) const {
    return token_.kind == Word && compareCaseless(token_.text, k) == 0;
  }
  bool symbol(const char* s) const { return token_.kind == Symbol && token_.text == s; }
  void expect(const char* s, const char* said) {
    if (!symbol(s)) fail(token_.at, std::string("expected ") + said);
    next();
  }
  void expectKeyword(const char* k) {
    if (!keyword(k)) fail(token_.at, std::string("expected ") + k);
    next();
  }

  static Filter::Node joined(Filter::Op op, std::vector<std::size_t> parts) {
    Filter::Node n;
    n.op = op;
    n.parts = std::move(parts);
    return n;
  }

  std::size_t add(Filter::Node node) {
    out_.nodes_.push_back(std::move(node));
    return out_.nodes_.size() - 1;
  }

  void deeper(int depth) const {
    if (depth >= Filter::kMaxDepth) {
      fail(token_.at, "the filter nests more than " + std::to_string(Filter::kMaxDepth) +
                          " deep");
    }
  }

  // A chain of terms joined by OR is one node, as is one of factors joined by AND, so that a long
  // chain costs no depth.
  std::size_t condition(int depth) {
    std::vector<std::size_t> parts = {term(depth)};
    while (keyword("or")) {
      next();
      parts.push_back(term(depth));
    }
    return parts.size() == 1 ? parts[0] : add(joined(Filter::Op::Or, std::move(parts)));
  }

  std::size_t term(int depth) {
    std::vector<std::size_t> parts = {factor(depth)};
    while (keyword("and")) {
      next();
      parts.push_back(factor(depth));
    }
    return parts.size() == 1 ? parts[0] : add(joined(Filter::Op::And, std::move(parts)));
  }

  std::size_t factor(int depth) {
    deeper(depth);
    if (keyword("not")) {
      next();
      std::size_t inner = factor(depth + 1);
      return add(joined(Filter::Op::Not, {inner}));
    }
    if (symbol("(")) {
      next();
      std::size_t inner = condition(depth + 1);
      expect(")", "')' or AND or OR");
      return inner;
    }
    return test();
  }

  // An operand and the kind of its values; a text literal has none yet (it takes the other
  // side's).
  struct Typed {
    Filter::Operand operand;
    std::optional<Kind> kind;
    std::size_t at = 0;
    bool literalText = false;
  };

  Typed operand() {
    Typed t;
    t.at = token_.at;
    if (token_.kind == Word && !isKeyword(token_.text)) return column();
    if (token_.kind == Quoted) return column();
    bool minus = symbol("-");
    if (minus) next();
    if (token_.kind == Number) {
      std::optional<Value> v = numberLiteral((minus ? "-" : "") + token_.text);
      if (!v) fail(token_.at, "'" + token_.text + "' is no number");
      t.operand.literal = *v;
      t.kind = Kind::Number;
      next();
      return t;
    }
    if (minus) fail(token_.at, "expected a number after '-'");
    if (token_.kind == String) {
      t.operand.literal = token_.text;
      t.literalText = true;
      next();
      return t;
    }
    fail(token_.at, token_.kind == End ? "the filter ends where a column, a number or a text "
                                         "is expected"
                                       : "expected a column, a number or a text, not '" +
                                             token_.text + "'");
  }

  Typed column() {
    const std::string name = token_.text;
    Typed t;
    t.at = token_.at;
    std::optional<std::size_t> at = findColumn(columns_, name);
    std::ptrdiff_t found = at ? static_cast<std::ptrdiff_t>(*at) : -1;
    if (found < 0) fail(token_.at, "there is no column " + name);
    t.operand.column = found;
    t.kind = kindOf(columns_[static_cast<std::size_t>(found)].descriptor);
    bool known = false;
    for (std::size_t c : out_.read_) known = known || c == static_cast<std::size_t>(found);
    if (!known) out_.read_.push_back(static_cast<std::size_t>(found));
    next();
    return t;
  }

  // Makes the two operands comparable: a text literal takes the other side's kind.
  void agree(Typed& left, Typed& right) {
    for (Typed* t : {&left, &right}) {
      Typed& other = t == &left ? right : left;
      if (!t->literalText || !other.kind || *other.kind == Kind::Text) continue;
      const std::string& s = std::get<std::string>(t->operand.literal);
      if (*other.kind == Kind::Number) {
        std::optional<Value> v = numberLiteral(s);
        if (!v) fail(t->at, "'" + s + "' is no number, which the other side is");
        t->operand.literal = *v;
      } else {
        std::optional<Date> d = dateOf(s);
        if (!d) fail(t->at, "'" + s + "' is no date (YYYY-MM-DD), which the other side is");
        t->operand.literal = *d;
      }
      t->kind = other.kind;
      t->literalText = false;
    }
    Kind a = left.kind.value_or(Kind::Text), b = right.kind.value_or(Kind::Text);
    if (a != b) {
      fail(right.at, std::string("compares ") + nameOf(a) + " with " + nameOf(b));
    }
  }

  std::size_t test() {
    Typed left = operand();
    Filter::Node n;
    if (keyword("is")) {
      next();
      n.op = Filter::Op::IsNull;
      if (keyword("not")) {
        n.negated = true;
        next();
      }
      expectKeyword("NULL");
      n.operands = {left.operand};
      return add(std::move(n));
    }
    if (keyword("not")) {
      n.negated = true;
      next();
      if (!keyword("like") && !keyword("ilike") && !keyword("in") && !keyword("between")) {
        fail(token_.at, "expected LIKE, ILIKE, IN or BETWEEN after NOT");
      }
    }
    if (keyword("like") || keyword("ilike")) {
      n.op = Filter::Op::Like;
      n.caseless = keyword("ilike");
      if (left.kind.value_or(Kind::Text) != Kind::Text) fail(left.at, "LIKE takes text only");
      next();
      if (token_.kind != String) fail(token_.at, "expected the pattern, a quoted text");
      n.pattern = token_.text;
      next();
      if (keyword("escape")) {
        next();
        if (token_.kind != String || token_.text.empty() ||
            charLength(static_cast<unsigned char>(token_.text[0])) != token_.text.size()) {
          fail(token_.at, "expected the escape character, one quoted character");
        }
        n.escape = token_.text;
        next();
      }
      n.operands = {left.operand};
      return add(std::move(n));
    }
    if (keyword("in")) {
      n.op = Filter::Op::In;
      next();
      expect("(", "'(' and the values");
      n.operands = {left.operand};
      for (;;) {
        Typed l = left, v = operand();
        agree(l, v);
        n.dates = l.kind == Kind::Date;
        n.operands.push_back(v.operand);
        if (!symbol(",")) break;
        next();
      }
      expect(")", "',' or ')'");
      return add(std::move(n));
    }
    if (keyword("between")) {
      n.op = Filter::Op::Between;
      next();
      Typed low = operand();
      expectKeyword("AND");
      Typed high = operand();
      Typed l1 = left, l2 = left;
      agree(l1, low);
      agree(l2, high);
      n.dates = l1.kind == Kind::Date;
      n.operands = {l1.operand, low.operand, high.operand};
      return add(std::move(n));
    }
    if (n.negated) fail(token_.at, "expected LIKE, ILIKE, IN or BETWEEN after NOT");
    static const char* const kOps[] = {"=", "<>", "!=", "<", "<=", ">", ">="};
    bool found = false;
    for (const char* op : kOps) found = found || symbol(op);
    if (!found) {
      fail(token_.at, token_.kind == End
                          ? "the filter ends where a comparison is expected"
                          : "expected a comparison (=, <>, <, <=, >, >=, LIKE, IN, BETWEEN, IS)");
    }
    n.op = Filter::Op::Compare;
    n.compare = token_.text == "!=" ? "<>" : token_.text;
    next();
    Typed right = operand();
    agree(left, right);
    n.dates = left.kind == Kind::Date;
    n.operands = {left.operand, right.operand};
    return add(std::move(n));
  }

  std::string_view text_;
  const std::vector<Column>& columns_;
  Filter& out_;
  std::size_t pos_ = 0;
  Token token_;
};

Filter Filter::parse(std::string_view text, const std::vector<Column>& columns) {
  Filter f;
  FilterParser(text, columns, f).run();
  return f;
}

bool Filter::test(const std::vector<Value>& values) const {
  return eval(root_, values) == Truth::True;
}

// GDAL's logic: a test with a null value is false, and NOT makes it true; but a test of dates
// with a null one is unknown, and so is NOT of it, and AND and OR with it.
Filter::Truth Filter::eval(std::size_t at, const std::vector<Value>& values) const {
  const Node& n = nodes_[at];
  auto value = [&](const Operand& o) -> const Value& {
    return o.column >= 0 ? values[static_cast<std::size_t>(o.column)] : o.literal;
  };
  auto truth = [](bool b) { return b ? Truth::True : Truth::False; };
  if (n.op == Op::Or || n.op == Op::And) {
    const Truth decisive = n.op == Op::Or ? Truth::True : Truth::False;
    bool decided = false;
    for (std::size_t part : n.parts) {
      Truth t = eval(part, values);
      if (t == Truth::Unknown) return t;
      decided = decided || t == decisive;
    }
    return decided ? decisive : decisive == Truth::True ? Truth::False : Truth::True;
  }
  if (n.op == Op::Not) {
    Truth a = eval(n.parts[0], values);
    return a == Truth::Unknown ? a : truth(a == Truth::False);
  }
  if (n.op == Op::IsNull) return truth(isNull(value(n.operands[0])) != n.negated);
  for (const Operand& o : n.operands) {
    if (isNull(value(o))) return n.dates ? Truth::Unknown : truth(n.negated);
  }
  const Value& v = value(n.operands[0]);
  bool result = false;
  switch (n.op) {
    case Op::Compare: {
      int c = compare(v, value(n.operands[1])).value_or(0);
      const std::string& op = n.compare;
      return truth(op == "=" ? c == 0 : op == "<>" ? c != 0 : op == "<" ? c < 0 : op == "<=" ? c <= 0
                                                : op == ">"  ? c > 0
                                                             : c >= 0);
    }
    case Op::Like:
      result = like(textOf(v), n.pattern, n.escape, n.caseless);
      break;
    case Op::In:
      for (std::size_t k = 1; k < n.operands.size() && !result; ++k) {
        result = compare(v, value(n.operands[k])) == 0;
      }
      break;
    case Op::Between:
      result = compare(v, value(n.operands[1])) >= 0 && compare(v, value(n.operands[2])) <= 0;
      break;
    case Op::Or:
    case Op::And:
    case Op::Not:
    case Op::IsNull:
      break;
  }
  return truth(result != n.negated);
}

}  // namespace kel::format
