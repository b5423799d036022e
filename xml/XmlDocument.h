#pragma once
// The scenario XML document layer: a thin layer over pugixml. Text is UTF-8; every name
// lookup ignores ASCII letter case.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace vtr {

// Raised for text or files that are not a readable XML document.
class EXmlError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// A borrowed handle to an element; valid while its document holds the element. A null node
// stands for "none": every getter on it gives empty results and setters do nothing.
class XmlNode
{
public:
  XmlNode() = default;
  explicit XmlNode(pugi::xml_node n) : node_(n.type() == pugi::node_element ? n : pugi::xml_node()) {}

  explicit operator bool() const { return static_cast<bool>(node_); }
  bool operator==(const XmlNode& o) const { return node_ == o.node_; }

  std::string Name() const { return node_.name(); }

  // Child elements in document order. Children() walks the list once; Child(i) walks it from
  // the start each time, so loops over all children use Children().
  std::vector<XmlNode> Children() const;
  int ChildCount() const;
  XmlNode Child(int index) const;
  // First child element whose name equals name, ignoring case.
  XmlNode ChildByName(std::string_view name) const;
  // ChildByName, appending a new child when there is none.
  XmlNode EnsureChild(std::string_view name);
  XmlNode AppendChild(std::string_view name);
  void RemoveChild(XmlNode child);

  // Value of the first attribute with that name (ignoring case), or none.
  std::optional<std::string> Attribute(std::string_view name) const;
  // The same, empty text when missing.
  std::string AttributeText(std::string_view name) const { return Attribute(name).value_or(""); }
  void AppendAttribute(std::string_view name, std::string_view value);
  // Sets the first attribute with that name, appending it when missing.
  void SetAttribute(std::string_view name, std::string_view value);
  int AttributeCount() const;

  // The element's own text (character data directly inside it).
  std::string Text() const;
  // Replaces the element's text; child elements stay.
  void SetText(std::string_view text);
  void SetTextInt(int64_t value);
  // Number text of the value (six significant digits).
  void SetTextFloat(double value);
  // Text of the first child with that name, or the default.
  std::string ChildText(std::string_view name, std::string_view def = {}) const;

  pugi::xml_node Raw() const { return node_; }

private:
  pugi::xml_node node_;
};

class XmlDocument
{
public:
  XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Drops everything: no declaration, no root.
  void Clear();
  // Empty document: declaration <?xml version="1.0" encoding="utf-8"?> and the root element.
  void CreateEmpty(std::string_view rootName);

  XmlNode Root() const;
  bool HasDeclaration() const;

  // Readable form: one element per line, TAB per level, CR LF. Compact otherwise.
  bool Readable() const { return readable_; }
  void SetReadable(bool on) { readable_ = on; }

  // Replaces the content by the document in text; raises EXmlError when it is not XML with a
  // root element (the document is then left empty).
  void LoadFromText(std::string_view utf8);
  std::string SaveToText() const;
  // Writes UTF-8 without byte-order mark through a temporary file, so a failed write never
  // leaves a half-written file under the name. Raises EXmlError on failure.
  void SaveToFile(const std::string& path) const;

  // Copies another document's content.
  void Assign(const XmlDocument& other);

  pugi::xml_document& Raw() { return *doc_; }

private:
  std::unique_ptr<pugi::xml_document> doc_;
  bool readable_ = false;
};

} // namespace vtr
