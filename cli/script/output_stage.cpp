#include "cli/script/output_stage.h"

#include <cstdio>
#include <memory>

#include "cli/sections/assemblies.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/qpfile/qp_file.h"

#include <zlib.h>

namespace {

// Names are compared and stored without the blanks around them (spaces only).
std::string TrimSpaces(const std::string& text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return text.substr(begin, end - begin + 1);
}

std::string Kib(int64_t size) {
  // Single precision, as the size has always been shown.
  float kib = static_cast<float>(size) / 1024.0f;
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(kib));
  return text;
}

// Writes the file and reports it: the success line only once the file is complete on
// disk, an "[ERROR] " line with the reason otherwise.
bool WriteAndReport(const QpFile& qp, const std::string& path) {
  std::string reason;
  int result = qp.Write(path, &reason);
  if (result == qp::kPackFailed) reason = "the Lua chunk could not be packed";
  if (result != qp::kWritten) {
    platform::ConsolePrint("[ERROR] The QP file '" + path + "' could not be written: " + reason +
                           ".");
    return false;
  }
  // The size and CRC-32 are those of the file as it now stands on disk.
  std::optional<std::string> written = platform::ReadFile(path);
  int64_t size = written ? static_cast<int64_t>(written->size()) : platform::FileSize(path);
  uint32_t crc = 0;
  if (written)
    crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(written->data()),
                                      static_cast<uInt>(written->size())));
  platform::ConsolePrint("Compilation successful, script compiled to '" +
                         platform::FileName(path) + "' (" + Kib(size) +
                         " KiB, CRC32: " + std::to_string(static_cast<int32_t>(crc)) + ").");
  platform::ConsolePrint("");
  return true;
}

int WriteOutput(CompileJob& job, SectionTables& tables, const VerificationRecords& records,
                const std::string& name) {
  std::unique_ptr<QpFile> qp = CreateQpFile();
  if (!qp) {
    platform::ConsolePrint("[ERROR] The QP file could not be prepared: out of memory.");
    return 0;
  }
  bool may_write = true;

  const std::string& script = job.args.script_text ? *job.args.script_text : job.script;
  std::string prepared = PrepareScriptForOutput(script, tables);
  if (!qp->SetMainChunk(prepared, name, /*raw=*/false)) {
    platform::ConsolePrint("[ERROR] An unknown Lua compilation error occurred.");
    may_write = false;
  }
  qp->SetVerificationRecords(records);
  for (const auto& [entry_name, entry] : tables.machine_code) {
    const uint8_t* code = entry.block ? entry.block->data() : nullptr;
    if (!qp->AddMachineCode(TrimSpaces(entry_name), code, entry.length)) {
      platform::ConsolePrint("[ERROR] Pre-assembled assembly '" + entry_name +
                             "' could not be added to the QP. ");
      may_write = false;
    }
  }

  // A relative output path is taken relative to the current folder now, after the
  // script ran: a script that changed folder with sys.cwd moves the file there.
  int result = may_write && WriteAndReport(*qp, job.output_path) ? 1 : 0;
  qp->Release();
  return result;
}

}  // namespace

std::string ModuleName(const SectionTables& tables) {
  auto it = tables.information.find("name");
  if (it == tables.information.end()) return "";
  // Texts from the script end at a NUL byte.
  const std::string& value = it->second;
  return TrimSpaces(value.substr(0, value.find('\0')));
}

int RunOutputStage(CompileJob& job, SectionTables& tables, const VerificationRecords& records) {
  int result = 0;
  std::string name = ModuleName(tables);
  if (name.empty()) {
    platform::ConsolePrint(
        "[ERROR] info: A name is required, please provide a name in the info table!");
  } else if (job.args.success_flag != 0) {
    result = WriteOutput(job, tables, records, name);
  }
  job.args.compile_flag = 0;
  job.compile_flag_copy = 0;
  return result;
}
