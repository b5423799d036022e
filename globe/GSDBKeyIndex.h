#pragma once
// The key index: named 8-bit text keys to 32-bit row identifiers, kept as rows of a table with
// a sorted cache in memory. It needs only the row operations of IGSDBRowTable, which the
// database tables implement. Plain C++ (no Qt).
//
// Row layout (the same as the catalog rows): the key as 8-bit text, a zero byte, then the
// row identifier as u32 little-endian. Keys compare without regard to letter case (ASCII).

#include "globe/GStreams.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

// The row operations of a table: rows of bytes named by 32-bit row identifiers.
class IGSDBRowTable
{
public:
  virtual ~IGSDBRowTable() = default;
  // The first row in table order, 0 when there are none; Next gives 0 after the last.
  virtual uint32_t First() = 0;
  virtual uint32_t Next(uint32_t rowID) = 0;
  // Writes the row's bytes to the stream at its position.
  virtual void ReadStream(uint32_t rowID, TGStream& stream) = 0;
  // Appends the stream's whole content as a new row; returns its identifier.
  virtual uint32_t AppendStream(TGStream& stream, bool asObject) = 0;
  // Rewrites a row in place with the stream's whole content, which keeps the row's length.
  virtual void UpdateStream(uint32_t rowID, TGStream& stream) = 0;
  virtual void DeleteRow(uint32_t rowID) = 0;
};

class TGSDBKeyIndex
{
public:
  // Borrowed: the table must outlive the index.
  explicit TGSDBKeyIndex(IGSDBRowTable& table) : FTable(&table) {}

  // An existing key is the assertion "Assertion failure".
  void InsertKey(const std::string& key, uint32_t rowID);
  // The key's row identifier, 0 when absent.
  uint32_t FindKey(std::string_view key);
  // Rewrites the row identifier of an existing key in place; inserts the key otherwise.
  void UpdateKey(const std::string& key, uint32_t rowID);
  // False when the key was not there.
  bool DeleteKey(std::string_view key);

private:
  struct KeyRow
  {
    std::string Key;
    uint32_t KeyRowID = 0; // the table row holding the key
    uint32_t RowID = 0;    // the value stored with it
  };
  const std::vector<KeyRow>& KeyCache();
  const KeyRow* Lookup(std::string_view key);
  static std::vector<uint8_t> RowBytes(const std::string& key, uint32_t rowID);

  IGSDBRowTable* FTable;
  // Sorted by key; built from all rows on first use, dropped after every change.
  std::optional<std::vector<KeyRow>> FKeyCache;
};

} // namespace vtr
