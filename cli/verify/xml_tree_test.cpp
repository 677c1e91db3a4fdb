#include "cli/verify/xml_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace verify {
namespace {

using Outcome = XmlParseResult::Outcome;

const XmlNode& Child(const XmlTree& tree, const XmlNode& parent, size_t i) {
  return tree.nodes[parent.children.at(i)];
}

TEST(XmlTreeTest, ElementTextIsItsOwnCharacterDataOnly) {
  XmlParseResult r = ParseXmlTree(
      "<akqp:verify><t> a &amp; &#65;<b>inner</b>z <![CDATA[cd]]><!--c--><?pi data?></t>"
      "</akqp:verify>");
  ASSERT_EQ(r.outcome, Outcome::kOk);
  const XmlTree& tree = r.tree;
  EXPECT_EQ(tree.root().name, "akqp:verify");
  const XmlNode& t = Child(tree, tree.root(), 0);
  EXPECT_EQ(t.text, " a & Az ");
  ASSERT_EQ(t.children.size(), 4u);
  EXPECT_EQ(Child(tree, t, 0).text, "inner");
  EXPECT_EQ(Child(tree, t, 1).kind, XmlNode::Kind::kCData);
  EXPECT_EQ(Child(tree, t, 1).text, "cd");
  EXPECT_EQ(Child(tree, t, 2).kind, XmlNode::Kind::kComment);
  EXPECT_EQ(Child(tree, t, 3).kind, XmlNode::Kind::kProcessingInstruction);
  EXPECT_EQ(Child(tree, t, 3).name, "pi");
  EXPECT_EQ(tree.FirstChildElement(tree.root(), "t"), &t);
  EXPECT_EQ(tree.FirstChildElement(tree.root(), "T"), nullptr);
}

TEST(XmlTreeTest, AttributesKeepTheirOrderAndValues) {
  XmlParseResult r = ParseXmlTree("<r><g name=' x ' type=\"s&lt;\"/></r>");
  ASSERT_EQ(r.outcome, Outcome::kOk);
  const XmlNode& g = Child(r.tree, r.tree.root(), 0);
  ASSERT_EQ(g.attributes.size(), 2u);
  EXPECT_EQ(g.attributes[0], (std::pair<std::string, std::string>("name", " x ")));
  EXPECT_EQ(g.attributes[1], (std::pair<std::string, std::string>("type", "s<")));
}

TEST(XmlTreeTest, LineBreaksFollowTheFirstLineBreakOfTheDocument) {
  EXPECT_EQ(LineBreakStyle("a\r\nb\nc"), "\r\n");
  EXPECT_EQ(LineBreakStyle("a\rb\r\n"), "\r");
  EXPECT_EQ(LineBreakStyle("a\nb\r\n"), "\n");
  EXPECT_EQ(LineBreakStyle("ab"), "\n");
  EXPECT_EQ(LineBreakStyle("ab\r"), "\r");

  struct Case {
    const char* xml;
    const char* text;
  } cases[] = {
      {"<r>\r\n<t>a\r\nb\nc\rd</t></r>", "a\r\nb\r\nc\r\nd"},
      {"<r>\r<t>a\r\nb\nc</t></r>", "a\rb\rc"},
      {"<r>\n<t>a\r\nb\rc</t></r>", "a\nb\nc"},
      {"<r>\r\n<t>a&#13;b&#10;c</t></r>", "a\rb\r\nc"},  // a CR reference stays a CR
  };
  for (const Case& c : cases) {
    XmlParseResult r = ParseXmlTree(c.xml);
    ASSERT_EQ(r.outcome, Outcome::kOk) << c.xml;
    EXPECT_EQ(Child(r.tree, r.tree.root(), 0).text, c.text) << c.xml;
  }
}

TEST(XmlTreeTest, TextsAreIso88591) {
  // Raw bytes E9 and FF of the input, references to U+00E9 and U+0100.
  XmlParseResult r = ParseXmlTree("<r \xE9=\"\xFF\"><t\xE9>\xE9&#233;&#xFF;&#x100;</t\xE9></r>");
  ASSERT_EQ(r.outcome, Outcome::kOk);
  EXPECT_EQ(r.tree.root().attributes.at(0).first, "\xE9");
  EXPECT_EQ(r.tree.root().attributes.at(0).second, "\xFF");
  const XmlNode& t = Child(r.tree, r.tree.root(), 0);
  EXPECT_EQ(t.name, "t\xE9");
  // Above U+00FF there is no single byte: the character keeps its UTF-8 bytes.
  EXPECT_EQ(t.text, "\xE9\xE9\xFF\xC4\x80");
}

TEST(XmlTreeTest, MalformedDocumentsAreRefused) {
  EXPECT_EQ(ParseXmlTree("").outcome, Outcome::kMalformed);
  EXPECT_EQ(ParseXmlTree("<r>&undefined;</r>").outcome, Outcome::kMalformed);
  EXPECT_EQ(ParseXmlTree("<r/><r/>").outcome, Outcome::kMalformed);
}

TEST(XmlTreeTest, EntityExpansionAttacksAreRefused) {
  std::string doc = "<!DOCTYPE r [<!ENTITY a0 \"lol lol lol lol lol lol lol lol lol lol\">";
  for (int i = 1; i < 10; ++i) {
    std::string prev = "&a" + std::to_string(i - 1) + ";";
    std::string value;
    for (int k = 0; k < 10; ++k) value += prev;
    doc += "<!ENTITY a" + std::to_string(i) + " \"" + value + "\">";
  }
  doc += "]><r>&a9;</r>";
  XmlParseResult r = ParseXmlTree(doc);
  EXPECT_NE(r.outcome, Outcome::kOk);
  EXPECT_TRUE(r.tree.empty());
}

TEST(XmlTreeTest, LimitsStopHostileDocuments) {
  XmlLimits limits;
  limits.max_depth = 10;
  limits.max_nodes = 20;
  limits.extra_text_bytes = 100;

  std::string deep;
  for (int i = 0; i < 11; ++i) deep += "<d>";
  XmlParseResult r = ParseXmlTree(deep, limits);
  EXPECT_EQ(r.outcome, Outcome::kTooLarge);
  EXPECT_NE(r.error.find("10 levels"), std::string::npos) << r.error;
  EXPECT_EQ(r.line, 1u);

  std::string nested;
  for (int i = 0; i < 10; ++i) nested += "<d>";
  for (int i = 0; i < 10; ++i) nested += "</d>";
  EXPECT_EQ(ParseXmlTree(nested, limits).outcome, Outcome::kOk);

  std::string wide = "<r>";
  for (int i = 0; i < 20; ++i) wide += "<!--c-->";
  EXPECT_EQ(ParseXmlTree(wide + "</r>", limits).outcome, Outcome::kTooLarge);

  // Entity text that grows far beyond the input, below the parser's own amplification
  // guard.
  std::string grow = "<!DOCTYPE r [<!ENTITY e \"" + std::string(60, 'x') + "\">]><r>";
  for (int i = 0; i < 10; ++i) grow += "&e;";
  EXPECT_EQ(ParseXmlTree(grow + "</r>", limits).outcome, Outcome::kTooLarge);
}

}  // namespace
}  // namespace verify
