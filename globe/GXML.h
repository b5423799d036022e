#pragma once
// The engine's own small XML model: a tree of elements whose content is an ordered list of
// attributes, body text pieces and child elements, with its writer and parser. It carries the
// environment file, the XML forms of components and map objects, presenter store texts, side
// documents of data readers and tiled image descriptions. Plain C++ (no Qt).
//
// Text is 8-bit bytes (UTF-8 passes through unchanged). Documents have no declaration line and
// no byte-order mark; comments, CDATA and single-quoted attributes are not recognised.
//
// How a component writes and reads itself:
//
//   void TGPen::SaveToXML(TGXML_Element& el)
//   {
//     el.AddColorAttribute("Color", FColor, clBlack); // left out while it is the default
//     el.AddIntAttribute("Width", FWidth, 1);
//     el.AddUnitAttribute("Unit", FUnit, guPixel);
//   }
//   void TGPen::LoadFromXML(const TGXML_Element& el)
//   {
//     FColor = el.ColorAttribute("Color", clBlack); // missing or bad: the default
//     ...
//   }
//   owner: FPen.SaveToXML(el.AddElement("Pen"));     // an element left empty is not written
//          if (const auto* pen = el.Element("Pen")) FPen.LoadFromXML(*pen);

#include "base/TextLists.h"
#include "globe/GClasses.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

class TGStream;
class TGXML_Document;

// Elements nested deeper than this end the parser with an error.
inline constexpr int32_t kXMLMaxDepth = 1000;

class TGXML_Element
{
public:
  // Tags are trimmed; an empty tag or one holding a blank, a control character, "<", ">",
  // "/", a double quote or "=" is an assertion failure "Illegal character in Element Tag".
  explicit TGXML_Element(std::string_view tag);
  ~TGXML_Element();
  TGXML_Element(const TGXML_Element&) = delete;
  TGXML_Element& operator=(const TGXML_Element&) = delete;

  const std::string& ElementTag() const { return FElementTag; }
  void SetElementTag(std::string_view tag);

  // ----- attributes (names compared without regard to case) -----

  // When value differs from def: any attribute of that (trimmed) name is removed, and the new
  // one appended when value is not empty or force is set. A value equal to def writes nothing
  // and leaves an earlier value of that name in place. A name that is empty or holds "=", a
  // blank, "<", ">", "/" or a double quote is an assertion failure
  // "Illegal character in Attribute Tag".
  void AddAttribute(std::string_view tag, std::string_view value, bool force = false,
                    std::string_view def = {});
  // Typed forms, each left out while the value equals its default.
  void AddIntAttribute(std::string_view tag, int64_t value, int64_t def);
  // Up to 15 significant digits, "." separator, "E" exponent outside 1E-5 <= |x| < 1E15.
  void AddFloatAttribute(std::string_view tag, long double value, long double def);
  void AddBoolAttribute(std::string_view tag, bool value, bool def); // "T" / "F"
  // The colour's name when it has one ("clAqua"), else "$" and 8 upper-case hex digits.
  void AddColorAttribute(std::string_view tag, TColor value, TColor def);
  // The unit's abbreviation ("KM", "PI").
  void AddUnitAttribute(std::string_view tag, TGUnitTypes value, TGUnitTypes def);

  // The value as stored, or def when there is no attribute of that name.
  std::string Attribute(std::string_view tag, std::string_view def = {}) const;
  bool HasAttribute(std::string_view tag) const;
  // Decimal integer; def when missing, not a number or beyond 32 bits.
  int32_t IntAttribute(std::string_view tag, int32_t def) const;
  // "." as decimal separator; def when missing or not a number.
  long double FloatAttribute(std::string_view tag, long double def) const;
  // Trimmed and in upper case: "T" or "1" true, "F" or "0" false, anything else def.
  bool BoolAttribute(std::string_view tag, bool def) const;
  // A colour name (any case), "$" and hex digits, or a decimal number; def otherwise.
  TColor ColorAttribute(std::string_view tag, TColor def) const;
  // An abbreviation in any case; def when missing. An unknown one raises EGException
  // "StrToUnits: Unknown Unit %s".
  TGUnitTypes UnitAttribute(std::string_view tag, TGUnitTypes def) const;

  // By position among the attributes. A position beyond the last is an assertion failure
  // "No Attribute at Index " followed by how far beyond it lies.
  std::string Attribute(int32_t iInstance) const;
  std::string AttributeName(int32_t iInstance) const;
  int32_t AttributeCount() const;
  void DeleteAttribute(std::string_view tag);
  void ClearAttributes();

  // ----- child elements (tags compared without regard to case) -----

  // Appends a new child and returns it (owned by this element).
  TGXML_Element& AddElement(std::string_view tag);
  // The iInstance-th child of any tag; null when there is none.
  TGXML_Element* Element(int32_t iInstance);
  const TGXML_Element* Element(int32_t iInstance) const;
  // The iInstance-th child with that tag. When there is none and autoCreate is set, children
  // of that tag are appended until it exists, and it is returned; else null.
  TGXML_Element* Element(std::string_view tag, int32_t iInstance = 0, bool autoCreate = false);
  const TGXML_Element* Element(std::string_view tag, int32_t iInstance = 0) const;
  // Every child with that tag (every child when tag is empty), in document order. The
  // pointers stay valid until children are added or removed.
  std::vector<const TGXML_Element*> Elements(std::string_view tag = {}) const;
  int32_t ElementCount() const;
  int32_t ElementCount(std::string_view tag) const;
  bool ElementExists(std::string_view tag, int32_t iInstance = 0) const;
  // The first child with that tag whose IDTag attribute equals IDValue (case-insensitive).
  TGXML_Element* ElementByID(std::string_view tag, std::string_view IDValue,
                             std::string_view IDTag = "ID");
  void DeleteElement(int32_t iInstance);
  // Frees el when it is a child of this element; nothing otherwise.
  void DeleteElement(const TGXML_Element* el);
  // Takes el out of elFrom's items and appends it to elTo's. el must be a child of elFrom and
  // elTo must not lie inside el (assertion failures otherwise).
  static void MoveElement(TGXML_Element* el, TGXML_Element& elFrom, TGXML_Element& elTo);
  void ClearElements();
  // Removes every item (the tag stays).
  void Clear();

  // ----- body text -----

  // All body pieces joined.
  std::string BodyText() const;
  // Removes every body piece and appends value as one (nothing for empty text).
  void SetBodyText(std::string_view value);

  // Replaces tag and items with a deep copy of source's.
  void Assign(const TGXML_Element& source);

  // The text form at nesting level iLevel (the root is level 0); doc supplies the formatted
  // and dictionary options (none: plain). An element without items gives empty text.
  std::string XMLString(const TGXML_Document* doc = nullptr, int32_t iLevel = 0) const;

  bool Empty() const { return FItems.empty(); }

private:
  friend class TGXML_Document;
  struct Parser;

  enum class ItemKind : uint8_t { Attribute, Body, Child };
  struct Item
  {
    ItemKind Kind;
    std::string Name; // attribute name
    std::string Text; // attribute value or body text
    std::unique_ptr<TGXML_Element> Child;
  };

  struct Unchecked
  {
  };
  TGXML_Element(Unchecked, std::string tag) : FElementTag(std::move(tag)) {}
  // For names already checked (or copied from an element).
  static std::unique_ptr<TGXML_Element> NewUnchecked(std::string tag)
  {
    return std::unique_ptr<TGXML_Element>(new TGXML_Element(Unchecked{}, std::move(tag)));
  }
  const Item* FindAttribute(std::string_view name) const;
  void AppendChild(std::unique_ptr<TGXML_Element> child);

  std::string FElementTag;
  std::vector<Item> FItems;
};

class TGXML_Document
{
public:
  // documentTag: the root's tag ("Globe" for the environment); an illegal tag is an
  // assertion failure as for elements.
  explicit TGXML_Document(std::string_view documentTag);
  ~TGXML_Document();
  TGXML_Document(const TGXML_Document&) = delete;
  TGXML_Document& operator=(const TGXML_Document&) = delete;

  // The root, created on first use with the document tag.
  TGXML_Element& Document();
  // Whether there is a root (a text without any element leaves none).
  bool HasDocument() const { return FDocument != nullptr; }
  // Takes el as the root (its tag becomes the document tag); null empties the document.
  void SetDocument(std::unique_ptr<TGXML_Element> el);
  const std::string& DocumentTag() const { return FDocumentTag; }

  // Line breaks and tab indentation in the output.
  bool Formatted() const { return FFormatted; }
  void SetFormatted(bool value) { FFormatted = value; }
  // Output with a tag dictionary: "<DICT>" + the names as comma text + "</DICT>" before the
  // tree, whose tags and attribute names become indexes into that list.
  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool value) { FCompressed = value; }
  // The dictionary of the last compressed output or of the last text read.
  const TextLines& TagTable() const { return FTagTable; }

  // Frees the root and empties the dictionary.
  void Clear();

  // The writer over the whole tree.
  std::string AsString();
  // The parser: the text becomes the tree; the dictionary form is accepted in any case. Text
  // that is not a document (a tag or attribute value left open, an element not closed, an
  // illegal name, nesting beyond kXMLMaxDepth) raises EGException
  // "TGXML_Document: <what> at byte <position>" and leaves the document as it was.
  void SetAsString(std::string_view text);

  // Writes the text at the stream's position.
  void SaveToStream(TGStream& stream);
  // Writes through a temporary file beside it and then replaces the file, so a failed write
  // leaves the old file whole; raises EGException "TGXML_Document.SaveToFile: cannot write %s".
  void SaveToFile(const std::string& sFilename);
  // Reads the whole stream from its start and parses it.
  void LoadFromStream(TGStream& stream);
  // Nothing when the file does not exist. Unreadable or not a plain file (a folder, a device):
  // "TGXML_Document.LoadFromFile: cannot read %s"; malformed: the parser's message after "TGXML_Document.LoadFromFile: %s: ".
  void LoadFromFile(const std::string& sFilename);

private:
  friend class TGXML_Element;

  std::unique_ptr<TGXML_Element> FDocument;
  std::string FDocumentTag;
  bool FFormatted = false;
  bool FCompressed = false;
  TextLines FTagTable;
};

// The text of a document with root rootTag that save fills (the XML properties of components
// and map objects).
std::string XMLDocumentText(std::string_view rootTag,
                            const std::function<void(TGXML_Element&)>& save);
// Parses text (EGException when it is not a document) and hands its root to load; an empty
// text gives an empty root.
void LoadXMLDocumentText(std::string_view text,
                         const std::function<void(const TGXML_Element&)>& load);

// An enumeration stored as its ordinal: the attribute's value when it lies in [0, count),
// else def.
template <class E>
E EnumAttribute(const TGXML_Element& el, std::string_view tag, E def, int32_t count)
{
  const int32_t v = el.IntAttribute(tag, static_cast<int32_t>(def));
  return v >= 0 && v < count ? static_cast<E>(v) : def;
}

// Loads target from el's child of that tag, or from an empty element when there is none: the
// writer leaves out an element whose settings are all at their defaults, so a missing one
// means the defaults, not "keep what you have".
template <class A>
void LoadElementOrDefaults(A& target, const TGXML_Element& el, std::string_view tag)
{
  if (const TGXML_Element* child = el.Element(tag))
    target.LoadFromXML(*child);
  else
    target.LoadFromXML(TGXML_Element(tag));
}

// ---------------------------------------------------------------------------------------------
// Value forms used in XML attributes

// Text trimmed of leading and trailing blanks and control characters (bytes up to 32).
std::string XMLTrim(std::string_view text);
// Escaping: "&", "<", ">" as "&#38;", "&#60;", "&#62;"; attribute values also line feed,
// carriage return, double quote and apostrophe ("&#10;", "&#13;", "&#34;", "&#39;"). The text
// is trimmed first, so values lose surrounding white space.
std::string XMLEscape(std::string_view text, bool attribute);
// Trims, then replaces in this order "&lt;", "&gt;", "&apos;", "&quot;", "&#10;", "&#13;",
// "&#39;", "&#34;", "&#60;", "&#62;" by their characters, "&#38;" by "&amp;" and finally
// "&amp;" by "&".
std::string XMLUnescape(std::string_view text);

// General format, at most 15 significant digits, "." separator ("0.1", "1E20", "-2.5E-7").
std::string FloatToXMLText(long double value);
// The colour name table: clBlack .. clWhite, clMoneyGreen, clSkyBlue, clCream, clMedGray,
// clNone, clDefault and the system colours ($FF000000 + index).
std::string ColorToXMLText(TColor value);
// A name (any case), "$" with 1 to 8 hex digits, or a decimal 32-bit value (signed or not).
std::optional<TColor> XMLTextToColor(std::string_view text);

} // namespace vtr
