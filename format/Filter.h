#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kel/format/TableReader.h"
#include "kel/format/Value.h"

// The attribute filter: the conditions that users of `ogr2ogr -where` write, read with GDAL's
// meanings.
//
//   condition   := term {OR term}            term := factor {AND factor}
//   factor      := NOT factor | '(' condition ')' | operand test
//   test        := op operand                 op: = <> != < <= > >=
//                | [NOT] LIKE 'pattern' [ESCAPE 'c']     (ILIKE ignores letter case)
//                | [NOT] IN (operand, ...)  | [NOT] BETWEEN operand AND operand
//                | IS [NOT] NULL
//   operand     := column | "quoted column" | number | -number | 'text' ('' for a quote)
//
// Keywords and column names are read in any letter case. Text compares ignoring the case of ASCII
// letters, as GDAL compares it, except in LIKE, where '%' stands for any run of characters and '_'
// for one. A text literal against a Number column is read as a number, against a Date column as a
// date (YYYY-MM-DD or YYYY/MM/DD); a Logical column reads as its letter, T or F. A test with a
// null value is false, and NOT makes it true, except that one of dates is unknown, as are NOT,
// AND and OR of it, and a record passes only when the whole is true.
namespace kel::format {

// A filter that cannot be read: the character (counted from 0) where the fault lies, and what it
// is. what() gives both.
struct FilterError : std::runtime_error {
  FilterError(std::size_t position, const std::string& sentence);
  std::size_t position;
  std::string sentence;
};

// The column of a name: the one of that very name, else the first whose name differs only in
// letter case; none when there is neither.
std::optional<std::size_t> findColumn(const std::vector<Column>& columns, std::string_view name);

class Filter {
 public:
  // The deepest nesting of parentheses and NOTs that a filter may have.
  static constexpr int kMaxDepth = 100;

  // Reads `text` against the table's columns; throws FilterError.
  static Filter parse(std::string_view text, const std::vector<Column>& columns);

  // The columns (by their index in the table) whose values the filter reads.
  const std::vector<std::size_t>& columns() const noexcept { return read_; }
  // Whether a row passes, given its values by column index (those the filter reads at least).
  bool test(const std::vector<Value>& values) const;

  struct Operand {
    std::ptrdiff_t column = -1;  // else the literal
    Value literal;
  };
  enum class Op { Or, And, Not, Compare, Like, In, Between, IsNull };
  struct Node {
    Op op = Op::IsNull;
    std::vector<std::size_t> parts;  // Or, And: every side of a chain; Not: the one
    std::string compare;           // "=", "<>", "<", "<=", ">", ">="
    std::vector<Operand> operands;  // the left one first
    bool negated = false, caseless = false;
    bool dates = false;  // a test of dates
    std::string pattern;
    std::string escape;  // one character or none
  };

 private:
  enum class Truth { False, True, Unknown };
  Truth eval(std::size_t node, const std::vector<Value>& values) const;
  friend class FilterParser;
  std::vector<Node> nodes_;
  std::size_t root_ = 0;
  std::vector<std::size_t> read_;
};

}  // namespace kel::format
