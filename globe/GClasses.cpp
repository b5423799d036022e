#include "globe/GClasses.h"

#include "base/TextLists.h"
#include "globe/GXML.h"

namespace vtr {

std::string GlobeUnitName(std::string_view sourceFile)
{
  std::string path(sourceFile);
  for (char& c : path)
    if (c == '\\') c = '/';
  size_t start = path.rfind("/globe/");
  if (start != std::string::npos)
    ++start;
  else if (path.starts_with("globe/"))
    start = 0;
  else
    start = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
  std::string unit = path.substr(start);
  const size_t dot = unit.rfind('.');
  if (dot != std::string::npos && unit.find('/', dot) == std::string::npos) unit.resize(dot);
  for (char& c : unit)
    if (c == '/') c = '\\';
  return unit;
}

void GAssertFailed(std::string_view text, const char* sourceFile, int line)
{
  throw EAssertionFailed(std::string(text) + " (" + GlobeUnitName(sourceFile) + ", line " +
                         std::to_string(line) + ")");
}

// Enters the engine's own classes (GRegistry.cpp).
void RegisterGlobeClasses();

namespace {

std::vector<TGRegisteredClass>& Registry()
{
  static std::vector<TGRegisteredClass> classes;
  return classes;
}

// The engine's classes enter once, on first use, ahead of any the program adds.
void EnsureEngineClasses()
{
  static bool entered = false;
  if (entered) return;
  entered = true;
  RegisterGlobeClasses();
}

} // namespace

void RegisterGlobeClass(std::string className, std::string displayName, TGClassFactory factory)
{
  G_ASSERT_MSG(!className.empty() && factory, "RegisterGlobeClass: class name and factory needed");
  EnsureEngineClasses();
  for (auto& entry : Registry()) {
    if (SameText(entry.ClassName, className)) {
      entry = {std::move(className), std::move(displayName), std::move(factory)};
      return;
    }
  }
  Registry().push_back({std::move(className), std::move(displayName), std::move(factory)});
}

const std::vector<TGRegisteredClass>& GlobeClasses()
{
  EnsureEngineClasses();
  return Registry();
}

const TGRegisteredClass* FindGlobeClass(std::string_view className)
{
  EnsureEngineClasses();
  for (const auto& entry : Registry())
    if (SameText(entry.ClassName, className)) return &entry;
  return nullptr;
}

std::unique_ptr<TGRoot> CreateGlobeObject(std::string_view className, TGGlobe* parent)
{
  const TGRegisteredClass* entry = FindGlobeClass(className);
  return entry ? entry->Create(parent) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TGComponent: XML form

void TGComponent::SaveToXML(TGXML_Element& el)
{
  el.AddAttribute("Class", ClassName());
}

void TGComponent::LoadFromXML(const TGXML_Element& el)
{
  (void)el;
}

std::string TGComponent::XML()
{
  return XMLDocumentText("Component", [this](TGXML_Element& el) { SaveToXML(el); });
}

void TGComponent::SetXML(std::string_view text)
{
  LoadXMLDocumentText(text, [this](const TGXML_Element& el) { LoadFromXML(el); });
}

std::string XMLClassName(const TGXML_Element* el)
{
  return el ? XMLTrim(el->Attribute("Class")) : std::string();
}

std::unique_ptr<TGComponent> TGComponent::CreateFromXML(TGGlobe* parentGlobe,
                                                        const TGXML_Element* el,
                                                        std::string_view defaultClass)
{
  return CreateFromXMLAs<TGComponent>(parentGlobe, el, defaultClass);
}

} // namespace vtr
