// The reader and writer of the settings-file syntax: "[group]" headers, "key = value"
// entries and ";" comments. akqp-cli keeps its settings in it and qpmake reads its
// makefile with it, so both see a file the same way.
//
// A file is parsed into a list of lines. Each line keeps its raw text, from which its
// parts are found, because qpmake runs command lines exactly as they were written. Groups
// and keys are found without regard to (ASCII) letter case; only the first group of a
// name counts, and a group's entries run from its header to the next header. Entry lines
// before the first header belong to no group.
//
// Writing changes the parsed lines in place; Close() rewrites the whole file (with
// platform::WriteFileAtomic) only when something was written. Nothing here prints or
// throws.
//
// Reading, lookups and writing take time linear in the file, and memory within a small
// multiple of it: the text is kept once, and each line is only its place in that text;
// its parts are found again when they are asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

enum class LineKind {
  kGroup,    // "[name]": `name` is the text up to "]" (not trimmed)
  kComment,  // ";text": `name` is the text after ";" less one blank right after it
  kEntry,    // "key = value", or a line without "=" (key only, empty value)
};

// One line and its parts, as views into the file object's text: valid until the next
// write, Parse or Open of that object.
struct Line {
  LineKind kind = LineKind::kEntry;
  std::string_view raw;         // the line as read without its line end; a written line's new text
  std::string_view name;        // group name, comment text or entry key
  std::string_view value;       // entry value as read: blanks removed at both ends
  std::string_view value_text;  // entry value as parsed (leading blanks removed), as it is written back
};

// The largest file that Open() accepts; anything bigger is treated as unreadable rather
// than held whole in memory.
constexpr size_t kMaxSettingsFileSize = 64u << 20;

class SettingsFile {
 public:
  SettingsFile() = default;

  // Reads and parses a file. False when it cannot be read (missing, a folder, too big,
  // out of memory); the object is then empty, Close() writes nothing and `error` (when
  // given) says why ("larger than 67108864 bytes", or the system's words).
  bool Open(const std::string& path, std::string* error = nullptr);
  // Parses text that is already in memory (the path stays empty). A text of 4 GiB or more
  // is not parsed (the object is left empty).
  void Parse(std::string_view text);

  // Rewrites the file when something was written since it was opened. True when there
  // was nothing to write or the write succeeded. The object keeps its lines.
  bool Close();

  // The text that Close() writes: every line in order, ended by CR LF, with the UTF-8
  // byte-order mark when the file was read with it. Empty when memory is short.
  std::string Serialize() const;

  // Every line that is not blank, in order (for tests and tools; lookups need none of it).
  std::vector<Line> lines() const;
  size_t line_count() const { return lines_.size(); }
  bool has_bom() const { return has_bom_; }
  bool changed() const { return changed_; }
  const std::string& path() const { return path_; }

  bool HasGroup(std::string_view group) const;
  // The entry lines of the first group of that name, in file order (comments left out).
  std::vector<Line> Entries(std::string_view group) const;

  // The value of the first entry of `key` in `group`, trailing blanks removed; nullopt
  // when the group or the key is missing.
  std::optional<std::string> Find(std::string_view group, std::string_view key) const;
  std::string ReadText(std::string_view group, std::string_view key,
                       std::string_view fallback) const;
  // An optional sign and decimal digits at the start of the value; anything else reads as
  // 0, a missing key as `fallback`. Values beyond the 32-bit range are clamped.
  int32_t ReadInt(std::string_view group, std::string_view key, int32_t fallback) const;

  // Sets a key: in place (the key takes the writer's letter case) when the group holds
  // it, else as a new entry at the end of the group; a missing group is added at the end.
  // When memory is short nothing is written.
  void WriteText(std::string_view group, std::string_view key, std::string_view value);
  void WriteInt(std::string_view group, std::string_view key, int32_t value);

 private:
  // Where a line lies in text_.
  struct Span {
    uint32_t offset = 0;
    uint32_t length = 0;
  };

  void ParseOwned(std::string text);
  std::string_view RawOf(size_t index) const {
    return std::string_view(text_).substr(lines_[index].offset, lines_[index].length);
  }
  // Index of the first header of `group`, or npos.
  size_t FindGroup(std::string_view group) const;
  // One past the last line of the group that starts at `header`.
  size_t GroupEnd(size_t header) const;
  // Index of the first entry of `key` in the group that starts at `header`, or npos.
  size_t FindEntry(size_t header, std::string_view key) const;
  // Adds a line's text to text_; false when it would pass the 4 GiB a Span can reach.
  bool AddText(const std::string& line, Span* span);

  std::string path_;
  std::string text_;  // the file as read, then the text of every line written since
  std::vector<Span> lines_;
  bool has_bom_ = false;
  bool changed_ = false;
};

// Helpers shared with the makefile reader.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Removes spaces and tabs at both ends.
std::string_view TrimBlanks(std::string_view text);
// An optional sign and decimal digits at the start of `text`, clamped to 32 bits; 0 when
// it does not start with a number.
int32_t ParseLeadingInt(std::string_view text);

}  // namespace settings
