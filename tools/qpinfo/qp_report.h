// What qpinfo says about a QP file: the fields of its header and main block, its
// machine-code entries and verification records, as stable "key: value" lines or as one
// JSON object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/qpfile/qp_file.h"

struct QpReport {
  std::string path;
  int result = 0;                 // QpFile::Load's result
  qp::FileSummary summary;        // the fields read
  std::string chunk;              // the unpacked chunk as stored
  VerificationRecords records;
  uint32_t file_crc = 0;          // CRC-32 of the whole file
};

// Loads `path` and gathers the report; result < 1 when the load failed.
QpReport MakeReport(const std::string& path);

// The text lines of a loaded file.
std::vector<std::string> ReportLines(const QpReport& report);

// The one line that explains a failed load: the result in words (with the system's reason
// when the file could not be opened) and its code.
std::string FailureLine(const QpReport& report);

// The report as one JSON object (also for failed loads: "result" and "error").
std::string ReportJson(const QpReport& report);

// `text` as a JSON string literal with its quotes. Bytes are taken as Latin-1: bytes of
// 0x80 and above become \u0080..\u00FF, so the result is always valid UTF-8.
std::string JsonString(std::string_view text);

// What a verification record describes, by its kind ("global") and by its kind and flags
// ("type and value"); "unknown" for values no compiler makes.
const char* RecordKindName(uint32_t kind);
const char* RecordFlagsName(uint32_t kind, uint32_t flags);

// How the stored chunk is laid out: "host" (32-bit x86 Lua 5.3), "native" (this
// machine's Lua), "other" (another binary layout) or "text" (not a binary chunk).
std::string ChunkLayoutName(std::string_view chunk);
