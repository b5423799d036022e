#include "globe/GXML.h"

#include "base/Convert.h"
#include "globe/GStreams.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace vtr {

namespace {

bool IsBlank(char c)
{
  return static_cast<unsigned char>(c) <= ' ';
}

// Names go into the output unescaped, so they must not hold anything that ends a name or a tag.
bool LegalName(std::string_view name)
{
  if (name.empty()) return false;
  for (char c : name)
    if (IsBlank(c) || c == '<' || c == '>' || c == '/' || c == '"' || c == '=') return false;
  return true;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to)
{
  size_t pos = s.find(from);
  if (pos == std::string::npos) return;
  std::string out;
  out.reserve(s.size());
  size_t start = 0;
  while (pos != std::string::npos) {
    out.append(s, start, pos - start);
    out.append(to);
    start = pos + from.size();
    pos = s.find(from, start);
  }
  out.append(s, start, std::string::npos);
  s = std::move(out);
}

std::string Upper(std::string_view s)
{
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// ---------------------------------------------------------------------------------------------
// Colour names

struct ColorName
{
  const char* Name;
  uint32_t Value;
};

constexpr uint32_t kSys = 0xFF000000u;
constexpr ColorName kColorNames[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
    {"clScrollBar", kSys + 0},
    {"clBackground", kSys + 1},
    {"clActiveCaption", kSys + 2},
    {"clInactiveCaption", kSys + 3},
    {"clMenu", kSys + 4},
    {"clWindow", kSys + 5},
    {"clWindowFrame", kSys + 6},
    {"clMenuText", kSys + 7},
    {"clWindowText", kSys + 8},
    {"clCaptionText", kSys + 9},
    {"clActiveBorder", kSys + 10},
    {"clInactiveBorder", kSys + 11},
    {"clAppWorkSpace", kSys + 12},
    {"clHighlight", kSys + 13},
    {"clHighlightText", kSys + 14},
    {"clBtnFace", kSys + 15},
    {"clBtnShadow", kSys + 16},
    {"clGrayText", kSys + 17},
    {"clBtnText", kSys + 18},
    {"clInactiveCaptionText", kSys + 19},
    {"clBtnHighlight", kSys + 20},
    {"cl3DDkShadow", kSys + 21},
    {"cl3DLight", kSys + 22},
    {"clInfoText", kSys + 23},
    {"clInfoBk", kSys + 24},
    {"clHotLight", kSys + 26},
    {"clGradientActiveCaption", kSys + 27},
    {"clGradientInactiveCaption", kSys + 28},
    {"clMenuHighlight", kSys + 29},
    {"clMenuBar", kSys + 30},
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Value forms

std::string XMLTrim(std::string_view text)
{
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b]))
    ++b;
  while (e > b && IsBlank(text[e - 1]))
    --e;
  return std::string(text.substr(b, e - b));
}

std::string XMLEscape(std::string_view text, bool attribute)
{
  // Trimmed before escaping: a line break at the end of a value would otherwise survive as
  // "&#10;".
  const std::string trimmed = XMLTrim(text);
  std::string out;
  out.reserve(trimmed.size());
  for (char c : trimmed) {
    const char* entity = nullptr;
    if (c == '&') entity = "&#38;";
    if (c == '<') entity = "&#60;";
    if (c == '>') entity = "&#62;";
    if (attribute && c == '\n') entity = "&#10;";
    if (attribute && c == '\r') entity = "&#13;";
    if (attribute && c == '"') entity = "&#34;";
    if (attribute && c == '\'') entity = "&#39;";
    if (entity)
      out += entity;
    else
      out += c;
  }
  return out;
}

std::string XMLUnescape(std::string_view text)
{
  // In this order: "&#38;" becomes "&amp;" first so that the last step turns both into "&".
  static constexpr std::pair<std::string_view, std::string_view> kSteps[] = {
      {"&lt;", "<"},   {"&gt;", ">"},   {"&apos;", "'"},    {"&quot;", "\""},
      {"&#10;", "\n"}, {"&#13;", "\r"}, {"&#39;", "'"},     {"&#34;", "\""},
      {"&#60;", "<"},  {"&#62;", ">"},  {"&#38;", "&amp;"}, {"&amp;", "&"}};
  std::string s = XMLTrim(text);
  if (s.find('&') == std::string::npos) return s;
  for (const auto& [from, to] : kSteps)
    ReplaceAll(s, from, to);
  return s;
}

std::string FloatToXMLText(long double value)
{
  const auto d = static_cast<double>(value);
  if (!std::isfinite(d)) return FloatToStrDot(d);
  // Rounded to 15 significant digits first; the shortest form of that double then has at
  // most 15 digits and is laid out by the engine's one number writer.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, 14);
  double rounded = d;
  std::from_chars(buf, res.ptr, rounded);
  return FloatToStrDot(rounded);
}

std::string ColorToXMLText(TColor value)
{
  const auto v = static_cast<uint32_t>(value);
  for (const ColorName& c : kColorNames)
    if (c.Value == v) return c.Name;
  static const char* hex = "0123456789ABCDEF";
  std::string out = "$";
  for (int shift = 28; shift >= 0; shift -= 4)
    out += hex[(v >> shift) & 0xFu];
  return out;
}

std::optional<TColor> XMLTextToColor(std::string_view text)
{
  const std::string t = XMLTrim(text);
  if (t.empty()) return std::nullopt;
  for (const ColorName& c : kColorNames)
    if (SameText(c.Name, t)) return static_cast<TColor>(c.Value);
  if (t[0] == '$') {
    if (t.size() < 2 || t.size() > 9) return std::nullopt;
    uint32_t v = 0;
    const auto res = std::from_chars(t.data() + 1, t.data() + t.size(), v, 16);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return std::nullopt;
    return static_cast<TColor>(v);
  }
  const std::optional<int64_t> v = TryStrToInt64(t);
  if (!v || *v < INT32_MIN || *v > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<TColor>(static_cast<uint32_t>(*v));
}

std::string XMLDocumentText(std::string_view rootTag,
                            const std::function<void(TGXML_Element&)>& save)
{
  TGXML_Document doc(rootTag);
  save(doc.Document());
  return doc.AsString();
}

void LoadXMLDocumentText(std::string_view text,
                         const std::function<void(const TGXML_Element&)>& load)
{
  TGXML_Document doc("Document");
  doc.SetAsString(text);
  load(doc.Document());
}

// ---------------------------------------------------------------------------------------------
// TGXML_Element: construction

TGXML_Element::TGXML_Element(std::string_view tag)
{
  SetElementTag(tag);
}

TGXML_Element::~TGXML_Element()
{
  // Children are taken apart one level at a time so that a deep tree does not free itself
  // through a deep chain of destructor calls.
  std::vector<std::unique_ptr<TGXML_Element>> pending;
  for (Item& item : FItems)
    if (item.Child) pending.push_back(std::move(item.Child));
  while (!pending.empty()) {
    std::unique_ptr<TGXML_Element> el = std::move(pending.back());
    pending.pop_back();
    for (Item& item : el->FItems)
      if (item.Child) pending.push_back(std::move(item.Child));
  }
}

void TGXML_Element::SetElementTag(std::string_view tag)
{
  std::string t = XMLTrim(tag);
  G_ASSERT_MSG(LegalName(t), "Illegal character in Element Tag");
  FElementTag = std::move(t);
}

// ---------------------------------------------------------------------------------------------
// TGXML_Element: attributes

const TGXML_Element::Item* TGXML_Element::FindAttribute(std::string_view name) const
{
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Attribute && SameText(item.Name, name)) return &item;
  return nullptr;
}

void TGXML_Element::AddAttribute(std::string_view tag, std::string_view value, bool force,
                                 std::string_view def)
{
  std::string name = XMLTrim(tag);
  G_ASSERT_MSG(LegalName(name), "Illegal character in Attribute Tag");
  if (value == def) return;
  DeleteAttribute(name);
  if (!value.empty() || force)
    FItems.push_back({ItemKind::Attribute, std::move(name), std::string(value), nullptr});
}

void TGXML_Element::AddIntAttribute(std::string_view tag, int64_t value, int64_t def)
{
  if (value != def) AddAttribute(tag, IntToStr(value), true);
}

void TGXML_Element::AddFloatAttribute(std::string_view tag, long double value, long double def)
{
  if (value != def) AddAttribute(tag, FloatToXMLText(value), true);
}

void TGXML_Element::AddBoolAttribute(std::string_view tag, bool value, bool def)
{
  if (value != def) AddAttribute(tag, value ? "T" : "F", true);
}

void TGXML_Element::AddColorAttribute(std::string_view tag, TColor value, TColor def)
{
  if (value != def) AddAttribute(tag, ColorToXMLText(value), true);
}

void TGXML_Element::AddUnitAttribute(std::string_view tag, TGUnitTypes value, TGUnitTypes def)
{
  if (value != def) AddAttribute(tag, UnitsToStr(value), true);
}

std::string TGXML_Element::Attribute(std::string_view tag, std::string_view def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  return item ? item->Text : std::string(def);
}

bool TGXML_Element::HasAttribute(std::string_view tag) const
{
  return FindAttribute(XMLTrim(tag)) != nullptr;
}

int32_t TGXML_Element::IntAttribute(std::string_view tag, int32_t def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  if (!item) return def;
  return TryStrToInt(XMLTrim(item->Text)).value_or(def);
}

long double TGXML_Element::FloatAttribute(std::string_view tag, long double def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  return item ? StrToFloatDefDot(XMLTrim(item->Text), def) : def;
}

bool TGXML_Element::BoolAttribute(std::string_view tag, bool def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  if (!item) return def;
  const std::string v = Upper(XMLTrim(item->Text));
  if (v == "T" || v == "1") return true;
  if (v == "F" || v == "0") return false;
  return def;
}

TColor TGXML_Element::ColorAttribute(std::string_view tag, TColor def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  return item ? XMLTextToColor(item->Text).value_or(def) : def;
}

TGUnitTypes TGXML_Element::UnitAttribute(std::string_view tag, TGUnitTypes def) const
{
  const Item* item = FindAttribute(XMLTrim(tag));
  return item ? StrToUnits(XMLTrim(item->Text)) : def;
}

std::string TGXML_Element::Attribute(int32_t iInstance) const
{
  int32_t left = iInstance;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Attribute && left-- == 0) return item.Text;
  GAssertFailed("No Attribute at Index " + std::to_string(left), __FILE__, __LINE__);
}

std::string TGXML_Element::AttributeName(int32_t iInstance) const
{
  int32_t left = iInstance;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Attribute && left-- == 0) return item.Name;
  GAssertFailed("No Attribute at Index " + std::to_string(left), __FILE__, __LINE__);
}

int32_t TGXML_Element::AttributeCount() const
{
  return static_cast<int32_t>(std::count_if(
      FItems.begin(), FItems.end(), [](const Item& i) { return i.Kind == ItemKind::Attribute; }));
}

void TGXML_Element::DeleteAttribute(std::string_view tag)
{
  const std::string name = XMLTrim(tag);
  std::erase_if(FItems, [&name](const Item& i) {
    return i.Kind == ItemKind::Attribute && SameText(i.Name, name);
  });
}

void TGXML_Element::ClearAttributes()
{
  std::erase_if(FItems, [](const Item& i) { return i.Kind == ItemKind::Attribute; });
}

// ---------------------------------------------------------------------------------------------
// TGXML_Element: children

void TGXML_Element::AppendChild(std::unique_ptr<TGXML_Element> child)
{
  FItems.push_back({ItemKind::Child, {}, {}, std::move(child)});
}

TGXML_Element& TGXML_Element::AddElement(std::string_view tag)
{
  auto child = std::make_unique<TGXML_Element>(tag);
  TGXML_Element& ref = *child;
  AppendChild(std::move(child));
  return ref;
}

TGXML_Element* TGXML_Element::Element(int32_t iInstance)
{
  return const_cast<TGXML_Element*>(std::as_const(*this).Element(iInstance));
}

const TGXML_Element* TGXML_Element::Element(int32_t iInstance) const
{
  if (iInstance < 0) return nullptr;
  int32_t left = iInstance;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Child && left-- == 0) return item.Child.get();
  return nullptr;
}

const TGXML_Element* TGXML_Element::Element(std::string_view tag, int32_t iInstance) const
{
  if (iInstance < 0) return nullptr;
  const std::string t = XMLTrim(tag);
  int32_t left = iInstance;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Child && SameText(item.Child->FElementTag, t) && left-- == 0)
      return item.Child.get();
  return nullptr;
}

TGXML_Element* TGXML_Element::Element(std::string_view tag, int32_t iInstance, bool autoCreate)
{
  if (const TGXML_Element* el = std::as_const(*this).Element(tag, iInstance))
    return const_cast<TGXML_Element*>(el);
  if (!autoCreate || iInstance < 0) return nullptr;
  // Only as many as it takes for instance iInstance to exist, so that it is the one returned.
  TGXML_Element* last = nullptr;
  for (int32_t i = ElementCount(tag); i <= iInstance; ++i)
    last = &AddElement(tag);
  return last;
}

std::vector<const TGXML_Element*> TGXML_Element::Elements(std::string_view tag) const
{
  const std::string t = XMLTrim(tag);
  std::vector<const TGXML_Element*> out;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Child && (t.empty() || SameText(item.Child->FElementTag, t)))
      out.push_back(item.Child.get());
  return out;
}

int32_t TGXML_Element::ElementCount() const
{
  return static_cast<int32_t>(std::count_if(
      FItems.begin(), FItems.end(), [](const Item& i) { return i.Kind == ItemKind::Child; }));
}

int32_t TGXML_Element::ElementCount(std::string_view tag) const
{
  const std::string t = XMLTrim(tag);
  return static_cast<int32_t>(std::count_if(FItems.begin(), FItems.end(), [&t](const Item& i) {
    return i.Kind == ItemKind::Child && SameText(i.Child->FElementTag, t);
  }));
}

bool TGXML_Element::ElementExists(std::string_view tag, int32_t iInstance) const
{
  return Element(tag, iInstance) != nullptr;
}

TGXML_Element* TGXML_Element::ElementByID(std::string_view tag, std::string_view IDValue,
                                          std::string_view IDTag)
{
  const std::string t = XMLTrim(tag);
  for (Item& item : FItems)
    if (item.Kind == ItemKind::Child && SameText(item.Child->FElementTag, t)) {
      const Item* id = item.Child->FindAttribute(XMLTrim(IDTag));
      if (id && SameText(id->Text, IDValue)) return item.Child.get();
    }
  return nullptr;
}

void TGXML_Element::DeleteElement(int32_t iInstance)
{
  DeleteElement(Element(iInstance));
}

void TGXML_Element::DeleteElement(const TGXML_Element* el)
{
  if (!el) return;
  const auto it = std::find_if(FItems.begin(), FItems.end(),
                               [el](const Item& i) { return i.Child.get() == el; });
  if (it != FItems.end()) FItems.erase(it);
}

void TGXML_Element::MoveElement(TGXML_Element* el, TGXML_Element& elFrom, TGXML_Element& elTo)
{
  if (!el) return;
  const auto it = std::find_if(elFrom.FItems.begin(), elFrom.FItems.end(),
                               [el](const Item& i) { return i.Child.get() == el; });
  G_ASSERT_MSG(it != elFrom.FItems.end(), "MoveElement: element is not a child of the source");
  // Moving an element into its own subtree would detach that subtree from every owner.
  std::vector<const TGXML_Element*> pending{el};
  while (!pending.empty()) {
    const TGXML_Element* e = pending.back();
    pending.pop_back();
    G_ASSERT_MSG(e != &elTo, "MoveElement: target lies inside the element");
    for (const Item& item : e->FItems)
      if (item.Child) pending.push_back(item.Child.get());
  }
  std::unique_ptr<TGXML_Element> moved = std::move(it->Child);
  elFrom.FItems.erase(it);
  elTo.AppendChild(std::move(moved));
}

void TGXML_Element::ClearElements()
{
  std::erase_if(FItems, [](const Item& i) { return i.Kind == ItemKind::Child; });
}

void TGXML_Element::Clear()
{
  FItems.clear();
}

// ---------------------------------------------------------------------------------------------
// TGXML_Element: body text and copying

std::string TGXML_Element::BodyText() const
{
  std::string out;
  for (const Item& item : FItems)
    if (item.Kind == ItemKind::Body) out += item.Text;
  return out;
}

void TGXML_Element::SetBodyText(std::string_view value)
{
  std::erase_if(FItems, [](const Item& i) { return i.Kind == ItemKind::Body; });
  if (!value.empty()) FItems.push_back({ItemKind::Body, {}, std::string(value), nullptr});
}

void TGXML_Element::Assign(const TGXML_Element& source)
{
  if (&source == this) return;
  // Copied into a fresh tree first: source may lie inside this element.
  auto copy = NewUnchecked(source.FElementTag);
  std::vector<std::pair<const TGXML_Element*, TGXML_Element*>> pending{{&source, copy.get()}};
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    to->FItems.reserve(from->FItems.size());
    for (const Item& item : from->FItems) {
      if (item.Kind == ItemKind::Child) {
        auto child = NewUnchecked(item.Child->FElementTag);
        pending.emplace_back(item.Child.get(), child.get());
        to->AppendChild(std::move(child));
      } else {
        to->FItems.push_back({item.Kind, item.Name, item.Text, nullptr});
      }
    }
  }
  FElementTag = std::move(copy->FElementTag);
  std::vector<Item> items = std::move(copy->FItems);
  FItems.swap(items); // the old items (possibly holding source) go when `items` does
}

// ---------------------------------------------------------------------------------------------
// Writer

std::string TGXML_Element::XMLString(const TGXML_Document* doc, int32_t iLevel) const
{
  const bool formatted = doc && doc->FFormatted;
  std::unordered_map<std::string, std::string> dictionary; // lower-case name -> index
  if (doc && doc->FCompressed)
    for (size_t i = 0; i < doc->FTagTable.size(); ++i)
      dictionary.emplace(LowerCase(doc->FTagTable[i]), std::to_string(i));
  const auto name = [&dictionary](const std::string& n) -> const std::string& {
    if (dictionary.empty()) return n;
    const auto it = dictionary.find(LowerCase(n));
    return it == dictionary.end() ? n : it->second;
  };
  const auto breakLine = [formatted](std::string& out, int32_t level) {
    if (formatted && level > 0) {
      out += "\r\n";
      out.append(static_cast<size_t>(level), '\t');
    }
  };

  struct Frame
  {
    const TGXML_Element* El;
    size_t Next;
    int32_t Level;
    bool BodyWritten;
  };
  std::string out;
  std::vector<Frame> stack;
  // Writes the opening tag; true when the element has content still to write.
  const auto open = [&](const TGXML_Element& el, int32_t level) {
    if (el.FItems.empty()) return false;
    breakLine(out, level);
    out += '<';
    out += name(el.FElementTag);
    bool selfClosing = true;
    for (const Item& item : el.FItems) {
      if (item.Kind == ItemKind::Attribute) {
        out += ' ';
        out += name(item.Name);
        out += "=\"";
        out += XMLEscape(item.Text, true);
        out += '"';
      } else if (item.Kind == ItemKind::Body || !item.Child->FItems.empty()) {
        selfClosing = false;
      }
    }
    if (selfClosing) {
      out += " />";
      return false;
    }
    out += '>';
    stack.push_back({&el, 0, level, false});
    return true;
  };

  open(*this, iLevel);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.Next == f.El->FItems.size()) {
      if (!f.BodyWritten) breakLine(out, f.Level);
      out += "</";
      out += name(f.El->FElementTag);
      out += '>';
      stack.pop_back();
      continue;
    }
    const Item& item = f.El->FItems[f.Next++];
    if (item.Kind == ItemKind::Body) {
      out += XMLEscape(item.Text, false);
      f.BodyWritten = true;
    } else if (item.Kind == ItemKind::Child) {
      open(*item.Child, f.Level + 1); // may grow the stack: f is not used after this
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Parser

struct TGXML_Element::Parser
{
  std::string_view text;
  size_t pos = 0;
  TextLines table;

  [[noreturn]] void Fail(const std::string& what, size_t at) const
  {
    throw EGException("TGXML_Document: " + what + " at byte " + std::to_string(at));
  }

  // A name of the dictionary form turned back into its text.
  std::string Resolve(std::string name) const
  {
    if (table.empty() || name.empty() || name.size() > 9) return name;
    if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return name;
    const size_t index = std::stoul(name);
    return index < table.size() ? table[index] : name;
  }

  // The end of the tag that starts before `from`: the first ">" outside a quoted value.
  size_t TagEnd(size_t from, size_t tagStart) const
  {
    bool quoted = false;
    for (size_t i = from; i < text.size(); ++i) {
      if (text[i] == '"')
        quoted = !quoted;
      else if (text[i] == '>' && !quoted)
        return i;
    }
    Fail(quoted ? "attribute value not closed" : "tag not closed", tagStart);
  }

  // The attributes of an opening tag, as AddAttribute would add them one by one (empty values
  // dropped, a repeated name replacing the earlier one at the end), without its search per
  // attribute, so a tag with very many attributes costs no more than its length.
  void ReadAttributes(TGXML_Element& el, std::string_view attrs, size_t at) const
  {
    std::vector<std::optional<Item>> read;
    std::unordered_map<std::string, size_t> byName; // lower-case name -> place in read
    size_t p = 0;
    while (true) {
      const size_t eq = attrs.find("=\"", p);
      if (eq == std::string_view::npos) {
        const std::string rest = XMLTrim(attrs.substr(p));
        if (!rest.empty() && rest != "/") Fail("text \"" + rest + "\" in a tag", at + p);
        break;
      }
      // Checked after the dictionary lookup too: its entries come from the text as well.
      std::string attrName = Resolve(XMLTrim(attrs.substr(p, eq - p)));
      if (!LegalName(attrName)) Fail("bad attribute name \"" + attrName + "\"", at + p);
      const size_t close = attrs.find('"', eq + 2);
      if (close == std::string_view::npos) Fail("attribute value not closed", at + eq);
      std::string value = XMLUnescape(attrs.substr(eq + 2, close - eq - 2));
      p = close + 1;
      if (value.empty()) continue;
      const auto [it, added] = byName.emplace(LowerCase(attrName), read.size());
      if (!added) {
        read[it->second].reset();
        it->second = read.size();
      }
      read.push_back(Item{ItemKind::Attribute, std::move(attrName), std::move(value), nullptr});
    }
    for (auto& item : read)
      if (item) el.FItems.push_back(std::move(*item));
  }

  // The tree of the text; null when it holds no element.
  std::unique_ptr<TGXML_Element> Run()
  {
    std::unique_ptr<TGXML_Element> top; // the outermost element being read
    std::vector<TGXML_Element*> open;
    const auto finish = [&]() -> bool { // true when the root is complete
      open.pop_back();
      if (!open.empty()) return false;
      if (SameText(top->FElementTag, "DICT") && table.empty()) {
        table = FromCommaText(top->BodyText());
        top.reset();
        return false;
      }
      return true;
    };
    while (true) {
      const size_t lt = text.find('<', pos);
      const std::string_view piece =
          text.substr(pos, lt == std::string_view::npos ? std::string_view::npos : lt - pos);
      if (!open.empty()) {
        std::string body = XMLUnescape(piece);
        if (!body.empty())
          open.back()->FItems.push_back({ItemKind::Body, {}, std::move(body), nullptr});
      }
      if (lt == std::string_view::npos) break;
      const size_t tagStart = lt;
      pos = lt + 1;
      size_t nameEnd = pos;
      if (nameEnd < text.size() && text[nameEnd] == '/') ++nameEnd;
      while (nameEnd < text.size() && !IsBlank(text[nameEnd]) && text[nameEnd] != '/' &&
             text[nameEnd] != '>')
        ++nameEnd;
      std::string tag(text.substr(pos, nameEnd - pos));
      const size_t gt = TagEnd(nameEnd, tagStart);
      pos = gt + 1;
      // A closing tag (its name is not compared) or an empty name ends the open element.
      if (tag.empty() || tag[0] == '/') {
        if (!open.empty() && finish()) return top;
        continue;
      }
      tag = Resolve(tag);
      if (!LegalName(tag)) Fail("bad element name \"" + tag + "\"", tagStart);
      if (open.size() >= static_cast<size_t>(kXMLMaxDepth))
        Fail("elements nested deeper than " + std::to_string(kXMLMaxDepth) + " levels", tagStart);
      auto el = NewUnchecked(tag);
      TGXML_Element* elp = el.get();
      const std::string_view attrs = text.substr(nameEnd, gt - nameEnd);
      ReadAttributes(*elp, attrs, nameEnd);
      if (open.empty())
        top = std::move(el);
      else
        open.back()->AppendChild(std::move(el));
      open.push_back(elp);
      if (XMLTrim(attrs).ends_with('/') && finish()) return top;
    }
    if (!open.empty()) Fail("element \"" + open.back()->FElementTag + "\" not closed", text.size());
    return nullptr;
  }
};

// ---------------------------------------------------------------------------------------------
// TGXML_Document

TGXML_Document::TGXML_Document(std::string_view documentTag)
{
  std::string tag = XMLTrim(documentTag);
  G_ASSERT_MSG(LegalName(tag), "Illegal character in Element Tag");
  FDocumentTag = std::move(tag);
}

TGXML_Document::~TGXML_Document() = default;

TGXML_Element& TGXML_Document::Document()
{
  if (!FDocument) FDocument = std::make_unique<TGXML_Element>(FDocumentTag);
  return *FDocument;
}

void TGXML_Document::SetDocument(std::unique_ptr<TGXML_Element> el)
{
  FDocument = std::move(el);
  if (FDocument) FDocumentTag = FDocument->ElementTag();
}

void TGXML_Document::Clear()
{
  FDocument.reset();
  FTagTable.clear();
}

std::string TGXML_Document::AsString()
{
  if (!FDocument) return {};
  if (!FCompressed) return FDocument->XMLString(this, 0);

  // Every tag and attribute name once (case-insensitive), most frequent first, ties in order
  // of first appearance.
  struct Count
  {
    std::string Name;
    int64_t N;
  };
  std::vector<Count> counts;
  std::unordered_map<std::string, size_t> index;
  const auto count = [&](const std::string& n) {
    const auto [it, added] = index.emplace(LowerCase(n), counts.size());
    if (added)
      counts.push_back({n, 1});
    else
      ++counts[it->second].N;
  };
  std::vector<const TGXML_Element*> pending{FDocument.get()};
  while (!pending.empty()) {
    const TGXML_Element* el = pending.back();
    pending.pop_back();
    count(el->FElementTag);
    // Children go on the stack in reverse so they are visited in document order.
    for (auto it = el->FItems.rbegin(); it != el->FItems.rend(); ++it)
      if (it->Child) pending.push_back(it->Child.get());
    for (const auto& item : el->FItems)
      if (item.Kind == TGXML_Element::ItemKind::Attribute) count(item.Name);
  }
  std::stable_sort(counts.begin(), counts.end(),
                   [](const Count& a, const Count& b) { return a.N > b.N; });
  FTagTable.clear();
  for (const Count& c : counts)
    FTagTable.push_back(c.Name);
  return "<DICT>" + XMLEscape(ToCommaText(FTagTable), false) + "</DICT>" +
         FDocument->XMLString(this, 0);
}

void TGXML_Document::SetAsString(std::string_view text)
{
  TGXML_Element::Parser parser;
  parser.text = text;
  std::unique_ptr<TGXML_Element> root = parser.Run();
  Clear();
  FTagTable = std::move(parser.table);
  if (root) SetDocument(std::move(root));
}

void TGXML_Document::SaveToStream(TGStream& stream)
{
  const std::string text = AsString();
  if (stream.Write(text.data(), static_cast<int64_t>(text.size())) !=
      static_cast<int64_t>(text.size()))
    throw EGException("TGXML_Document.SaveToStream: write failed");
}

void TGXML_Document::SaveToFile(const std::string& sFilename)
{
  namespace fs = std::filesystem;
  const std::string text = AsString();
  const fs::path target(sFilename);
  fs::path temp = target;
  temp += ".tmp~";
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      throw EGException("TGXML_Document.SaveToFile: cannot write " + sFilename);
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw EGException("TGXML_Document.SaveToFile: cannot write " + sFilename);
  }
}

void TGXML_Document::LoadFromStream(TGStream& stream)
{
  stream.SetPosition(0);
  std::string text(static_cast<size_t>(std::max<int64_t>(stream.Size(), 0)), '\0');
  const int64_t got = stream.Read(text.data(), static_cast<int64_t>(text.size()));
  text.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  SetAsString(text);
}

void TGXML_Document::LoadFromFile(const std::string& sFilename)
{
  std::error_code ec;
  if (!std::filesystem::exists(sFilename, ec)) return;
  // A folder reads as nothing, and a device or pipe may never end.
  std::ifstream in;
  if (std::filesystem::is_regular_file(sFilename, ec)) in.open(sFilename, std::ios::binary);
  if (!in.is_open()) throw EGException("TGXML_Document.LoadFromFile: cannot read " + sFilename);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EGException("TGXML_Document.LoadFromFile: cannot read " + sFilename);
  try {
    SetAsString(text);
  } catch (const EGException& e) {
    throw EGException("TGXML_Document.LoadFromFile: " + sFilename + ": " + e.what());
  }
}

} // namespace vtr
