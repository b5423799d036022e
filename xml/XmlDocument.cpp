#include "xml/XmlDocument.h"

#include "base/Convert.h"
#include "base/TextLists.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace vtr {

// ---- XmlNode -------------------------------------------------------------------------------

std::vector<XmlNode> XmlNode::Children() const
{
  std::vector<XmlNode> out;
  for (auto c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element)
      out.emplace_back(c);
  return out;
}

int XmlNode::ChildCount() const
{
  int n = 0;
  for (auto c = node_.first_child(); c; c = c.next_sibling())
    n += c.type() == pugi::node_element;
  return n;
}

XmlNode XmlNode::Child(int index) const
{
  if (index < 0)
    return {};
  for (auto c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && index-- == 0)
      return XmlNode(c);
  return {};
}

XmlNode XmlNode::ChildByName(std::string_view name) const
{
  for (auto c = node_.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && SameText(c.name(), name))
      return XmlNode(c);
  return {};
}

XmlNode XmlNode::EnsureChild(std::string_view name)
{
  XmlNode c = ChildByName(name);
  return c ? c : AppendChild(name);
}

XmlNode XmlNode::AppendChild(std::string_view name)
{
  if (!node_)
    return {};
  // Blanks kept as the text of an empty element ("<units>\r\n\t</units>") were layout, not
  // content, once the element holds elements: drop them so it is written one child a line.
  auto only = node_.first_child();
  if (only && only.type() == pugi::node_pcdata && !only.next_sibling() &&
      std::string_view(only.value()).find_first_not_of(" \t\r\n") == std::string_view::npos)
    node_.remove_child(only);
  return XmlNode(node_.append_child(std::string(name).c_str()));
}

void XmlNode::RemoveChild(XmlNode child)
{
  if (node_ && child && child.node_.parent() == node_)
    node_.remove_child(child.node_);
}

std::optional<std::string> XmlNode::Attribute(std::string_view name) const
{
  for (auto a = node_.first_attribute(); a; a = a.next_attribute())
    if (SameText(a.name(), name))
      return std::string(a.value());
  return std::nullopt;
}

void XmlNode::AppendAttribute(std::string_view name, std::string_view value)
{
  if (node_)
    node_.append_attribute(std::string(name).c_str()).set_value(std::string(value).c_str());
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value)
{
  for (auto a = node_.first_attribute(); a; a = a.next_attribute())
    if (SameText(a.name(), name)) {
      a.set_value(std::string(value).c_str());
      return;
    }
  AppendAttribute(name, value);
}

int XmlNode::AttributeCount() const
{
  int n = 0;
  for (auto a = node_.first_attribute(); a; a = a.next_attribute())
    ++n;
  return n;
}

std::string XmlNode::Text() const { return node_ ? node_.text().get() : ""; }

void XmlNode::SetText(std::string_view text)
{
  if (!node_)
    return;
  // Drop every character-data child so the element holds exactly this text.
  for (auto c = node_.first_child(); c;) {
    auto next = c.next_sibling();
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
      node_.remove_child(c);
    c = next;
  }
  if (!text.empty())
    node_.prepend_child(pugi::node_pcdata).set_value(std::string(text).c_str());
}

void XmlNode::SetTextInt(int64_t value) { SetText(IntToStr(value)); }

void XmlNode::SetTextFloat(double value) { SetText(FloatToNumText(value)); }

std::string XmlNode::ChildText(std::string_view name, std::string_view def) const
{
  XmlNode c = ChildByName(name);
  return c ? c.Text() : std::string(def);
}

// ---- Writing -------------------------------------------------------------------------------

namespace {

void EscapeText(std::string& out, std::string_view s)
{
  for (char c : s) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '\r': out += "&#13;"; break; // a bare CR would read back as a line break
    default: out += c;
    }
  }
}

void EscapeAttribute(std::string& out, std::string_view s)
{
  for (char c : s) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    case '\t': out += "&#9;"; break;
    case '\n': out += "&#10;"; break;
    case '\r': out += "&#13;"; break;
    default: out += c;
    }
  }
}

void OpenTag(std::string& out, pugi::xml_node n)
{
  out += '<';
  out += n.name();
  for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
    out += ' ';
    out += a.name();
    out += "=\"";
    EscapeAttribute(out, a.value());
    out += '"';
  }
}

bool HasElementChild(pugi::xml_node n)
{
  for (auto c = n.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element)
      return true;
  return false;
}

bool HasText(pugi::xml_node n)
{
  for (auto c = n.first_child(); c; c = c.next_sibling())
    if ((c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) && *c.value())
      return true;
  return false;
}

// Writes one element and everything below it without line breaks. Iterative: a document of
// any depth is written without deep recursion.
void WriteInline(std::string& out, pugi::xml_node top)
{
  std::vector<pugi::xml_node> stack{top};
  std::vector<bool> opened{false};
  while (!stack.empty()) {
    pugi::xml_node n = stack.back();
    if (opened.back()) {
      out += "</";
      out += n.name();
      out += '>';
      stack.pop_back();
      opened.pop_back();
      continue;
    }
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      EscapeText(out, n.value());
      stack.pop_back();
      opened.pop_back();
      continue;
    }
    OpenTag(out, n);
    if (!n.first_child() || (!HasElementChild(n) && !HasText(n))) {
      out += "/>";
      stack.pop_back();
      opened.pop_back();
      continue;
    }
    out += '>';
    opened.back() = true;
    std::vector<pugi::xml_node> kids;
    for (auto c = n.first_child(); c; c = c.next_sibling())
      if (c.type() == pugi::node_element || c.type() == pugi::node_pcdata ||
          c.type() == pugi::node_cdata)
        kids.push_back(c);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
      stack.push_back(*it);
      opened.push_back(false);
    }
  }
}

// Readable layout: one element per line, a TAB per level, CR LF. An element holding both text
// and elements is written inline so its text reads back unchanged.
void WriteReadable(std::string& out, pugi::xml_node top)
{
  struct Frame
  {
    pugi::xml_node node;
    int depth;
    bool closing;
  };
  std::vector<Frame> stack{{top, 0, false}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    out.append(static_cast<size_t>(f.depth), '\t');
    if (f.closing) {
      out += "</";
      out += f.node.name();
      out += ">\r\n";
      continue;
    }
    const bool kids = HasElementChild(f.node);
    const bool text = HasText(f.node);
    if (kids && text) {
      WriteInline(out, f.node);
      out += "\r\n";
      continue;
    }
    if (!kids) {
      if (!text) {
        OpenTag(out, f.node);
        out += "/>\r\n";
      } else {
        WriteInline(out, f.node);
        out += "\r\n";
      }
      continue;
    }
    OpenTag(out, f.node);
    out += ">\r\n";
    stack.push_back({f.node, f.depth, true});
    std::vector<pugi::xml_node> children;
    for (auto c = f.node.first_child(); c; c = c.next_sibling())
      if (c.type() == pugi::node_element)
        children.push_back(c);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      stack.push_back({*it, f.depth + 1, false});
  }
}

pugi::xml_node DeclarationOf(const pugi::xml_document& doc)
{
  for (auto c = doc.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_declaration)
      return c;
  return {};
}

} // namespace

// ---- XmlDocument ---------------------------------------------------------------------------

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

void XmlDocument::Clear() { doc_->reset(); }

void XmlDocument::CreateEmpty(std::string_view rootName)
{
  doc_->reset();
  auto decl = doc_->append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  doc_->append_child(std::string(rootName).c_str());
}

XmlNode XmlDocument::Root() const { return XmlNode(doc_->document_element()); }

bool XmlDocument::HasDeclaration() const { return static_cast<bool>(DeclarationOf(*doc_)); }

void XmlDocument::LoadFromText(std::string_view utf8)
{
  doc_->reset();
  // A text of blanks alone (a name of one space) is content; blanks between elements are not.
  const unsigned flags = pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single;
  pugi::xml_parse_result r = doc_->load_buffer(utf8.data(), utf8.size(), flags, pugi::encoding_utf8);
  if (!r) {
    doc_->reset();
    throw EXmlError("XML error at character " + std::to_string(r.offset) + ": " + r.description());
  }
  if (!doc_->document_element()) {
    doc_->reset();
    throw EXmlError("XML error: the document has no root element");
  }
  // The text arrived as UTF-8 and is written as UTF-8: a declaration naming another encoding
  // would make other readers misread every non-ASCII character.
  if (auto decl = DeclarationOf(*doc_))
    if (auto enc = decl.attribute("encoding"))
      enc.set_value("utf-8");
}

std::string XmlDocument::SaveToText() const
{
  std::string out;
  const char* eol = readable_ ? "\r\n" : "";
  if (auto decl = DeclarationOf(*doc_)) {
    out += "<?xml";
    for (auto a = decl.first_attribute(); a; a = a.next_attribute()) {
      out += ' ';
      out += a.name();
      out += "=\"";
      EscapeAttribute(out, a.value());
      out += '"';
    }
    out += "?>";
    out += eol;
  }
  if (auto root = doc_->document_element()) {
    if (readable_)
      WriteReadable(out, root);
    else
      WriteInline(out, root);
  }
  return out;
}

void XmlDocument::SaveToFile(const std::string& path) const
{
  const std::string text = SaveToText();
  const std::string tmp = path + ".part";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f)
      throw EXmlError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.flush();
    if (!f) {
      f.close();
      std::remove(tmp.c_str());
      throw EXmlError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    std::remove(tmp.c_str());
    throw EXmlError("Cannot create file \"" + path + "\". " + std::strerror(err));
  }
}

void XmlDocument::Assign(const XmlDocument& other)
{
  if (&other == this)
    return;
  doc_->reset(*other.doc_);
}

} // namespace vtr
