#include "GeoJsonFeatures.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

constexpr std::size_t kMaxProperties = kel::format::kMaxColumns;
constexpr int kMaxNesting = 4;  // of a MultiPolygon's coordinates

// The file's bytes as the JSON parser reads them, a chunk at a time through the file's window, and
// how many of them it has read.
class Input {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;

  explicit Input(kel::ReadOnlyFile& file) : file_(file) {}

  // The next byte, or -1 at the end of the input.
  int peek() {
    if (at_ >= chunk_.size() && !load()) return -1;
    return chunk_[at_];
  }
  void skip() { ++at_; }  // after a peek that saw a byte
  // The bytes read ahead of the next one in the current chunk (after a peek that saw one).
  std::span<const unsigned char> ahead() const { return chunk_.subspan(at_); }
  void skip(std::size_t n) { at_ += n; }

  std::int64_t position() const { return chunkStart_ + static_cast<std::int64_t>(at_); }

  // How many bytes come before the next unescaped '"' (to the end of the input if none does):
  // the room a string's text takes at most, read ahead without moving.
  std::int64_t toQuote() {
    if (peek() < 0) return 0;
    std::int64_t from = position(), at = from;
    bool escaped = false, moved = false;
    for (std::span<const unsigned char> bytes = ahead(); !bytes.empty();) {
      for (unsigned char c : bytes) {
        if (!escaped && c == '"') {
          if (moved) chunk_ = file_.view(chunkStart_, kChunk);
          return at - from;
        }
        escaped = !escaped && c == '\\';
        ++at;
      }
      bytes = file_.view(at, kChunk);
      moved = true;
    }
    chunk_ = file_.view(chunkStart_, kChunk);
    return at - from;
  }

  // The line and column (both from 1, the column in bytes) of the byte at `offset`, for a parse
  // error: the input is read no further.
  std::pair<std::int64_t, std::int64_t> lineAndColumn(std::int64_t offset) {
    std::int64_t line = 1, lineStart = 0;
    for (std::int64_t at = 0; at < offset;) {
      std::span<const unsigned char> bytes = file_.view(at, kChunk);
      if (bytes.empty()) break;
      for (std::size_t i = 0; i < bytes.size() && at + static_cast<std::int64_t>(i) < offset; ++i) {
        if (bytes[i] == '\n') {
          ++line;
          lineStart = at + static_cast<std::int64_t>(i) + 1;
        }
      }
      at += static_cast<std::int64_t>(bytes.size());
    }
    return {line, offset - lineStart + 1};
  }

 private:
  bool load() {
    chunkStart_ += static_cast<std::int64_t>(at_);
    chunk_ = file_.view(chunkStart_, kChunk);
    at_ = 0;
    return !chunk_.empty();
  }

  kel::ReadOnlyFile& file_;
  std::span<const unsigned char> chunk_;
  std::int64_t chunkStart_ = 0;
  std::size_t at_ = 0;
};

double numberOf(const PropertyValue& number) {
  if (const auto* i = std::get_if<std::int64_t>(&number)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&number)) return *d;
  const std::string& digits = std::get<kel::plan::BigInteger>(number).digits;
  double value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// Follows the parser's events through the collection: where it is (a stack of the containers open,
// each with its part in the collection), the member whose value comes next, and the feature being
// read. Containers whose content does not matter are Ignored, and cost one byte each while open.
class Reader {
 public:
  Reader(const std::string& path, const std::function<void(const Feature&)>& visit,
         Progress& progress, const std::string& step, const Input& input, std::int64_t size)
      : path_(path), visit_(visit), progress_(progress), step_(step), input_(input), size_(size) {}
  Reader(const Reader&) = delete;  // the places find the names in this one's feature
  Reader& operator=(const Reader&) = delete;

  // The parser's events.
  bool null() { return scalar(Kind::Null, std::monostate{}); }
  bool boolean(bool value) { return scalar(Kind::Logical, value); }
  bool number_integer(std::int64_t value) { return scalar(Kind::Number, value); }
  bool number_unsigned(std::uint64_t value) {
    if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
      return scalar(Kind::Number, static_cast<std::int64_t>(value));
    }
    return scalar(Kind::Number, kel::plan::BigInteger{std::to_string(value)});
  }
  // An integer too wide for 64 bits comes as a double, rounded: a property's keeps its digits.
  bool number_float(double value, const std::string& text) {
    if (!stack_.empty() && stack_.back() == Context::Properties &&
        text.find_first_of(".eE") == std::string::npos) {
      return scalar(Kind::Number, kel::plan::BigInteger{text});
    }
    return scalar(Kind::Number, value);
  }
  bool string(std::string& value) { return scalar(Kind::Text, std::move(value)); }
  bool start_object(std::size_t) { return start(Kind::Object); }
  bool start_array(std::size_t) { return start(Kind::Array); }
  bool end_object() { return end(); }
  bool end_array() { return end(); }
  // The name is the parser's own buffer, taken rather than copied.
  bool key(std::string& name) {
    key_ = std::move(name);
    return true;
  }
  // What the parser could not read, where, and what it expected.
  [[noreturn]] void parse_error(const std::string& what) {
    bool inFeatures = stack_.size() >= 2 && stack_[1] == Context::Features;
    throw ConvertError((inFeatures ? featurePrefix(path_, count_) : path_ + ": ") +
                       "cannot read the JSON: " + what);
  }

  CollectionInfo finish() const {
    if (rootKind_ != Kind::Object) {
      throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection but " + nameOf(rootKind_));
    }
    if (!typed_) {
      throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection: it has no \"type\"");
    }
    if (!featuresSeen_) {
      throw ConvertError(path_ + ": the FeatureCollection has no \"features\" array");
    }
    return {count_, crsMember_, crs_};
  }

 private:
  enum class Context : std::uint8_t {
    Root,
    Features,
    Feature,
    Geometry,
    Coordinates,
    Properties,
    Crs,
    CrsProperties,
    Ignored
  };

  std::string prefix() const { return featurePrefix(path_, count_); }

  bool start(Kind kind) {
    Context next = Context::Ignored;
    bool object = kind == Kind::Object;
    if (stack_.empty()) {
      rootKind_ = kind;
      if (object) next = Context::Root;
    } else {
      switch (stack_.back()) {
        case Context::Root:
          if (key_ == "features") {
            if (featuresSeen_) throw ConvertError(path_ + ": the collection has two \"features\"");
            featuresSeen_ = !object;
            if (!object) next = Context::Features;
          } else if (key_ == "crs") {
            crsMember_ = true;
            if (object) next = Context::Crs;
          }
          break;
        case Context::Features:
          if (!object) throw ConvertError(prefix() + "it is an array, not a Feature object");
          feature_.index = count_;
          feature_.type = Member();
          feature_.geometry = feature_.properties = Kind::Missing;
          clearGeometry();
          clearProperties();
          next = Context::Feature;
          break;
        case Context::Feature:
          if (key_ == "geometry") {
            feature_.geometry = kind;
            clearGeometry();
            if (object) next = Context::Geometry;
          } else if (key_ == "properties") {
            feature_.properties = kind;
            clearProperties();
            if (object) next = Context::Properties;
          } else if (key_ == "type") {
            feature_.type = {kind, {}};
          }
          break;
        case Context::Geometry:
          if (key_ == "coordinates") {
            clearCoordinates();
            feature_.coordinatesKind = kind;
            if (!object) next = Context::Coordinates;
          } else if (key_ == "type") {
            feature_.geometryType = {kind, {}};
          }
          break;
        case Context::Coordinates:
          if (object) {
            other(Kind::Object);
          } else if (nesting_ == kMaxNesting) {
            throw ConvertError(prefix() +
                               "its coordinates nest deeper than any geometry's: a "
                               "MultiPolygon's arrays nest 4 deep");
          } else {
            next = Context::Coordinates;
          }
          break;
        case Context::Properties:
          throw ConvertError(prefix() + "property " + shownText(key_) + ": " + nameOf(kind) +
                             " cannot go into a column");
        case Context::Crs:
          if (object && key_ == "properties") next = Context::CrsProperties;
          break;
        default:
          break;
      }
    }
    if (next == Context::Coordinates) {
      ++nesting_;
      feature_.coordinates.events.push_back(Coordinates::Open);
    }
    stack_.push_back(next);
    return true;
  }

  bool end() {
    Context done = stack_.back();
    stack_.pop_back();
    if (done == Context::Coordinates) {
      --nesting_;
      feature_.coordinates.events.push_back(Coordinates::Close);
    } else if (done == Context::Feature) {
      visit_(feature_);
      ++count_;
      progress_.update(step_, input_.position(), size_);
    }
    return true;
  }

  // A member given again replaces what the first gave; the containers keep their room.
  void clearGeometry() {
    feature_.geometryType = Member();
    clearCoordinates();
  }
  void clearCoordinates() {
    feature_.coordinatesKind = Kind::Missing;
    feature_.coordinates.events.clear();
    feature_.coordinates.numbers.clear();
    feature_.coordinates.others.clear();
  }
  void clearProperties() {
    feature_.values.clear();
    names_.clear();
  }

  void other(Kind kind) {
    feature_.coordinates.events.push_back(Coordinates::Other);
    feature_.coordinates.others.push_back(kind);
  }

  bool scalar(Kind kind, PropertyValue&& value) {
    if (stack_.empty()) {
      rootKind_ = kind;
      return true;
    }
    auto text = [&] { return kind == Kind::Text ? std::get<std::string>(value) : std::string(); };
    switch (stack_.back()) {
      case Context::Root:
        if (key_ == "type") {
          if (kind != Kind::Text || std::get<std::string>(value) != "FeatureCollection") {
            throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection: its type is " +
                               (kind == Kind::Text ? shownText(text()) : nameOf(kind)));
          }
          typed_ = true;
        } else if (key_ == "crs") {
          crsMember_ = true;
        }
        break;
      case Context::Features:
        throw ConvertError(prefix() + "it is " + nameOf(kind) + ", not a Feature object");
      case Context::Feature:
        if (key_ == "type") {
          feature_.type = {kind, text()};
        } else if (key_ == "geometry") {
          feature_.geometry = kind;
        } else if (key_ == "properties") {
          feature_.properties = kind;
          clearProperties();
        }
        break;
      case Context::Geometry:
        if (key_ == "type") {
          feature_.geometryType = {kind, text()};
        } else if (key_ == "coordinates") {
          feature_.coordinatesKind = kind;
        }
        break;
      case Context::Coordinates:
        if (kind == Kind::Number) {
          feature_.coordinates.events.push_back(Coordinates::Number);
          feature_.coordinates.numbers.push_back(numberOf(value));
        } else {
          other(kind);
        }
        break;
      case Context::Properties:
        property(std::move(value));
        break;
      case Context::CrsProperties:
        if (key_ == "name" && kind == Kind::Text) crs_ = text();
        break;
      default:
        break;
    }
    return true;
  }

  // The name moves into the feature, which holds it once: the places find it there.
  void property(PropertyValue&& value) {
    if (auto at = names_.find(key_); at != names_.end()) {
      feature_.values[*at].second = std::move(value);
      return;
    }
    if (feature_.values.size() == kMaxProperties) {
      throw ConvertError(prefix() + "it has more than 2,046 properties; a table holds 2,046 " +
                         "columns");
    }
    feature_.values.emplace_back(std::move(key_), std::move(value));
    names_.insert(feature_.values.size() - 1);
  }

  const std::string& path_;
  const std::function<void(const Feature&)>& visit_;
  Progress& progress_;
  const std::string& step_;
  const Input& input_;
  std::int64_t size_;

  std::vector<Context> stack_;
  std::string key_;  // the name of the member whose value comes next
  int nesting_ = 0;  // of the coordinates' arrays
  Kind rootKind_ = Kind::Missing;
  bool typed_ = false, featuresSeen_ = false, crsMember_ = false;
  std::optional<std::string> crs_;
  std::int64_t count_ = 0;  // features read
  Feature feature_;
  NamePlaces names_{ByName{[this](std::size_t i) -> const std::string& {
    return feature_.values[i].first;
  }}};  // the feature's properties' places
};

// Reads JSON text (RFC 8259) from the input and tells the reader what it meets, as it meets it: a
// string's text is decoded straight into the one buffer handed on, never kept raw beside it.
// Containers are followed on a stack of their own, so that depth costs no recursion, and bounded.
class Parser {
 public:
  static constexpr std::size_t kMaxDepth = 10000;

  Parser(Input& input, Reader& reader) : in_(input), reader_(reader) {}

  void parse() {
    // A byte order mark before the text is passed over (RFC 8259 allows a parser to).
    if (in_.peek() == 0xEF) {
      std::span<const unsigned char> start = in_.ahead();
      if (start.size() >= 3 && start[1] == 0xBB && start[2] == 0xBF) in_.skip(3);
    }
    value();
    while (!open_.empty()) {
      bool object = open_.back();
      int c = next();
      if (c == (object ? '}' : ']')) {
        in_.skip();
        open_.pop_back();
        opened_ = false;
        object ? reader_.end_object() : reader_.end_array();
      } else if (opened_ || c == ',') {
        if (!opened_) in_.skip();
        opened_ = false;
        object ? member() : value();
      } else {
        fail(object ? "',' or '}'" : "',' or ']'");
      }
    }
    if (next() >= 0) fail("the end of the input");
  }

 private:
  // The next byte after white space, or -1 at the end.
  int next() {
    for (int c = in_.peek();; c = in_.peek()) {
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
      in_.skip();
    }
  }

  // A value; of an object or array, the opening only: parse() reads what it holds.
  void value() {
    int c = next();
    switch (c) {
      case '{':
      case '[':
        if (open_.size() == kMaxDepth) {
          error("arrays and objects nest deeper than 10,000", in_.position());
        }
        in_.skip();
        open_.push_back(c == '{');
        opened_ = true;
        c == '{' ? reader_.start_object(0) : reader_.start_array(0);
        return;
      case '"':
        string();
        reader_.string(text_);
        return;
      case 't':
        literal("true");
        reader_.boolean(true);
        return;
      case 'f':
        literal("false");
        reader_.boolean(false);
        return;
      case 'n':
        literal("null");
        reader_.null();
        return;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        fail("a value");
    }
  }

  // An object's member: its name, the colon, and its value.
  void member() {
    if (next() != '"') fail("a member's name, a string");
    string();
    reader_.key(text_);
    if (next() != ':') fail("':'");
    in_.skip();
    value();
  }

  void literal(const char* word) {
    for (const char* w = word; *w != '\0'; ++w) {
      if (in_.peek() != *w) fail(std::string("the word ") + word);
      in_.skip();
    }
  }

  // A string's text, decoded into text_, which the reader may take: the room is the raw text's,
  // which no decoding makes longer.
  void string() {
    std::int64_t start = in_.position();
    in_.skip();
    text_ = std::string();
    text_.reserve(static_cast<std::size_t>(in_.toQuote()));
    for (;;) {
      int c = in_.peek();
      if (c < 0) error("a string that does not end", start);
      if (c == '"') {
        in_.skip();
        return;
      }
      if (c == '\\') {
        escape();
      } else if (c < 0x20) {
        fail("a string's end or text, with control characters escaped");
      } else if (c < 0x80) {
        // The run of plain bytes, at once.
        std::span<const unsigned char> run = in_.ahead();
        std::size_t n = 0;
        while (n < run.size() && run[n] >= 0x20 && run[n] < 0x80 && run[n] != '"' &&
               run[n] != '\\') {
          ++n;
        }
        text_.append(reinterpret_cast<const char*>(run.data()), n);
        in_.skip(n);
      } else {
        utf8(c);
      }
    }
  }

  void escape() {
    std::int64_t start = in_.position();
    in_.skip();
    int c = in_.peek();
    static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
    if (c > 0 && std::strchr(kFrom, c) != nullptr) {
      text_ += kTo[std::strchr(kFrom, c) - kFrom];
      in_.skip();
      return;
    }
    if (c != 'u') {
      fail("an escape after the backslash: one of b f n r t u / or a quote or backslash");
    }
    in_.skip();
    std::uint32_t code = hex4();
    const char* lone = "a high surrogate (U+D800 to U+DBFF) with no low one after it";
    if (code >= 0xDC00 && code <= 0xDFFF) {
      error("a low surrogate (U+DC00 to U+DFFF) with no high one before it", start);
    }
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (in_.peek() != '\\') error(lone, start);
      in_.skip();
      if (in_.peek() != 'u') error(lone, start);
      in_.skip();
      std::uint32_t low = hex4();
      if (low < 0xDC00 || low > 0xDFFF) error(lone, start);
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    kel::appendUtf8(text_, code);
  }

  std::uint32_t hex4() {
    std::uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      int c = in_.peek();
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) fail("a hexadecimal digit of a \\u escape");
      code = code * 16 + static_cast<std::uint32_t>(digit);
      in_.skip();
    }
    return code;
  }

  // A character of 2 to 4 bytes, well formed (RFC 3629): no overlong form, no surrogate, nothing
  // beyond U+10FFFF.
  void utf8(int lead) {
    std::int64_t start = in_.position();
    int n = lead >= 0xC2 && lead <= 0xDF   ? 1
            : lead >= 0xE0 && lead <= 0xEF ? 2
            : lead >= 0xF0 && lead <= 0xF4 ? 3
                                           : -1;
    if (n < 0) error("a byte that begins no UTF-8 character", start);
    int low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    int high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    text_ += static_cast<char>(lead);
    in_.skip();
    for (int i = 0; i < n; ++i, low = 0x80, high = 0xBF) {
      int c = in_.peek();
      if (c < low || c > high) error("ill-formed UTF-8", start);
      text_ += static_cast<char>(c);
      in_.skip();
    }
  }

  // A number: an integer without '.', 'e' or 'E' within 64 bits, signed or not; otherwise a
  // double, given with its text.
  void number() {
    std::int64_t start = in_.position();
    number_.clear();
    auto digits = [&] {
      int c = in_.peek();
      if (c < '0' || c > '9') fail("a digit");
      for (; c >= '0' && c <= '9'; c = in_.peek()) {
        number_ += static_cast<char>(c);
        in_.skip();
      }
    };
    auto take = [&] {
      number_ += static_cast<char>(in_.peek());
      in_.skip();
    };
    if (in_.peek() == '-') take();
    if (in_.peek() == '0') {
      take();
    } else {
      digits();
    }
    bool integer = true;
    if (in_.peek() == '.') {
      take();
      digits();
      integer = false;
    }
    if (in_.peek() == 'e' || in_.peek() == 'E') {
      take();
      if (in_.peek() == '+' || in_.peek() == '-') take();
      digits();
      integer = false;
    }
    const char* first = number_.data();
    const char* last = first + number_.size();
    if (integer && number_[0] == '-') {
      std::int64_t value = 0;
      if (std::from_chars(first, last, value).ec == std::errc()) {
        reader_.number_integer(value);
        return;
      }
    } else if (integer) {
      std::uint64_t value = 0;
      if (std::from_chars(first, last, value).ec == std::errc()) {
        reader_.number_unsigned(value);
        return;
      }
    }
    double value = std::strtod(first, nullptr);  // the C locale's, as the tool never sets one
    if (!std::isfinite(value)) error("the number " + number_ + ", beyond a double's range", start);
    reader_.number_float(value, number_);
  }

  // Where the parse stopped: what came there, and what was expected instead.
  [[noreturn]] void fail(const std::string& expected) {
    int c = in_.peek();
    char byte[16];
    std::snprintf(byte, sizeof byte, c >= 0x20 && c < 0x7F ? "'%c'" : "byte 0x%02X", c);
    error((c < 0 ? "the end of the input" : std::string(byte)) + "; expected " + expected,
          in_.position());
  }

  [[noreturn]] void error(const std::string& what, std::int64_t offset) {
    auto [line, column] = in_.lineAndColumn(offset);
    reader_.parse_error("parse error at line " + std::to_string(line) + ", column " +
                        std::to_string(column) + " (byte " + std::to_string(offset) + "): " + what);
  }

  Input& in_;
  Reader& reader_;
  std::vector<bool> open_;  // the containers open: true for an object
  bool opened_ = false;     // the innermost was opened last, and holds nothing yet
  std::string text_;        // the last string's text, until the reader takes it
  std::string number_;      // the last number's text
};

}  // namespace

const char* nameOf(Kind kind) {
  static const char* const kNames[] = {"missing",         "null",     "text",     "a number",
                                       "a logical value", "an array", "an object"};
  return kNames[static_cast<int>(kind)];
}

std::string shownText(const std::string& text) {
  if (text.size() <= 40) return '"' + text + '"';
  std::size_t n = 37;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return '"' + text.substr(0, n) + "...\"";
}

std::string featurePrefix(const std::string& path, std::int64_t index) {
  return path + ": feature " + std::to_string(index + 1) + ": ";
}

namespace {

std::string systemSays() {
  return std::strerror(errno);
}

// Copies standard input to the file `fd`: nothing, or why it could not.
std::optional<std::string> copyStandardInput(int fd) {
  std::vector<char> buffer(Input::kChunk);
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n == 0) return std::nullopt;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "cannot be read: " + systemSays();
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) return "cannot be copied to a temporary file: " + systemSays();
      if (w > 0) done += w;
    }
  }
}

}  // namespace

std::unique_ptr<kel::ReadOnlyFile> openGeoJson(const std::string& path) {
  kel::ReadOnlyFile::OpenError openError;
  if (path != "-") {
    std::unique_ptr<kel::ReadOnlyFile> file = kel::ReadOnlyFile::open(path, openError);
    if (!file) {
      throw ConvertError(path + ": " + (openError.missing ? "no such file" : openError.sentence));
    }
    return file;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kelshp-XXXXXX";
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    throw ConvertError("standard input: cannot be copied to " + name + ": " + systemSays());
  }
  // Without a name, the copy is left behind by nothing that ends the process.
  ::unlink(name.c_str());
  std::optional<std::string> failure = copyStandardInput(fd);
  std::unique_ptr<kel::ReadOnlyFile> file;
  if (!failure) {
    // The descriptor's own name stands for the file's.
    file = kel::ReadOnlyFile::open("/dev/fd/" + std::to_string(fd), openError);
    if (!file) failure = "cannot be copied to a temporary file: " + openError.sentence;
  }
  ::close(fd);
  if (failure) throw ConvertError("standard input: " + *failure);
  return file;
}

CollectionInfo readFeatures(const std::string& path, kel::ReadOnlyFile& file,
                            const std::function<void(const Feature&)>& visit, Progress& progress,
                            const std::string& step) {
  Input input(file);
  Reader reader(path, visit, progress, step, input, file.size());
  Parser(input, reader).parse();
  progress.clear();
  return reader.finish();
}

}  // namespace kelshp
