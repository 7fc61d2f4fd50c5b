#include "kel/runtime/ReplacementRecord.h"

#include <charconv>

namespace kel {

namespace {

constexpr std::string_view kFirstLine = "kelShapeLib replacement 1\n";
constexpr std::string_view kLastLine = "end\n";

void putText(std::string& out, std::string_view text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
  out += ' ';
}

void putNumber(std::string& out, std::uint64_t n) {
  out += std::to_string(n);
  out += ' ';
}

// Reads what put* wrote, from the front of `in`.
struct Cursor {
  std::string_view in;
  bool ok = true;

  std::uint64_t number(char end) {
    std::uint64_t n = 0;
    auto [p, ec] = std::from_chars(in.data(), in.data() + in.size(), n);
    if (ec != std::errc() || p == in.data() + in.size() || *p != end) {
      ok = false;
      return 0;
    }
    in.remove_prefix(static_cast<std::size_t>(p - in.data()) + 1);
    return n;
  }
  std::string text() {
    std::uint64_t n = number(':');
    if (!ok || n >= in.size() || in[n] != ' ') {
      ok = false;
      return {};
    }
    std::string t(in.substr(0, n));
    in.remove_prefix(n + 1);
    return t;
  }
};

}  // namespace

std::string ReplacementRecord::encode() const {
  std::string out(kFirstLine);
  for (const Entry& e : entries) {
    if (e.length >= 0) {
      out += "A ";
      putText(out, e.path);
      putNumber(out, e.fresh.device);
      putNumber(out, e.fresh.file);
      putNumber(out, static_cast<std::uint64_t>(e.length));
      putNumber(out, static_cast<std::uint64_t>(e.kept));
      putText(out, e.header);
      putText(out, e.tail);
      out += '\n';
      continue;
    }
    out += e.temporary.empty() ? "S " : "F ";
    putText(out, e.path);
    putText(out, e.temporary);
    putText(out, e.backup);
    putNumber(out, e.existed ? 1 : 0);
    putNumber(out, e.fresh.device);
    putNumber(out, e.fresh.file);
    out += '\n';
  }
  out += kLastLine;
  return out;
}

std::optional<ReplacementRecord> ReplacementRecord::decode(std::string_view bytes) {
  if (!bytes.starts_with(kFirstLine) || !bytes.ends_with(kLastLine)) return std::nullopt;
  Cursor c{bytes.substr(kFirstLine.size(), bytes.size() - kFirstLine.size() - kLastLine.size())};
  ReplacementRecord record;
  while (c.ok && !c.in.empty()) {
    if (c.in.starts_with("A ")) {
      c.in.remove_prefix(2);
      Entry& e = record.entries.emplace_back();
      e.path = c.text();
      e.fresh.device = c.number(' ');
      e.fresh.file = c.number(' ');
      std::uint64_t length = c.number(' '), kept = c.number(' ');
      e.header = c.text();
      e.tail = c.text();
      if (!c.in.starts_with('\n') || e.path.empty() || length >= (std::uint64_t{1} << 62) ||
          kept > length || e.header.size() > kept || kept + e.tail.size() != length) {
        return std::nullopt;
      }
      e.length = static_cast<std::int64_t>(length);
      e.kept = static_cast<std::int64_t>(kept);
      c.in.remove_prefix(1);
      continue;
    }
    if (c.in.size() < 2 || (c.in[0] != 'F' && c.in[0] != 'S') || c.in[1] != ' ') return std::nullopt;
    bool replaced = c.in[0] == 'F';
    c.in.remove_prefix(2);
    Entry& e = record.entries.emplace_back();
    e.path = c.text();
    e.temporary = c.text();
    e.backup = c.text();
    e.existed = c.number(' ') != 0;
    e.fresh.device = c.number(' ');
    e.fresh.file = c.number(' ');
    if (!c.in.starts_with('\n') || replaced == e.temporary.empty() || e.path.empty() ||
        e.backup.empty()) {
      return std::nullopt;
    }
    c.in.remove_prefix(1);
  }
  if (!c.ok) return std::nullopt;
  return record;
}

}  // namespace kel
