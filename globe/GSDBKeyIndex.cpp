#include "globe/GSDBKeyIndex.h"

#include "base/TextLists.h"
#include "globe/GClasses.h"

#include <algorithm>
#include <unordered_set>

namespace vtr {

namespace {

// ASCII order without regard to letter case, as SameText compares.
bool KeyLess(std::string_view a, std::string_view b)
{
  auto lower = [](char c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return lower(x) < lower(y); });
}

} // namespace

std::vector<uint8_t> TGSDBKeyIndex::RowBytes(const std::string& key, uint32_t rowID)
{
  TGMemoryStream s;
  TGStreamWriter w(s);
  w.WriteBuffer(key.data(), static_cast<int64_t>(key.size()));
  w.WriteByte(0);
  w.WriteCardinal(rowID);
  return s.Bytes();
}

const std::vector<TGSDBKeyIndex::KeyRow>& TGSDBKeyIndex::KeyCache()
{
  if (FKeyCache) return *FKeyCache;
  std::vector<KeyRow> rows;
  std::unordered_set<uint32_t> seen;
  for (uint32_t row = FTable->First(); row != 0; row = FTable->Next(row)) {
    if (!seen.insert(row).second)
      throw EGException("TGSDBKeyIndex: row " + std::to_string(row) + " comes twice");
    TGMemoryStream s;
    FTable->ReadStream(row, s);
    const std::vector<uint8_t>& bytes = s.Bytes();
    const auto zero = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    if (bytes.end() - zero < 5)
      throw EGException("TGSDBKeyIndex: damaged key row " + std::to_string(row));
    KeyRow k;
    k.Key.assign(bytes.begin(), zero);
    k.KeyRowID = row;
    s.SetPosition(zero - bytes.begin() + 1);
    k.RowID = TGStreamReader(s).ReadCardinal();
    rows.push_back(std::move(k));
  }
  // Stable: of keys stored twice, the first in table order is found.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const KeyRow& a, const KeyRow& b) { return KeyLess(a.Key, b.Key); });
  FKeyCache = std::move(rows);
  return *FKeyCache;
}

const TGSDBKeyIndex::KeyRow* TGSDBKeyIndex::Lookup(std::string_view key)
{
  const std::vector<KeyRow>& rows = KeyCache();
  const auto it =
      std::lower_bound(rows.begin(), rows.end(), key,
                       [](const KeyRow& k, std::string_view v) { return KeyLess(k.Key, v); });
  return it != rows.end() && SameText(it->Key, key) ? &*it : nullptr;
}

void TGSDBKeyIndex::InsertKey(const std::string& key, uint32_t rowID)
{
  G_ASSERT(Lookup(key) == nullptr);
  TGMemoryStream s(RowBytes(key, rowID));
  FTable->AppendStream(s, false);
  FKeyCache.reset();
}

uint32_t TGSDBKeyIndex::FindKey(std::string_view key)
{
  const KeyRow* k = Lookup(key);
  return k ? k->RowID : 0;
}

void TGSDBKeyIndex::UpdateKey(const std::string& key, uint32_t rowID)
{
  const KeyRow* k = Lookup(key);
  if (!k) {
    InsertKey(key, rowID);
    return;
  }
  // The stored spelling keeps the row's length.
  TGMemoryStream s(RowBytes(k->Key, rowID));
  FTable->UpdateStream(k->KeyRowID, s);
  FKeyCache.reset();
}

bool TGSDBKeyIndex::DeleteKey(std::string_view key)
{
  const KeyRow* k = Lookup(key);
  if (!k) return false;
  FTable->DeleteRow(k->KeyRowID);
  FKeyCache.reset();
  return true;
}

} // namespace vtr
