// The verification XML read into a small tree of nodes with Expat: elements with their
// names, attributes and own text, comments, CDATA sections and processing instructions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace verify {

struct XmlNode {
  enum class Kind { kElement, kComment, kCData, kProcessingInstruction };
  Kind kind = Kind::kElement;
  std::string name;  // elements: the tag name; processing instructions: the target
  std::vector<std::pair<std::string, std::string>> attributes;  // elements, in order
  // Elements: the character data directly inside, references resolved, CDATA left out,
  // line breaks in the document's own style. Other kinds: their content.
  std::string text;
  std::vector<size_t> children;  // indices into XmlTree::nodes, in document order
};

// Bounds that keep a hostile document from exhausting memory or time. Real sections
// hold a few dozen nodes.
struct XmlLimits {
  size_t max_depth = 256;        // elements nested deeper than this are refused
  size_t max_nodes = 100'000;    // nodes of all kinds
  size_t extra_text_bytes = 16u << 20;  // stored text beyond twice the input's size
};

struct XmlTree {
  std::vector<XmlNode> nodes;  // nodes[0] is the document element when there is one
  bool empty() const { return nodes.empty(); }
  const XmlNode& root() const { return nodes.front(); }
  // The first element child of `parent` named `name`, or null.
  const XmlNode* FirstChildElement(const XmlNode& parent, std::string_view name) const;
};

struct XmlParseResult {
  enum class Outcome {
    kOk,
    kNoParser,   // the parser could not be created
    kMalformed,  // the document is not well-formed: error, line and column are set
    kTooLarge,   // a limit of XmlLimits was reached: error, line and column are set
  };
  Outcome outcome = Outcome::kOk;
  XmlTree tree;
  std::string error;  // the parser's text for the error, or what limit was reached
  unsigned long line = 0;    // 1-based, as the parser counts
  unsigned long column = 0;  // 0-based
};

// Parses `xml` in one piece as ISO-8859-1, without namespace processing. Texts, names
// and attribute values come back as ISO-8859-1 bytes; a character above U+00FF (only a
// character reference can give one) keeps its UTF-8 bytes.
XmlParseResult ParseXmlTree(std::string_view xml, const XmlLimits& limits = {});

// The line break that texts are written with: that of the first line break in `xml`
// (CR LF, or a lone CR), else LF.
std::string_view LineBreakStyle(std::string_view xml);

}  // namespace verify
