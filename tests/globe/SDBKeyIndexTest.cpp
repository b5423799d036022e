// Key index over a table of rows: the row layout, lookups without regard to case, updates in
// place, deletes, and refusal of damaged rows.
#include "globe/GSDBKeyIndex.h"

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace vtr {
namespace {

using vtrtest::ErrorText;
using Bytes = std::vector<uint8_t>;

// Rows in memory, in the order they were appended; updates must keep a row's length.
class MemoryTable : public IGSDBRowTable
{
public:
  uint32_t First() override { return FRows.empty() ? 0 : FRows.begin()->first; }
  uint32_t Next(uint32_t rowID) override
  {
    auto it = FRows.upper_bound(rowID);
    return it == FRows.end() ? 0 : it->first;
  }
  void ReadStream(uint32_t rowID, TGStream& stream) override
  {
    const Bytes& row = FRows.at(rowID);
    stream.Write(row.data(), static_cast<int64_t>(row.size()));
  }
  uint32_t AppendStream(TGStream& stream, bool) override
  {
    Bytes row(static_cast<size_t>(stream.Size()));
    stream.SetPosition(0);
    stream.Read(row.data(), static_cast<int64_t>(row.size()));
    // Row identifiers as the tables make them: page number with a paragraph in the high byte.
    const uint32_t id = (FNext++ << 24) | 7;
    FRows[id] = row;
    return id;
  }
  void UpdateStream(uint32_t rowID, TGStream& stream) override
  {
    Bytes& row = FRows.at(rowID);
    if (stream.Size() != static_cast<int64_t>(row.size()))
      throw EGException("Update: Length has changed cannot update.");
    stream.SetPosition(0);
    stream.Read(row.data(), static_cast<int64_t>(row.size()));
    ++Updates;
  }
  void DeleteRow(uint32_t rowID) override { FRows.erase(rowID); }

  std::map<uint32_t, Bytes> FRows;
  uint32_t FNext = 1;
  int Updates = 0;
};

TEST(SDBKeyIndex, RowsHoldTheKeyAZeroAndTheRowIdentifier)
{
  MemoryTable table;
  TGSDBKeyIndex index(table);
  index.InsertKey("{A1}", 0x01020304);
  ASSERT_EQ(table.FRows.size(), 1u);
  EXPECT_EQ(table.FRows.begin()->second, (Bytes{'{', 'A', '1', '}', 0, 4, 3, 2, 1}));
}

TEST(SDBKeyIndex, FindsUpdatesAndDeletesKeys)
{
  MemoryTable table;
  TGSDBKeyIndex index(table);
  const char* keys[] = {"{7F3A}", "{0001}", "LayerB", "layerA", "{FFFF}", ""};
  uint32_t value = 100;
  for (const char* k : keys)
    index.InsertKey(k, value++);
  value = 100;
  for (const char* k : keys)
    EXPECT_EQ(index.FindKey(k), value++) << k;
  EXPECT_EQ(index.FindKey("{7f3a}"), 100u) << "letter case does not matter";
  EXPECT_EQ(index.FindKey("{7F3"), 0u);
  EXPECT_EQ(index.FindKey("Layer"), 0u);

  index.UpdateKey("LAYERB", 555);
  EXPECT_EQ(table.Updates, 1) << "rewritten in place";
  EXPECT_EQ(table.FRows.size(), 6u);
  EXPECT_EQ(index.FindKey("LayerB"), 555u);
  index.UpdateKey("{NEW}", 9);
  EXPECT_EQ(table.FRows.size(), 7u) << "a missing key is inserted";
  EXPECT_EQ(index.FindKey("{new}"), 9u);

  EXPECT_TRUE(index.DeleteKey("layera"));
  EXPECT_FALSE(index.DeleteKey("layera"));
  EXPECT_EQ(index.FindKey("layerA"), 0u);
  EXPECT_EQ(table.FRows.size(), 6u);

  // A second index over the same rows sees the same keys.
  TGSDBKeyIndex again(table);
  EXPECT_EQ(again.FindKey("LayerB"), 555u);
  EXPECT_EQ(again.FindKey("{0001}"), 101u);
}

TEST(SDBKeyIndex, InsertingAnExistingKeyIsAnAssertion)
{
  MemoryTable table;
  TGSDBKeyIndex index(table);
  index.InsertKey("{A}", 1);
  const std::string message = ErrorText([&] { index.InsertKey("{a}", 2); });
  EXPECT_EQ(message.rfind("Assertion failure (globe\\GSDBKeyIndex, line ", 0), 0u) << message;
  EXPECT_EQ(index.FindKey("{A}"), 1u);
}

TEST(SDBKeyIndex, DamagedRowsAreRefused)
{
  struct Case
  {
    const char* name;
    Bytes row;
  };
  const Case cases[] = {{"no zero byte", {'a', 'b', 'c'}},
                        {"short row identifier", {'a', 0, 1, 2, 3}},
                        {"empty row", {}}};
  for (const Case& c : cases) {
    MemoryTable table;
    table.FRows[5] = c.row;
    TGSDBKeyIndex index(table);
    EXPECT_EQ(ErrorText([&] { index.FindKey("a"); }), "TGSDBKeyIndex: damaged key row 5") << c.name;
  }
}

} // namespace
} // namespace vtr
