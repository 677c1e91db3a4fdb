#include "cli/verify/verify_xml.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "cli/verify/verify_extract.h"
#include "cli/verify/xml_tree.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

namespace verify {
namespace {

constexpr std::string_view kRootName = "akqp:verify";

// CRC-32 continued over `text` (zlib's, as everywhere in QP files); an empty text
// leaves the value as it was, so the CRC of "" is 0.
uint32_t Crc(std::string_view text, uint32_t crc = 0) {
  // zlib takes lengths as uInt; feed longer texts in parts.
  const auto* p = reinterpret_cast<const Bytef*>(text.data());
  size_t left = text.size();
  uLong value = crc;
  while (left > 0) {
    uInt piece = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
    value = crc32(value, p, piece);
    p += piece;
    left -= piece;
  }
  return static_cast<uint32_t>(value);
}

VerificationRecord MakeRecord(uint32_t kind, uint32_t flags, std::string_view key,
                              std::string_view value) {
  VerificationRecord record;
  record.kind = kind;
  record.flags = flags;
  record.firstCrc = Crc(key);
  record.secondCrc = Crc(value);
  return record;
}

bool IsAllowedType(std::string_view type) {
  return std::find(kAllowedGlobalTypes.begin(), kAllowedGlobalTypes.end(), type) !=
         kAllowedGlobalTypes.end();
}

bool AllowsValue(std::string_view type) {
  return type == "string" || type == "number" || type == "boolean";
}

void Warn(bool warnings, std::string_view line) {
  if (warnings) platform::ConsolePrint(line);
}

// The value of attribute `name`; an attribute that is not there reads as empty.
std::string_view Attribute(const XmlNode& element, std::string_view name) {
  for (const auto& [key, value] : element.attributes)
    if (key == name) return value;
  return {};
}

void AddVersionItems(const XmlTree& tree, VerificationRecords* records) {
  const XmlNode* version = tree.FirstChildElement(tree.root(), "version");
  if (version == nullptr) return;
  for (size_t index : version->children) {
    const XmlNode& item = tree.nodes[index];
    if (item.kind != XmlNode::Kind::kElement) continue;
    records->push_back(MakeRecord(kVersionItem, 0, item.name, item.text));
  }
}

void AddGlobals(const XmlTree& tree, bool warnings, VerificationRecords* records) {
  const XmlNode* globals = tree.FirstChildElement(tree.root(), "globals");
  if (globals == nullptr) return;
  for (size_t index : globals->children) {
    const XmlNode& global = tree.nodes[index];
    if (global.kind != XmlNode::Kind::kElement || global.name != "global") continue;
    std::string name = TrimChars(Attribute(global, "name"), " ");
    std::string_view type = Attribute(global, "type");
    if (name.empty() || type.empty()) {
      Warn(warnings,
           "[Warning]: One of the 'globals' verify fields has been ignored. Those fields "
           "require a name and type!");
      continue;
    }
    if (!IsAllowedType(type)) {
      Warn(warnings,
           "[Warning]: One of the 'globals' verify fields has been ignored. It used an invalid "
           "type!");
      Warn(warnings, "[Warning]: Allowed types are: " + std::string(kAllowedGlobalTypesText) + ".");
      continue;
    }
    VerificationRecord record = MakeRecord(kGlobal, kGlobalTypeOnly, name, type);
    std::string_view value = Attribute(global, "value");
    if (!value.empty()) {
      if (AllowsValue(type)) {
        record.flags = kGlobalWithValue;
        record.secondCrc = Crc(value, Crc(type));
      } else {
        Warn(warnings, "[Warning]: Global '" + name +
                           "' has a type which does not allow for value verification, value "
                           "ignored.");
      }
    }
    records->push_back(record);
  }
}

void AddMainWindow(const XmlTree& tree, VerificationRecords* records) {
  const XmlNode* window = tree.FirstChildElement(tree.root(), "mainWindow");
  if (window == nullptr) return;
  const XmlNode* title = tree.FirstChildElement(*window, "title");
  if (title == nullptr) return;
  records->push_back(MakeRecord(kMainWindow, kWindowTitle, "wnd", title->text));
}

void AddCurrentPage(const XmlTree& tree, VerificationRecords* records) {
  const XmlNode* page = tree.FirstChildElement(tree.root(), "currentPage");
  if (page == nullptr) return;
  if (const XmlNode* name = tree.FirstChildElement(*page, "name"))
    records->push_back(MakeRecord(kCurrentPage, kPageName, "page", name->text));
  for (size_t index : page->children) {
    const XmlNode& object = tree.nodes[index];
    if (object.kind != XmlNode::Kind::kElement || object.name != "object") continue;
    records->push_back(MakeRecord(kCurrentPage, kPageObject, "object", object.text));
  }
}

}  // namespace

bool CheckVerificationXml(std::string_view xml, VerificationRecords* records) {
  XmlParseResult parsed = ParseXmlTree(xml);
  switch (parsed.outcome) {
    case XmlParseResult::Outcome::kOk:
      break;
    case XmlParseResult::Outcome::kNoParser:
      platform::ConsolePrint("[ERROR]: Memory error while pre-processing!");
      return false;
    case XmlParseResult::Outcome::kTooLarge:
      // The tree could not be built within its bounds: the same failure as a tree that
      // cannot be created, with what was too large and where.
      platform::ConsolePrint("[ERROR]: Memory error while pre-processing!");
      platform::ConsolePrint("[ERROR]: The verify section is too large: " + parsed.error +
                             " (line " + std::to_string(parsed.line + 1) + ", position " +
                             std::to_string(parsed.column) + ").");
      return false;
    case XmlParseResult::Outcome::kMalformed:
      // The line is one more than the parser's, which counts from the line of the root
      // start tag; users and tools have always been given this number.
      platform::ConsolePrint("[ERROR]: Verify section's XML format is malformed!");
      platform::ConsolePrint("[ERROR]: " + parsed.error);
      platform::ConsolePrint("[ERROR]: At line: " + std::to_string(parsed.line + 1));
      platform::ConsolePrint("[ERROR]: At position: " + std::to_string(parsed.column));
      return false;
  }
  const XmlTree& tree = parsed.tree;
  if (tree.empty() || tree.root().name != kRootName) {
    platform::ConsolePrint("[ERROR]: Verify section's main node is invalid!");
    return false;
  }

  bool warnings = settings::Lookup("compiler::warnings") != 0;
  size_t first = records->size();
  AddVersionItems(tree, records);
  AddGlobals(tree, warnings, records);
  AddMainWindow(tree, records);
  AddCurrentPage(tree, records);

  if (settings::Lookup("compiler::information") != 0) {
    size_t bytes = 16 * (records->size() - first);
    platform::ConsolePrint("[Info]: The verify section will add " + std::to_string(bytes) +
                           " bytes to the product.");
  }
  return true;
}

}  // namespace verify
