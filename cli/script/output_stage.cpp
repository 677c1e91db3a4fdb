#include "cli/script/output_stage.h"

#include <cstdio>
#include <memory>
#include <new>

#include "cli/sections/assemblies.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/qpfile/qp_file.h"

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
  qp::Written written;
  int result = qp.Write(path, &reason, &written);
  if (result == qp::kPackFailed)
    reason = "the Lua chunk could not be packed" + (reason.empty() ? "" : " (" + reason + ")");
  if (result != qp::kWritten) {
    platform::ConsolePrint("[ERROR] The QP file '" + path + "' could not be written: " + reason +
                           ".");
    return false;
  }
  // The size and CRC-32 of the bytes written: the file now holds exactly them (a device
  // or a pipe written in place is not read back).
  platform::ConsolePrint("Compilation successful, script compiled to '" +
                         platform::FileName(path) + "' (" +
                         Kib(static_cast<int64_t>(written.size)) + " KiB, CRC32: " +
                         std::to_string(static_cast<int32_t>(written.crc)) + ").");
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
  // script ran: a script that changed folder with sys.cwd moves the file there, so the
  // driver's check of the output is made again.
  if (may_write) {
    std::string conflict = OutputConflict(job, job.output_path);
    if (!conflict.empty()) {
      platform::ConsolePrint("[ERROR] akqp-cli: " + conflict);
      may_write = false;
    }
  }
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

std::string OutputConflict(const CompileJob& job, const std::string& output_path) {
  std::optional<platform::FileId> output = platform::FileIdentity(output_path);
  if (!output) return "";
  if (output == job.input_id)
    return "The output file is the input script; choose another output path.";
  if (output == job.verify_id)
    return "The output file is the verification file; choose another output path.";
  return "";
}

int RunOutputStage(CompileJob& job, SectionTables& tables, const VerificationRecords& records) {
  int result = 0;
  std::string name = ModuleName(tables);
  if (name.empty()) {
    platform::ConsolePrint(
        "[ERROR] info: A name is required, please provide a name in the info table!");
  } else if (job.args.success_flag != 0) {
    try {
      result = WriteOutput(job, tables, records, name);
    } catch (const std::bad_alloc&) {
      platform::ConsolePrint("[ERROR] The QP file could not be written: out of memory.");
      result = 0;
    }
  }
  job.args.compile_flag = 0;
  job.compile_flag_copy = 0;
  return result;
}
