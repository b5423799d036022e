// Engine root: assertion texts and the class registry.
#include "globe/GClasses.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

TEST(Assertions, MessageNamesTheCheckTheEngineUnitAndTheLine)
{
  struct Case
  {
    const char* file;
    const char* want;
  };
  const Case cases[] = {
      {"/work/src/globe/GLayer.cpp", "globe\\GLayer"},
      {"globe/GSDBRtree.cpp", "globe\\GSDBRtree"},
      {"C:\\src\\globe\\GXML.pas", "globe\\GXML"},
      {"/work/src/tests/globe/globe/GSysUtils.h", "globe\\GSysUtils"},
      {"/elsewhere/Other.cpp", "Other"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GlobeUnitName(c.file), c.want) << c.file;

  try {
    GAssertFailed("Mismatched BeginUpdate/EndUpdate", "/x/globe/GLayer.cpp", 412);
    ADD_FAILURE() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Mismatched BeginUpdate/EndUpdate (globe\\GLayer, line 412)");
  }
  const int line = __LINE__ + 2;
  try {
    G_ASSERT(line < 0);
    ADD_FAILURE() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(std::string(e.what()),
              "Assertion failure (globe\\GClassesTest, line " + std::to_string(line) + ")");
  }
  EXPECT_NO_THROW(G_ASSERT_MSG(line > 0, "never shown"));
}

class TGSample : public TGRoot
{
public:
  explicit TGSample(TGGlobe* parent) : Parent(parent) {}
  std::string ClassName() const override { return "TGSample"; }
  TGGlobe* Parent;
};

class TGPlain : public TGRoot
{
public:
  std::string ClassName() const override { return "TGPlain"; }
};

TEST(ClassRegistry, FindsByNameWithoutCaseAndCreatesInstances)
{
  RegisterGlobeClass<TGSample>("TGSample", "Sample");
  RegisterGlobeClass<TGPlain>("TGPlain", "Plain");

  const TGRegisteredClass* entry = FindGlobeClass("tgsample");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->ClassName, "TGSample");
  EXPECT_EQ(entry->DisplayName, "Sample");
  EXPECT_EQ(FindGlobeClass("TGNoSuchClass"), nullptr);
  EXPECT_EQ(CreateGlobeObject("TGNoSuchClass", nullptr), nullptr);

  auto* fakeGlobe = reinterpret_cast<TGGlobe*>(0x1000);
  auto sample = CreateGlobeObjectAs<TGSample>("TGSAMPLE", fakeGlobe);
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->Parent, fakeGlobe);
  EXPECT_EQ(sample->ClassName(), "TGSample");
  EXPECT_EQ(CreateGlobeObjectAs<TGSample>("TGPlain", nullptr), nullptr); // not a TGSample
  EXPECT_EQ(CreateGlobeObject("TGPlain", nullptr)->ClassName(), "TGPlain");
}

TEST(ClassRegistry, RegisteringANameAgainReplacesItInPlace)
{
  RegisterGlobeClass<TGPlain>("TGFirst", "First");
  RegisterGlobeClass<TGPlain>("TGSecond", "Second");
  auto position = [](const char* name) {
    const auto& all = GlobeClasses();
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].ClassName == name) return static_cast<int>(i);
    return -1;
  };
  const int first = position("TGFirst");
  const size_t count = GlobeClasses().size();
  RegisterGlobeClass<TGPlain>("TGFIRST", "First again");
  EXPECT_EQ(GlobeClasses().size(), count);
  EXPECT_EQ(position("TGFIRST"), first);
  EXPECT_LT(first, position("TGSecond"));
  EXPECT_EQ(FindGlobeClass("TGFirst")->DisplayName, "First again");
}

} // namespace
} // namespace vtr
