#include "cli/verify/xml_tree.h"

// The entity-amplification guards are declared only when the DTD feature is announced;
// the library we link always has it (a library without it refuses the calls, which the
// code below tolerates).
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <algorithm>
#include <climits>

namespace verify {
namespace {

// Expat's own guard against entity expansion ("billion laughs"): its defaults, stated
// here so that they stay on whatever a future library chooses.
constexpr float kMaxAmplification = 100.0f;
constexpr unsigned long long kAmplificationThreshold = 8ull << 20;

// Expat hands out UTF-8 whatever the input encoding was; the tree keeps ISO-8859-1, one
// byte per character. A character above U+00FF has no such byte and keeps its UTF-8
// bytes. With `line_break`, every LF (Expat turns CR LF and lone CR into LF) is written
// in the document's own style.
void AppendLatin1(std::string* out, const char* s, size_t n, std::string_view line_break) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if ((c == 0xC2 || c == 0xC3) && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      out->push_back(static_cast<char>(((c & 0x03) << 6) | (p[i + 1] & 0x3F)));
      ++i;
    } else if (c == '\n' && !line_break.empty()) {
      out->append(line_break);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

std::string Latin1(const char* s) {
  std::string out;
  AppendLatin1(&out, s, std::char_traits<char>::length(s), {});
  return out;
}

class TreeBuilder {
 public:
  TreeBuilder(XML_Parser parser, const XmlLimits& limits, std::string_view line_break,
              size_t input_size)
      : parser_(parser), limits_(limits), line_break_(line_break) {
    max_text_bytes_ = limits.extra_text_bytes + 2 * std::min(input_size, SIZE_MAX / 4);
  }

  void Install() {
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &OnStart, &OnEnd);
    XML_SetCharacterDataHandler(parser_, &OnText);
    XML_SetCdataSectionHandler(parser_, &OnStartCData, &OnEndCData);
    XML_SetCommentHandler(parser_, &OnComment);
    XML_SetProcessingInstructionHandler(parser_, &OnInstruction);
  }

  XmlTree& tree() { return tree_; }
  bool stopped() const { return stopped_; }
  const std::string& stop_reason() const { return stop_reason_; }
  unsigned long stop_line() const { return stop_line_; }
  unsigned long stop_column() const { return stop_column_; }

 private:
  static TreeBuilder* Self(void* data) { return static_cast<TreeBuilder*>(data); }

  // Ends the parse at the first limit reached; the parser reports "aborted" and the
  // reason given here is what the caller shows.
  void Stop(std::string reason) {
    if (stopped_) return;
    stopped_ = true;
    stop_reason_ = std::move(reason);
    stop_line_ = XML_GetCurrentLineNumber(parser_);
    stop_column_ = XML_GetCurrentColumnNumber(parser_);
    XML_StopParser(parser_, XML_FALSE);
  }

  bool Charge(size_t bytes) {
    text_bytes_ += bytes;
    if (text_bytes_ > max_text_bytes_) {
      Stop("the document's text grows beyond " + std::to_string(max_text_bytes_) + " bytes");
      return false;
    }
    return true;
  }

  // A new node below the innermost open element; null when a limit stops the parse or
  // when there is no open element (comments and instructions outside the document
  // element are not kept).
  XmlNode* AddChild(XmlNode::Kind kind) {
    if (open_.empty()) return nullptr;
    if (tree_.nodes.size() >= limits_.max_nodes) {
      Stop("the document has more than " + std::to_string(limits_.max_nodes) + " nodes");
      return nullptr;
    }
    size_t index = tree_.nodes.size();
    tree_.nodes[open_.back()].children.push_back(index);
    tree_.nodes.emplace_back().kind = kind;
    return &tree_.nodes.back();
  }

  static void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** atts) {
    TreeBuilder* self = Self(data);
    if (self->stopped_) return;
    if (self->open_.size() >= self->limits_.max_depth) {
      self->Stop("elements are nested more than " + std::to_string(self->limits_.max_depth) +
                 " levels deep");
      return;
    }
    if (self->tree_.nodes.size() >= self->limits_.max_nodes) {
      self->Stop("the document has more than " + std::to_string(self->limits_.max_nodes) +
                 " nodes");
      return;
    }
    XmlNode* node;
    if (self->open_.empty()) {
      // The document element: always nodes[0], since nothing outside it is kept.
      self->tree_.nodes.emplace_back();
      node = &self->tree_.nodes.back();
    } else {
      node = self->AddChild(XmlNode::Kind::kElement);
    }
    size_t index = self->tree_.nodes.size() - 1;
    node->name = Latin1(name);
    size_t bytes = node->name.size();
    for (size_t i = 0; atts[i] != nullptr && atts[i + 1] != nullptr; i += 2) {
      node->attributes.emplace_back(Latin1(atts[i]), Latin1(atts[i + 1]));
      bytes += node->attributes.back().first.size() + node->attributes.back().second.size();
    }
    if (!self->Charge(bytes)) return;
    self->open_.push_back(index);
  }

  static void XMLCALL OnEnd(void* data, const XML_Char*) {
    TreeBuilder* self = Self(data);
    if (self->stopped_ || self->open_.empty()) return;
    self->open_.pop_back();
  }

  static void XMLCALL OnText(void* data, const XML_Char* s, int len) {
    TreeBuilder* self = Self(data);
    if (self->stopped_ || self->open_.empty() || len <= 0) return;
    // CDATA content forms a node of its own and is not part of the element's text.
    XmlNode& target =
        self->in_cdata_ ? self->tree_.nodes[self->cdata_node_] : self->tree_.nodes[self->open_.back()];
    size_t before = target.text.size();
    AppendLatin1(&target.text, s, static_cast<size_t>(len), self->line_break_);
    self->Charge(target.text.size() - before);
  }

  static void XMLCALL OnStartCData(void* data) {
    TreeBuilder* self = Self(data);
    if (self->stopped_ || self->open_.empty()) return;
    if (self->AddChild(XmlNode::Kind::kCData) == nullptr) return;
    self->cdata_node_ = self->tree_.nodes.size() - 1;
    self->in_cdata_ = true;
  }

  static void XMLCALL OnEndCData(void* data) { Self(data)->in_cdata_ = false; }

  static void XMLCALL OnComment(void* data, const XML_Char* text) {
    TreeBuilder* self = Self(data);
    if (self->stopped_) return;
    XmlNode* node = self->AddChild(XmlNode::Kind::kComment);
    if (node == nullptr) return;
    AppendLatin1(&node->text, text, std::char_traits<char>::length(text), self->line_break_);
    self->Charge(node->text.size());
  }

  static void XMLCALL OnInstruction(void* data, const XML_Char* target, const XML_Char* text) {
    TreeBuilder* self = Self(data);
    if (self->stopped_) return;
    XmlNode* node = self->AddChild(XmlNode::Kind::kProcessingInstruction);
    if (node == nullptr) return;
    node->name = Latin1(target);
    AppendLatin1(&node->text, text, std::char_traits<char>::length(text), self->line_break_);
    self->Charge(node->name.size() + node->text.size());
  }

  XML_Parser parser_;
  const XmlLimits& limits_;
  std::string_view line_break_;
  XmlTree tree_;
  std::vector<size_t> open_;  // indices of the open elements, innermost last
  bool in_cdata_ = false;
  size_t cdata_node_ = 0;
  size_t text_bytes_ = 0;
  size_t max_text_bytes_ = 0;
  bool stopped_ = false;
  std::string stop_reason_;
  unsigned long stop_line_ = 0;
  unsigned long stop_column_ = 0;
};

}  // namespace

const XmlNode* XmlTree::FirstChildElement(const XmlNode& parent, std::string_view name) const {
  for (size_t index : parent.children) {
    const XmlNode& child = nodes[index];
    if (child.kind == XmlNode::Kind::kElement && child.name == name) return &child;
  }
  return nullptr;
}

std::string_view LineBreakStyle(std::string_view xml) {
  size_t at = xml.find_first_of("\r\n");
  if (at == std::string_view::npos || xml[at] == '\n') return "\n";
  if (at + 1 < xml.size() && xml[at + 1] == '\n') return "\r\n";
  return "\r";
}

XmlParseResult ParseXmlTree(std::string_view xml, const XmlLimits& limits) {
  XmlParseResult result;
  XML_Parser parser = XML_ParserCreate("ISO-8859-1");
  if (parser == nullptr) {
    result.outcome = XmlParseResult::Outcome::kNoParser;
    return result;
  }
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, kMaxAmplification);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, kAmplificationThreshold);

  TreeBuilder builder(parser, limits, LineBreakStyle(xml), xml.size());
  builder.Install();

  // One document, one parse; only a text beyond what one call takes is fed in parts.
  XML_Status status = XML_STATUS_OK;
  size_t offset = 0;
  do {
    size_t piece = std::min<size_t>(xml.size() - offset, INT_MAX);
    bool last = offset + piece == xml.size();
    status = XML_Parse(parser, xml.data() + offset, static_cast<int>(piece), last);
    offset += piece;
  } while (status == XML_STATUS_OK && offset < xml.size());

  if (builder.stopped()) {
    result.outcome = XmlParseResult::Outcome::kTooLarge;
    result.error = builder.stop_reason();
    result.line = builder.stop_line();
    result.column = builder.stop_column();
  } else if (status != XML_STATUS_OK) {
    result.outcome = XmlParseResult::Outcome::kMalformed;
    const XML_LChar* message = XML_ErrorString(XML_GetErrorCode(parser));
    result.error = message != nullptr ? message : "unknown error";
    result.line = XML_GetCurrentLineNumber(parser);
    result.column = XML_GetCurrentColumnNumber(parser);
  } else {
    result.tree = std::move(builder.tree());
  }
  XML_ParserFree(parser);
  return result;
}

}  // namespace verify
