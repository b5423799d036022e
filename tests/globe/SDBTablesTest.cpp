// Tables on data pages and the catalog: the paragraphs rows take, continuation parts, deletion,
// in-place updates, random operation sequences against a map with the integrity walk, damaged
// pages and row identifiers, the catalog's SaveObject rules and read-only refusals.
#include "globe/GSDBTables.h"

#include "GlobeTestSupport.h"
#include "SDBTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace vtr {
namespace {

using vtrtest::Bytes;
using vtrtest::ErrorText;
const auto& Has = vtrtest::HasText;

Bytes Pattern(size_t size, uint32_t start)
{
  Bytes b(size);
  std::minstd_rand rng(start);
  for (uint8_t& x : b)
    x = static_cast<uint8_t>(rng());
  return b;
}

// A database file in memory with its catalog; the catalog observes the cache from before it
// opens, as the database component arranges it.
class SDBTables : public ::testing::Test
{
protected:
  void SetUp() override { Open(); }
  void Open()
  {
    cache = std::make_unique<TGFilePageCache>(fs);
    cache->SetDataFile("t.sdb");
    cache->SetReadOnly(readOnly);
    root = std::make_unique<TGSDBSysRoot>(*cache);
    cache->Open();
  }
  void Close()
  {
    if (table) table->Flush();
    table.reset();
    root->Flush();
    cache->Close();
    root.reset();
    cache.reset();
  }
  void Reopen()
  {
    Close();
    Open();
    table = root->CreateObjectByNameAs<TGSDBTable>("TGSDBTable", "T");
    ASSERT_TRUE(table);
  }
  TGSDBTable& NewTable()
  {
    table = std::make_unique<TGSDBTable>();
    table->Create(*root, "T");
    table->SetModified();
    return *table;
  }
  int UsedPara(uint32_t pageID)
  {
    TGDataPage page(*cache, pageID);
    return page.UsedPara();
  }
  uint8_t PartByte(uint32_t rowID, int offset)
  {
    TGDataPage page(*cache, SDBPageNumber(rowID));
    return page.Paragraph(SDBRowParagraph(rowID))[offset];
  }
  uint32_t Append(const Bytes& b)
  {
    return table->AppendBuffer(b.data(), static_cast<int64_t>(b.size()));
  }

  vtrtest::SDBFaultFileSystem fs;
  bool readOnly = false;
  std::unique_ptr<TGFilePageCache> cache;
  std::unique_ptr<TGSDBSysRoot> root;
  std::unique_ptr<TGSDBTable> table;
};

TEST_F(SDBTables, RowsTakeParagraphsAndLongRowsGoOnOnFreshPages)
{
  TGSDBTable& t = NewTable();
  const Bytes row5000 = Pattern(5000, 1);
  const uint32_t a = Append(row5000);
  const uint32_t page = SDBPageNumber(a);
  EXPECT_EQ(SDBRowParagraph(a), 1);
  EXPECT_EQ(PartByte(a, 1), 157) << "(5000 + 6) div 32 + 1 paragraphs";
  EXPECT_EQ(PartByte(a, 0), rfInUse | rfLastPart);
  EXPECT_EQ(UsedPara(page), 158);
  EXPECT_EQ(t.PageCount(), 1u);

  // The 10000-byte row on a second, empty page fills its 255 paragraphs and goes on.
  table->Clear();
  const Bytes row10000 = Pattern(10000, 2);
  const uint32_t b = Append(row10000);
  const uint32_t first = SDBPageNumber(b);
  EXPECT_EQ(SDBRowParagraph(b), 1);
  EXPECT_EQ(PartByte(b, 1), 255);
  EXPECT_EQ(PartByte(b, 0), rfInUse) << "the row does not end in its first part";
  EXPECT_EQ(UsedPara(first), 256);
  EXPECT_EQ(t.PageCount(), 2u);
  const uint32_t next = t.LastPageID();
  EXPECT_NE(next, first);
  {
    TGDataPage cont(*cache, next);
    EXPECT_EQ(cont.PriorID(), first);
    EXPECT_EQ(cont.Paragraph(1)[0], rfLastPart);
    // 10000 - (255 * 32 - 6) = 1846 bytes with a 2-byte part head: 58 paragraphs.
    EXPECT_EQ(cont.Paragraph(1)[1], 58);
    EXPECT_EQ(cont.UsedPara(), 59);
  }
  EXPECT_EQ(t.ReadBuffer(b), row10000);
  EXPECT_EQ(t.RowLength(b), 10000u);
  // The next row goes after the continuation part; the walk skips that part.
  const uint32_t c = t.AppendString("after");
  EXPECT_EQ(c, SDBRowID(next, 59));
  EXPECT_EQ(t.First(), b);
  EXPECT_EQ(t.Next(b), c);
  EXPECT_EQ(t.Next(c), 0u);
  t.CheckIntegrity();
  Reopen();
  EXPECT_EQ(table->ReadBuffer(b), row10000);
  EXPECT_EQ(table->ReadString(c), "after");
  table->CheckIntegrity();
}

TEST_F(SDBTables, DeletingKeepsUsedParaAndTheNextRowGoesAfter)
{
  TGSDBTable& t = NewTable();
  const uint32_t a = t.AppendString("first row");
  const uint32_t b = t.AppendString("second row");
  const uint32_t page = SDBPageNumber(a);
  const int used = UsedPara(page);
  t.DeleteRow(a);
  EXPECT_EQ(UsedPara(page), used);
  EXPECT_EQ(t.RowCount(), 1u);
  EXPECT_EQ(t.DeletedCount(), 1u);
  EXPECT_EQ(t.First(), b);
  const uint32_t c = t.AppendString("third");
  EXPECT_EQ(c, SDBRowID(page, used));
  EXPECT_TRUE(Has(ErrorText([&] { t.ReadString(a); }), "Invalid Item at Page:" + SDBRowText(a)));
  // Next from a row deleted during a walk goes on after it.
  EXPECT_EQ(t.Next(a), b);

  // A long row deleted: its continuation parts are cleared too and the walk skips them.
  const uint32_t longRow = Append(Pattern(9000, 3));
  const uint32_t tail = t.AppendString("tail");
  t.DeleteRow(longRow);
  EXPECT_EQ(t.Next(c), tail);
  t.CheckIntegrity();
}

TEST_F(SDBTables, UpdatesRewriteInPlaceAndKeepTheLength)
{
  TGSDBTable& t = NewTable();
  const uint32_t a = Append(Pattern(12000, 4));
  const uint32_t b = t.AppendString("short");
  const Bytes changed = Pattern(12000, 5);
  t.UpdateBuffer(a, changed.data(), 12000);
  EXPECT_EQ(t.ReadBuffer(a), changed);
  EXPECT_EQ(t.ReadString(b), "short");
  const std::string message = ErrorText([&] { t.UpdateBuffer(b, "longer!", 7); });
  EXPECT_TRUE(Has(message, "Update: Length has changed cannot update. (globe\\GSDBTables"))
      << message;
  EXPECT_EQ(t.ReadString(b), "short");
}

// Random appends, updates and deletes of rows from 0 to 20000 bytes against a map; after
// every few steps the integrity walk, the walk order and every row's bytes are checked, and
// the file is reopened now and then.
TEST_F(SDBTables, RandomOperationsMatchAMapModel)
{
  NewTable();
  std::map<uint32_t, Bytes> model;
  std::mt19937 rng(20240611);
  const auto size = [&rng] {
    const uint32_t kind = rng() % 10;
    return kind < 6 ? rng() % 200 : kind < 9 ? rng() % 3000 : rng() % 20000;
  };
  for (int step = 0; step < 600; ++step) {
    const uint32_t op = rng() % 10;
    if (op < 5 || model.empty()) {
      const Bytes b = Pattern(size(), rng());
      const uint32_t id = Append(b);
      ASSERT_FALSE(model.contains(id));
      model[id] = b;
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      if (op < 8) {
        table->DeleteRow(it->first);
        model.erase(it);
      } else {
        it->second = Pattern(it->second.size(), rng());
        table->UpdateBuffer(it->first, it->second.data(), static_cast<int64_t>(it->second.size()));
      }
    }
    if (step % 50 == 49) {
      table->CheckIntegrity();
      ASSERT_EQ(table->RowCount(), model.size());
      std::vector<uint32_t> walk;
      for (uint32_t r = table->First(); r != 0; r = table->Next(r))
        walk.push_back(r);
      std::vector<uint32_t> keys;
      for (const auto& [id, bytes] : model) {
        ASSERT_EQ(table->ReadBuffer(id), bytes) << SDBRowText(id);
        keys.push_back(id);
      }
      // Rows come in page order; the model sorts by identifier, so compare as sets.
      std::sort(walk.begin(), walk.end());
      ASSERT_EQ(walk, keys);
    }
    if (step % 200 == 199) Reopen();
  }
}

TEST_F(SDBTables, DamagedPagesAndRowIdentifiersAreRefused)
{
  TGSDBTable& t = NewTable();
  const uint32_t a = t.AppendString("alpha");
  const uint32_t b = Append(Pattern(100, 6));
  const uint32_t page = SDBPageNumber(a);
  struct Case
  {
    const char* name;
    uint32_t rowID;
    const char* expected;
  };
  const Case cases[] = {
      {"paragraph 0", page, "Invalid Item at Page:"},
      {"map page", SDBRowID(0, 1), "Invalid Item at Page:"},
      {"page beyond the file", SDBRowID(5000, 1), "Invalid Item at Page:"},
      {"inside a row", SDBRowID(page, SDBRowParagraph(b) + 1), "Invalid Item at Page:"},
      {"beyond UsedPara", SDBRowID(page, 200), "Invalid Item at Page:"},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(Has(ErrorText([&] { t.ReadString(c.rowID); }), c.expected)) << c.name;

  {
    TGDataPage p(*cache, page);
    p.Paragraph(SDBRowParagraph(b))[1] = 0; // a part without paragraphs
  }
  const std::string zero = ErrorText([&] { t.ReadString(b); });
  EXPECT_TRUE(Has(zero, "Invalid Item at Page:" + SDBRowText(b) + " (globe\\GSDBTables")) << zero;
  EXPECT_TRUE(Has(ErrorText([&] { t.CheckIntegrity(); }), "is damaged")) << "the walk too";

  const struct
  {
    const char* name;
    std::function<void(TGDataPage&)> damage;
  } pages[] = {
      {"UsedPara 0", [](TGDataPage& p) { p.SetUsedPara(0); }},
      {"UsedPara 300", [](TGDataPage& p) { p.SetUsedPara(300); }},
      {"next link beyond the file", [](TGDataPage& p) { p.SetNextID(5000); }},
  };
  for (const auto& c : pages) {
    NewTable();
    const uint32_t r = table->AppendString("x");
    {
      TGDataPage p(*cache, SDBPageNumber(r));
      c.damage(p);
    }
    EXPECT_TRUE(Has(ErrorText([&] {
                      for (uint32_t x = table->First(); x != 0; x = table->Next(x))
                        table->ReadString(x);
                      table->CheckIntegrity();
                    }),
                    "SDBTable T is damaged"))
        << c.name;
  }

  // A continuation page that is missing: the long row ends in a clear error, not a hang.
  NewTable();
  const uint32_t longRow = Append(Pattern(9000, 7));
  {
    TGDataPage p(*cache, SDBPageNumber(longRow));
    p.SetNextID(SDBPageNumber(longRow)); // a cycle onto itself
  }
  EXPECT_TRUE(Has(ErrorText([&] { table->ReadBuffer(longRow); }), "is damaged"));
}

TEST_F(SDBTables, TableHeadersAreCheckedWhenRead)
{
  NewTable().AppendString("x");
  TGMemoryStream header;
  {
    TGStreamWriter w(header);
    table->WriteHeader(w);
  }
  ASSERT_EQ(header.Size(), kSDBTableHeaderSize);
  Bytes bytes = header.Bytes();
  const auto read = [&](const Bytes& b) {
    return ErrorText([&] {
      TGSDBTable t;
      TGMemoryStream s(b);
      t.Create(*root, "X", &s);
    });
  };
  EXPECT_EQ(read(bytes), "no exception");
  Bytes magic = bytes;
  magic[0] ^= 1;
  EXPECT_TRUE(Has(read(magic), "SDBTable Magic Failed (globe\\GSDBTables"));
  Bytes link = bytes;
  link[4] = 0xFF; // first page far beyond the file
  link[5] = 0xFF;
  EXPECT_TRUE(Has(read(link), "SDBTable X is damaged"));
  Bytes cls = bytes;
  cls[24] = 40;
  EXPECT_TRUE(Has(read(cls), "SDBTable X is damaged"));
}

TEST_F(SDBTables, NewFilesGetAnObjectTableForEveryRegisteredClassInOrder)
{
  TGSDBTable& rootTable = root->RootTable();
  std::vector<std::string> names;
  for (uint32_t r = rootTable.First(); r != 0; r = rootTable.Next(r)) {
    const Bytes row = rootTable.ReadBuffer(r);
    const auto zero = std::find(row.begin(), row.end(), uint8_t{0});
    names.emplace_back(row.begin(), zero);
    EXPECT_EQ(row.end() - zero - 1, kSDBTableHeaderSize) << names.back();
  }
  std::vector<std::string> expected;
  for (const TGSDBObjectClass& c : SDBObjectClasses())
    expected.push_back(c.ClassName);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(cache->SysRowCount(), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(cache->Header().SysFirstPageID, rootTable.FirstPageID());
  root->CheckIntegrity();
}

TEST_F(SDBTables, SaveObjectAppendsRewritesInPlaceOrMovesTheRow)
{
  TGSDBTable& objects = root->ObjectTable("TGSDBTable");
  const uint32_t before = objects.RowCount();
  TGSDBTable& t = NewTable();
  root->SaveObject(t);
  const uint32_t row = t.RootID();
  ASSERT_NE(row, 0u);
  EXPECT_EQ(objects.RowCount(), before + 1);
  t.AppendString("x"); // header changes, length does not
  root->SaveObject(t);
  EXPECT_EQ(t.RootID(), row) << "rewritten in place";
  t.SetName("A longer name");
  root->SaveObject(t);
  EXPECT_NE(t.RootID(), row) << "another length: deleted and appended";
  EXPECT_EQ(objects.RowCount(), before + 1);
  EXPECT_TRUE(root->CreateObjectByName("TGSDBTable", "a LONGER name")) << "names ignore case";
  EXPECT_FALSE(root->CreateObjectByName("TGSDBTable", "T"));
  EXPECT_FALSE(root->CreateObjectByName("TGNoSuchClass", "T"));

  TGSDBTable nameless;
  nameless.Create(*root, "");
  EXPECT_TRUE(Has(ErrorText([&] { root->SaveObject(nameless); }),
                  "SaveObject: SDBObject name not set (globe\\GSDBTables"));

  // Two objects of one name: the first row wins.
  TGSDBTable second;
  second.Create(*root, "a longer name");
  second.AppendString("y");
  root->SaveObject(second);
  auto found = root->CreateObjectByNameAs<TGSDBTable>("TGSDBTable", "A LONGER NAME");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->RootID(), t.RootID());

  root->DeleteObject(t);
  EXPECT_EQ(t.RootID(), 0u);
  found = root->CreateObjectByNameAs<TGSDBTable>("TGSDBTable", "A LONGER NAME");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->RootID(), second.RootID());
  root->CheckIntegrity();
}

TEST_F(SDBTables, ReadOnlyDatabasesRefuseChanges)
{
  NewTable().AppendString("kept");
  Close();
  readOnly = true;
  Open();
  table = root->CreateObjectByNameAs<TGSDBTable>("TGSDBTable", "T");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->ReadString(table->First()), "kept");
  EXPECT_EQ(ErrorText([&] { table->AppendString("more"); }), "SDBTable.Append: SDB is ReadOnly");
  EXPECT_EQ(ErrorText([&] { table->DeleteRow(table->First()); }),
            "SDBTable.DeleteRow: SDB is ReadOnly");
  EXPECT_FALSE(root->CreateObjectByName("TGSDBLayerNotThere", "x"));
}

} // namespace
} // namespace vtr
