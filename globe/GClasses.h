#pragma once
// Engine root: the engine's exception class, the internal-check macro, the root class of
// engine objects and the class registry that turns persisted class names back into objects.
// Plain C++ (no Qt).

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vtr {

// Errors raised by the engine; the message is the exact text the user sees.
class EGException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// A failed internal check. The message is the check's text (or "Assertion failure") followed
// by the engine unit and line: "Mismatched BeginUpdate/EndUpdate (globe\GLayer, line 412)".
class EAssertionFailed : public std::logic_error
{
public:
  using std::logic_error::logic_error;
};

// Engine unit of a source file name: the path below "globe" without its extension, with "\"
// as separator ("/src/globe/GLayer.cpp" -> "globe\GLayer"); the base name when the file lies
// outside globe/.
std::string GlobeUnitName(std::string_view sourceFile);

// Builds the assertion text and throws EAssertionFailed.
[[noreturn]] void GAssertFailed(std::string_view text, const char* sourceFile, int line);

} // namespace vtr

// Internal checks stay on in every build: they guard data structures against corruption.
#define G_ASSERT(cond)                                                                             \
  do {                                                                                             \
    if (!(cond)) ::vtr::GAssertFailed("Assertion failure", __FILE__, __LINE__);                    \
  } while (false)
#define G_ASSERT_MSG(cond, text)                                                                   \
  do {                                                                                             \
    if (!(cond)) ::vtr::GAssertFailed((text), __FILE__, __LINE__);                                 \
  } while (false)

namespace vtr {

class TGGlobe;
class TGXML_Element;

// Root of the engine's class tree. Every class persisted by name reports that name.
class TGRoot
{
public:
  TGRoot() = default;
  virtual ~TGRoot() = default;
  TGRoot(const TGRoot&) = default;
  TGRoot& operator=(const TGRoot&) = default;

  virtual std::string ClassName() const { return "TGRoot"; }
};

// Every engine object that belongs to a globe (layers, stores, presenters, object sources,
// projector, renderer, ...). The globe is borrowed: it owns, directly or not, every component
// that names it; null for free-standing components.
class TGComponent : public TGRoot
{
public:
  explicit TGComponent(TGGlobe* parentGlobe = nullptr) : FParentGlobe(parentGlobe) {}
  TGComponent(const TGComponent&) = delete;
  TGComponent& operator=(const TGComponent&) = delete;
  std::string ClassName() const override { return "TGComponent"; }

  TGGlobe* ParentGlobe() const { return FParentGlobe; }
  // Copies the settings of another component of a compatible class; the base copies nothing.
  virtual void Assign(const TGComponent& source) { (void)source; }

  // XML form (GXML.h). The base writes the attribute "Class" = ClassName(); overrides call it
  // first (those that write no "Class" do not). Loading of the base reads nothing; the owner
  // skips a missing element, so LoadFromXML always has one.
  virtual void SaveToXML(TGXML_Element& el);
  virtual void LoadFromXML(const TGXML_Element& el);
  // The text of a document with root "Component" holding the SaveToXML output; setting it
  // parses such a text and loads from its root.
  std::string XML();
  void SetXML(std::string_view text);

  // A new component of the element's "Class" (registered classes; any failure counts as
  // none), else of defaultClass when given, loaded from the element. Null when neither can be
  // created. A null element gives the default class, not loaded.
  static std::unique_ptr<TGComponent> CreateFromXML(TGGlobe* parentGlobe, const TGXML_Element* el,
                                                    std::string_view defaultClass = {});

protected:
  TGGlobe* FParentGlobe;
};

// Creates an instance of a registered class. Components that belong to a globe get their
// parent globe (may be null for free-standing objects); other classes ignore it.
using TGClassFactory = std::function<std::unique_ptr<TGRoot>(TGGlobe* parent)>;

struct TGRegisteredClass
{
  std::string ClassName;   // "TGLayer"
  std::string DisplayName; // "Layer"; stored, not looked up
  TGClassFactory Create;
};

// Enters a class in the process-wide registry (created on first use). Registering a name
// again replaces that entry in place, so the registration order stays that of first entry.
// Call during start-up only: the registry is not guarded for threads.
void RegisterGlobeClass(std::string className, std::string displayName, TGClassFactory factory);

// Registers T under className; T is built from the parent globe when it has such a
// constructor, else default-constructed.
template <class T> void RegisterGlobeClass(std::string className, std::string displayName)
{
  RegisterGlobeClass(std::move(className), std::move(displayName),
                     [](TGGlobe* parent) -> std::unique_ptr<TGRoot> {
                       if constexpr (std::is_constructible_v<T, TGGlobe*>)
                         return std::make_unique<T>(parent);
                       else
                         return std::make_unique<T>();
                     });
}

// Registered classes in registration order.
const std::vector<TGRegisteredClass>& GlobeClasses();

// Lookup by class name without regard to letter case; null when absent.
const TGRegisteredClass* FindGlobeClass(std::string_view className);

// A new instance of the named class; null when the name is not registered.
std::unique_ptr<TGRoot> CreateGlobeObject(std::string_view className, TGGlobe* parent);

// As CreateGlobeObject, null also when the class is not a T.
template <class T>
std::unique_ptr<T> CreateGlobeObjectAs(std::string_view className, TGGlobe* parent)
{
  std::unique_ptr<TGRoot> obj = CreateGlobeObject(className, parent);
  if (auto* typed = dynamic_cast<T*>(obj.get())) {
    obj.release();
    return std::unique_ptr<T>(typed);
  }
  return nullptr;
}

// The element's "Class" attribute, trimmed; empty for a null element.
std::string XMLClassName(const TGXML_Element* el);

// As TGComponent::CreateFromXML for any registered class T with a LoadFromXML (components, map
// objects): a "Class" that names no T counts as none, so the default class steps in.
template <class T>
std::unique_ptr<T> CreateFromXMLAs(TGGlobe* parentGlobe, const TGXML_Element* el,
                                   std::string_view defaultClass = {})
{
  const auto make = [parentGlobe](std::string_view name) -> std::unique_ptr<T> {
    if (name.empty()) return nullptr;
    try {
      return CreateGlobeObjectAs<T>(name, parentGlobe);
    } catch (const std::exception&) {
      return nullptr; // a class that fails to construct counts as none
    }
  };
  std::unique_ptr<T> obj = make(XMLClassName(el));
  if (!obj) obj = make(defaultClass);
  if (obj && el) obj->LoadFromXML(*el);
  return obj;
}

} // namespace vtr
