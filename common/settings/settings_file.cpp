#include "common/settings/settings_file.h"

#include <limits>
#include <new>

#include "common/platform/fs.h"

namespace settings {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view TrimLeft(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.substr(i);
}

std::string_view TrimRight(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  return text.substr(0, n);
}

// The parts of one non-blank line (without its line end).
Line ParseLine(std::string_view raw) {
  std::string_view text = TrimLeft(raw);
  Line line;
  line.raw = raw;
  if (!text.empty() && text[0] == ';') {
    line.kind = LineKind::kComment;
    std::string_view comment = text.substr(1);
    if (!comment.empty() && IsBlank(comment[0])) comment.remove_prefix(1);
    line.name = comment;
  } else if (!text.empty() && text[0] == '[') {
    line.kind = LineKind::kGroup;
    std::string_view name = text.substr(1);
    size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    line.name = name;
  } else {
    line.kind = LineKind::kEntry;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      line.name = TrimRight(text);
    } else {
      line.name = TrimRight(text.substr(0, eq));
      line.value_text = TrimLeft(text.substr(eq + 1));
      line.value = TrimRight(line.value_text);
    }
  }
  return line;
}

// The kind alone, without finding the parts.
LineKind KindOf(std::string_view raw) {
  std::string_view text = TrimLeft(raw);
  if (!text.empty() && text[0] == ';') return LineKind::kComment;
  if (!text.empty() && text[0] == '[') return LineKind::kGroup;
  return LineKind::kEntry;
}

// Whether a line is an entry whose key is `key` (without regard to case): the same answer
// as comparing ParseLine(raw).name, without finding the value. Most lines differ in their
// first letter, so a lookup costs little more than a glance at each line.
bool IsEntryOf(std::string_view raw, std::string_view key) {
  std::string_view text = TrimLeft(raw);
  if (!text.empty() && (text[0] == ';' || text[0] == '[')) return false;
  // A parsed key has no blanks at its ends and no "=".
  if (!key.empty() && (IsBlank(key.front()) || IsBlank(key.back()))) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (text.size() < key.size() || !EqualsIgnoreCase(text.substr(0, key.size()), key)) return false;
  std::string_view rest = TrimLeft(text.substr(key.size()));
  return rest.empty() || rest[0] == '=';
}

// Calls `line(begin, end)` for every non-blank line of `text` from `from` on; lines end
// at CR, LF or CR LF.
template <typename F>
void ForEachLine(std::string_view text, size_t from, F line) {
  size_t start = from;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    size_t first = start;
    while (first < end && IsBlank(text[first])) ++first;
    if (first < end) line(start, end);
    start = end;
    if (start < text.size() && text[start] == '\r') ++start;
    if (start < text.size() && text[start] == '\n') ++start;
  }
}

// Written keys and values must not break the file into extra lines.
std::string OneLine(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string_view TrimBlanks(std::string_view text) { return TrimRight(TrimLeft(text)); }

int32_t ParseLeadingInt(std::string_view text) {
  text = TrimLeft(text);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so a long run of
  // digits cannot overflow.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

bool SettingsFile::Open(const std::string& path, std::string* error) {
  *this = SettingsFile();
  std::optional<std::string> data =
      platform::ReadFile(path, kMaxSettingsFileSize, nullptr, error);
  if (!data) return false;
  try {
    ParseOwned(std::move(*data));
  } catch (const std::bad_alloc&) {
    *this = SettingsFile();
    if (error) *error = "out of memory";
    return false;
  }
  path_ = path;
  return true;
}

void SettingsFile::Parse(std::string_view text) {
  try {
    ParseOwned(std::string(text));
  } catch (const std::bad_alloc&) {
    *this = SettingsFile();
  }
}

void SettingsFile::ParseOwned(std::string text) {
  lines_.clear();
  text_.clear();
  changed_ = false;
  has_bom_ = false;
  if (text.size() > UINT32_MAX) return;
  text_ = std::move(text);
  const std::string_view all(text_);
  has_bom_ = all.substr(0, kBom.size()) == kBom;
  const size_t from = has_bom_ ? kBom.size() : 0;
  // Counted first, so that the list is made once at its size.
  size_t count = 0;
  ForEachLine(all, from, [&](size_t, size_t) { ++count; });
  lines_.reserve(count);
  ForEachLine(all, from, [&](size_t begin, size_t end) {
    lines_.push_back(Span{static_cast<uint32_t>(begin), static_cast<uint32_t>(end - begin)});
  });
}

bool SettingsFile::Close() {
  if (!changed_ || path_.empty()) return true;
  std::string text = Serialize();
  if (text.empty() && !lines_.empty()) return false;  // out of memory
  if (!platform::WriteFileAtomic(path_, text)) return false;
  changed_ = false;
  return true;
}

std::string SettingsFile::Serialize() const {
  // One pass to measure, one to fill: the text is made once at its size.
  auto pieces = [&](auto&& add) {
    if (has_bom_) add(kBom);
    // An entry whose key starts with the byte-order mark's bytes (after blanks, in a file
    // read without one) must not turn into a mark when it becomes the file's first line.
    if (!has_bom_ && !lines_.empty()) {
      Line first = ParseLine(RawOf(0));
      if (first.kind == LineKind::kEntry && first.name.substr(0, kBom.size()) == kBom) add(" ");
    }
    for (size_t i = 0; i < lines_.size(); ++i) {
      Line line = ParseLine(RawOf(i));
      switch (line.kind) {
        case LineKind::kGroup:
          add("[");
          add(line.name);
          add("]");
          break;
        case LineKind::kComment:
          add("; ");
          add(line.name);
          break;
        case LineKind::kEntry:
          add(line.name);
          add(" = ");
          add(line.value_text);
          break;
      }
      add("\r\n");
    }
  };
  size_t size = 0;
  pieces([&](std::string_view piece) { size += piece.size(); });
  std::string out;
  try {
    out.reserve(size);
  } catch (const std::bad_alloc&) {
    return std::string();
  }
  pieces([&](std::string_view piece) { out.append(piece); });
  return out;
}

std::vector<Line> SettingsFile::lines() const {
  std::vector<Line> result;
  result.reserve(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) result.push_back(ParseLine(RawOf(i)));
  return result;
}

size_t SettingsFile::FindGroup(std::string_view group) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view raw = RawOf(i);
    if (KindOf(raw) == LineKind::kGroup && EqualsIgnoreCase(ParseLine(raw).name, group)) return i;
  }
  return std::string::npos;
}

size_t SettingsFile::GroupEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && KindOf(RawOf(i)) != LineKind::kGroup) ++i;
  return i;
}

size_t SettingsFile::FindEntry(size_t header, std::string_view key) const {
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    std::string_view raw = RawOf(i);
    LineKind kind = KindOf(raw);
    if (kind == LineKind::kGroup) break;
    if (kind == LineKind::kEntry && IsEntryOf(raw, key)) return i;
  }
  return std::string::npos;
}

bool SettingsFile::HasGroup(std::string_view group) const {
  return FindGroup(group) != std::string::npos;
}

std::vector<Line> SettingsFile::Entries(std::string_view group) const {
  std::vector<Line> result;
  size_t header = FindGroup(group);
  if (header == std::string::npos) return result;
  for (size_t i = header + 1, end = GroupEnd(header); i < end; ++i) {
    Line line = ParseLine(RawOf(i));
    if (line.kind == LineKind::kEntry) result.push_back(line);
  }
  return result;
}

std::optional<std::string> SettingsFile::Find(std::string_view group, std::string_view key) const {
  size_t header = FindGroup(group);
  if (header == std::string::npos) return std::nullopt;
  size_t entry = FindEntry(header, key);
  if (entry == std::string::npos) return std::nullopt;
  return std::string(ParseLine(RawOf(entry)).value);
}

std::string SettingsFile::ReadText(std::string_view group, std::string_view key,
                                   std::string_view fallback) const {
  std::optional<std::string> value = Find(group, key);
  return value ? *value : std::string(fallback);
}

int32_t SettingsFile::ReadInt(std::string_view group, std::string_view key,
                              int32_t fallback) const {
  std::optional<std::string> value = Find(group, key);
  return value ? ParseLeadingInt(*value) : fallback;
}

bool SettingsFile::AddText(const std::string& line, Span* span) {
  if (text_.size() + line.size() > UINT32_MAX) return false;
  *span = Span{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(line.size())};
  text_.append(line);
  return true;
}

void SettingsFile::WriteText(std::string_view group, std::string_view key,
                             std::string_view value) {
  try {
    Span entry;
    if (!AddText(OneLine(key) + " = " + OneLine(value), &entry)) return;
    size_t header = FindGroup(group);
    if (header == std::string::npos) {
      Span head;
      if (!AddText("[" + OneLine(group) + "]", &head)) return;
      lines_.reserve(lines_.size() + 2);
      lines_.push_back(head);
      lines_.push_back(entry);
    } else if (size_t found = FindEntry(header, key); found != std::string::npos) {
      lines_[found] = entry;
    } else {
      lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(GroupEnd(header)), entry);
    }
    changed_ = true;
  } catch (const std::bad_alloc&) {
    // Nothing is written: the lines are as they were.
  }
}

void SettingsFile::WriteInt(std::string_view group, std::string_view key, int32_t value) {
  WriteText(group, key, std::to_string(value));
}

}  // namespace settings
