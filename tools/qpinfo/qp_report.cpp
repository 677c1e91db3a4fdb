#include "tools/qpinfo/qp_report.h"

#include <cstdio>

#include "common/platform/fs.h"
#include "common/qpfile/chunk_layout.h"

extern "C" {
#include <lua.h>
}
#include <zlib.h>

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Line(const char* key, const std::string& value) { return std::string(key) + ": " + value; }
std::string Line(const char* key, uint64_t value) { return Line(key, std::to_string(value)); }

// JSON members: "key":value with a comma before every member but the first.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& raw_value) {
    text_ += (text_.empty() ? "{" : ",") + JsonString(key) + ":" + raw_value;
    return *this;
  }
  JsonObject& Add(const char* key, uint64_t value) { return Add(key, std::to_string(value)); }
  JsonObject& AddText(const char* key, std::string_view value) { return Add(key, JsonString(value)); }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", byte);
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string ChunkLayoutName(std::string_view chunk) {
  if (!IsBinaryChunk(chunk)) return "text";
  if (chunk.size() < 17) return "other";
  const std::string_view sizes = chunk.substr(12, 5);
  const char host[] = {4, 4, 4, 8, 8};
  const char native[] = {static_cast<char>(sizeof(int)), static_cast<char>(sizeof(size_t)), 4,
                         static_cast<char>(sizeof(lua_Integer)),
                         static_cast<char>(sizeof(lua_Number))};
  if (sizes == std::string_view(host, 5)) return "host";
  if (sizes == std::string_view(native, 5)) return "native";
  return "other";
}

const char* RecordKindName(uint32_t kind) {
  switch (kind) {
    case 1: return "version item";
    case 2: return "global";
    case 3: return "main window";
    case 4: return "current page";
    default: return "unknown";
  }
}

const char* RecordFlagsName(uint32_t kind, uint32_t flags) {
  struct Name {
    uint32_t kind, flags;
    const char* name;
  };
  static constexpr Name kNames[] = {{1, 0, "element text"}, {2, 0, "type"},
                                    {2, 1, "type and value"}, {3, 1, "title"},
                                    {4, 1, "page name"},      {4, 2, "object"}};
  for (const Name& n : kNames)
    if (n.kind == kind && n.flags == flags) return n.name;
  return "unknown";
}

namespace {

// CRC-32 of the whole file, read in pieces (the file may hold more than the body).
uint32_t FileCrc(const std::string& path) {
  platform::FileReader reader;
  if (!reader.Open(path)) return 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::string piece;
  do {
    piece.clear();
    if (!reader.Read(1 << 16, &piece)) return 0;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
  } while (!piece.empty());
  return static_cast<uint32_t>(crc);
}

// The result in words, with the system's reason when the file could not be opened.
std::string ResultText(const QpReport& report) {
  std::string text = qp::LoadResultText(report.result);
  if (report.result == qp::kCannotOpen && !report.summary.open_error.empty())
    text += ": " + report.summary.open_error;
  return text;
}

}  // namespace

QpReport MakeReport(const std::string& path) {
  QpReport report;
  report.path = path;
  QpFile qp;
  report.result = qp.Load(path, &report.summary);
  if (report.result != qp::kLoaded) return report;
  report.chunk = std::string(qp.GetMainChunk().data);
  qp.GetVerificationRecords(&report.records);
  report.file_crc = FileCrc(path);
  return report;
}

std::string FailureLine(const QpReport& report) {
  return "qpinfo: cannot load '" + report.path + "': " + ResultText(report) + " (result " +
         std::to_string(report.result) + ")";
}

std::vector<std::string> ReportLines(const QpReport& report) {
  const qp::FileSummary& s = report.summary;
  std::vector<std::string> lines = {
      Line("file", report.path),
      Line("file size", s.file_size),
      Line("file crc", Hex(report.file_crc) + " (" +
                           std::to_string(static_cast<int32_t>(report.file_crc)) + ")"),
      Line("magic", "KSQP"),
      Line("body crc", Hex(s.body_crc)),
      Line("body size", s.body_size),
      Line("chunk crc", Hex(s.chunk_crc)),
      Line("chunk size", s.chunk_size),
      Line("reserved", s.reserved),
      Line("code count", s.code_count),
      Line("format a", Hex(s.format_a)),
      Line("format b", Hex(s.format_b)),
      Line("format c", Hex(s.format_c)),
      Line("record count", s.record_count),
      Line("record crc", Hex(s.record_crc)),
      Line("chunk name", s.chunk_name),
      Line("name length", s.name_length),
      Line("packed size", s.packed_size),
      Line("packed crc", Hex(s.packed_crc)),
      Line("unpacked size", s.unpacked_size),
      Line("unpacked crc", Hex(s.unpacked_crc)),
      Line("chunk layout", ChunkLayoutName(report.chunk)),
  };
  for (const qp::FileSummary::Entry& e : s.entries)
    lines.push_back("code: size=" + std::to_string(e.size) + " crc=" + Hex(e.crc) + " name=" + e.name);
  for (const VerificationRecord& r : report.records)
    lines.push_back("record: kind=" + std::to_string(r.kind) + " (" + RecordKindName(r.kind) +
                    ") flags=" + std::to_string(r.flags) + " (" +
                    RecordFlagsName(r.kind, r.flags) + ") first=" + Hex(r.firstCrc) +
                    " second=" + Hex(r.secondCrc));
  return lines;
}

std::string ReportJson(const QpReport& report) {
  JsonObject top;
  top.AddText("file", report.path).Add("result", std::to_string(report.result));
  if (report.result != qp::kLoaded) {
    top.AddText("error", qp::LoadResultText(report.result));
    if (report.result == qp::kCannotOpen && !report.summary.open_error.empty())
      top.AddText("reason", report.summary.open_error);
    return top.Done();
  }
  const qp::FileSummary& s = report.summary;
  JsonObject header;
  header.AddText("magic", "KSQP")
      .Add("body_crc", s.body_crc)
      .Add("body_size", s.body_size)
      .Add("chunk_crc", s.chunk_crc)
      .Add("chunk_size", s.chunk_size)
      .Add("reserved", s.reserved)
      .Add("code_count", s.code_count)
      .Add("format_a", s.format_a)
      .Add("format_b", s.format_b)
      .Add("format_c", s.format_c)
      .Add("record_count", s.record_count)
      .Add("record_crc", s.record_crc);
  JsonObject main;
  main.AddText("name", s.chunk_name)
      .Add("name_length", s.name_length)
      .Add("packed_size", s.packed_size)
      .Add("packed_crc", s.packed_crc)
      .Add("unpacked_size", s.unpacked_size)
      .Add("unpacked_crc", s.unpacked_crc)
      .AddText("layout", ChunkLayoutName(report.chunk));
  std::string code = "[";
  for (const qp::FileSummary::Entry& e : s.entries) {
    if (code.size() > 1) code += ",";
    code += JsonObject().AddText("name", e.name).Add("size", e.size).Add("crc", e.crc).Done();
  }
  code += "]";
  std::string records = "[";
  for (const VerificationRecord& r : report.records) {
    if (records.size() > 1) records += ",";
    records += JsonObject()
                   .Add("kind", r.kind)
                   .AddText("kind_name", RecordKindName(r.kind))
                   .Add("flags", r.flags)
                   .AddText("flags_name", RecordFlagsName(r.kind, r.flags))
                   .Add("first_crc", r.firstCrc)
                   .Add("second_crc", r.secondCrc)
                   .Done();
  }
  records += "]";
  top.Add("file_size", s.file_size)
      .Add("file_crc", report.file_crc)
      .Add("header", header.Done())
      .Add("main", main.Done())
      .Add("code", code)
      .Add("records", records);
  return top.Done();
}
