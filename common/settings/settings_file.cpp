#include "common/settings/settings_file.h"

#include <limits>

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

// One line of the file, already without its line end; nullopt for a blank line.
std::optional<Line> ParseLine(std::string_view raw) {
  std::string_view text = TrimLeft(raw);
  if (text.empty()) return std::nullopt;
  Line line;
  line.raw = std::string(raw);
  if (text[0] == ';') {
    line.kind = LineKind::kComment;
    std::string_view comment = text.substr(1);
    if (!comment.empty() && IsBlank(comment[0])) comment.remove_prefix(1);
    line.name = std::string(comment);
  } else if (text[0] == '[') {
    line.kind = LineKind::kGroup;
    std::string_view name = text.substr(1);
    size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    line.name = std::string(name);
  } else {
    line.kind = LineKind::kEntry;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      line.name = std::string(TrimRight(text));
    } else {
      line.name = std::string(TrimRight(text.substr(0, eq)));
      line.value = std::string(TrimRight(TrimLeft(text.substr(eq + 1))));
    }
  }
  return line;
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

bool SettingsFile::Open(const std::string& path) {
  *this = SettingsFile();
  int64_t size = platform::FileSize(path);
  if (size < 0 || static_cast<uint64_t>(size) > kMaxSettingsFileSize) return false;
  std::optional<std::string> data = platform::ReadFile(path, kMaxSettingsFileSize);
  if (!data || data->size() > kMaxSettingsFileSize) return false;
  Parse(*data);
  path_ = path;
  return true;
}

void SettingsFile::Parse(std::string_view text) {
  lines_.clear();
  changed_ = false;
  has_bom_ = text.substr(0, kBom.size()) == kBom;
  if (has_bom_) text.remove_prefix(kBom.size());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (auto line = ParseLine(text.substr(start, end - start))) lines_.push_back(std::move(*line));
    start = end;
    if (start < text.size() && text[start] == '\r') ++start;
    if (start < text.size() && text[start] == '\n') ++start;
  }
}

bool SettingsFile::Close() {
  if (!changed_ || path_.empty()) return true;
  if (!platform::WriteFileAtomic(path_, Serialize())) return false;
  changed_ = false;
  return true;
}

std::string SettingsFile::Serialize() const {
  std::string out;
  if (has_bom_) out += kBom;
  // An entry whose key starts with the byte-order mark's bytes (after blanks, in a file
  // read without one) must not turn into a mark when it becomes the file's first line.
  if (!has_bom_ && !lines_.empty() && lines_[0].kind == LineKind::kEntry &&
      std::string_view(lines_[0].name).substr(0, kBom.size()) == kBom)
    out += ' ';
  for (const Line& line : lines_) {
    switch (line.kind) {
      case LineKind::kGroup:
        out += "[" + line.name + "]";
        break;
      case LineKind::kComment:
        out += "; " + line.name;
        break;
      case LineKind::kEntry:
        out += line.name + " = " + line.value;
        break;
    }
    out += "\r\n";
  }
  return out;
}

size_t SettingsFile::FindGroup(std::string_view group) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == LineKind::kGroup && EqualsIgnoreCase(lines_[i].name, group)) return i;
  return std::string::npos;
}

size_t SettingsFile::GroupEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != LineKind::kGroup) ++i;
  return i;
}

bool SettingsFile::HasGroup(std::string_view group) const {
  return FindGroup(group) != std::string::npos;
}

std::vector<const Line*> SettingsFile::Entries(std::string_view group) const {
  std::vector<const Line*> result;
  size_t header = FindGroup(group);
  if (header == std::string::npos) return result;
  for (size_t i = header + 1, end = GroupEnd(header); i < end; ++i)
    if (lines_[i].kind == LineKind::kEntry) result.push_back(&lines_[i]);
  return result;
}

std::optional<std::string> SettingsFile::Find(std::string_view group, std::string_view key) const {
  for (const Line* line : Entries(group))
    if (EqualsIgnoreCase(line->name, key)) return line->value;
  return std::nullopt;
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

void SettingsFile::WriteText(std::string_view group, std::string_view key,
                             std::string_view value) {
  changed_ = true;
  Line entry;
  entry.kind = LineKind::kEntry;
  entry.name = OneLine(key);
  entry.value = OneLine(value);
  entry.raw = entry.name + " = " + entry.value;
  size_t header = FindGroup(group);
  if (header == std::string::npos) {
    Line head;
    head.kind = LineKind::kGroup;
    head.name = OneLine(group);
    head.raw = "[" + head.name + "]";
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(entry));
    return;
  }
  size_t end = GroupEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    Line& line = lines_[i];
    if (line.kind == LineKind::kEntry && EqualsIgnoreCase(line.name, key)) {
      line = std::move(entry);
      return;
    }
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(end), std::move(entry));
}

void SettingsFile::WriteInt(std::string_view group, std::string_view key, int32_t value) {
  WriteText(group, key, std::to_string(value));
}

}  // namespace settings
