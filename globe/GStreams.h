#pragma once
// Byte streams and the engine's one little-endian coder: every binary form of the engine
// (point lists, chain stores, stored map objects, layer files, database pages) is written
// through TGStreamWriter and read through TGStreamReader. Plain C++ (no Qt).
//
// The reader trusts nothing it reads: every read is bounds-checked and a stream that ends early
// raises EGException "TGStreamReader: unexpected end of stream"; lengths and counts are checked
// against the bytes left (RequireBytes) before anything is allocated for them.

#include "globe/GClasses.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vtr {

// A positioned sequence of bytes. Read returns how many bytes it could read (fewer at the
// end); Write returns how many it wrote.
class TGStream
{
public:
  TGStream() = default;
  virtual ~TGStream() = default;
  TGStream(const TGStream&) = delete;
  TGStream& operator=(const TGStream&) = delete;

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Position() const = 0;
  // Positions beyond the end are allowed; reads there return nothing.
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t Size() const = 0;

  int64_t Remaining() const;
};

// A growable stream in memory.
class TGMemoryStream : public TGStream
{
public:
  TGMemoryStream() = default;
  explicit TGMemoryStream(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Position() const override { return FPosition; }
  void SetPosition(int64_t position) override { FPosition = position < 0 ? 0 : position; }
  int64_t Size() const override { return static_cast<int64_t>(FBytes.size()); }

  const std::vector<uint8_t>& Bytes() const { return FBytes; }
  void Clear();

private:
  std::vector<uint8_t> FBytes;
  int64_t FPosition = 0;
};

// A stream over a caller's buffer of fixed length (borrowed: the buffer must outlive the
// stream). Writes that would end past the buffer raise "TGBufferStream.Write: Buffer overflow";
// a negative position or count, or a write that would end at or before position 0, writes
// nothing and returns 0. A stream made over const bytes is read-only.
class TGBufferStream : public TGStream
{
public:
  TGBufferStream(void* buffer, int64_t size);
  TGBufferStream(const void* buffer, int64_t size);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Position() const override { return FPosition; }
  void SetPosition(int64_t position) override { FPosition = position; }
  int64_t Size() const override { return FSize; }

private:
  uint8_t* FWritable = nullptr;
  const uint8_t* FBuffer = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

// A file opened for reading only. Opening a file that cannot be read raises EGException
// "Cannot open %s: <reason>"; writes write nothing. The size is taken at opening.
class TGFileStream : public TGStream
{
public:
  explicit TGFileStream(const std::string& fileName);
  ~TGFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Position() const override { return FPosition; }
  void SetPosition(int64_t position) override { FPosition = position < 0 ? 0 : position; }
  int64_t Size() const override { return FSize; }

private:
  std::FILE* FFile = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
  int64_t FFilePosition = 0; // where the next fread reads
};

// Little-endian writer on a borrowed stream (the stream must outlive the writer). A stream that
// takes fewer bytes than given raises "TGStreamWriter: write failed".
class TGStreamWriter : public TGRoot
{
public:
  explicit TGStreamWriter(TGStream& stream) : FDataStream(&stream) {}
  std::string ClassName() const override { return "TGStreamWriter"; }

  TGStream& DataStream() const { return *FDataStream; }

  void WriteBoolean(bool value); // "T" (84) / "F" (70)
  void WriteByte(uint8_t value);
  void WriteShortInt(int8_t value);
  void WriteWord(uint16_t value);
  void WriteSmallInt(int16_t value);
  void WriteInteger(int32_t value);
  void WriteCardinal(uint32_t value);
  void WriteInt64(int64_t value);
  void WriteDouble(double value); // IEEE 754 binary64
  // Length-prefixed 8-bit text: 16-bit, 32-bit and 8-bit lengths. Text longer than its length
  // field can state raises EGException rather than write a stream that reads back wrong.
  void WriteString(const std::string& text);
  void WriteLongString(const std::string& text);
  void WriteShortString(const std::string& text);
  void WritePoint(const TGPoint& pt); // X, Y
  void WriteRect(const TGRect& r);    // Left, Top, Right, Bottom
  void WriteMER(const TGMER& m);      // iLongX, iLatY, iWidthX, iHeightY
  // b16Bit: longitude, latitude (and height) div 90,000 as 16-bit values (every 32-bit value
  // fits); otherwise as 32-bit values. The height only with bHeight.
  void WritePointLL(const TGPointLL& pt, bool bHeight, bool b16Bit);
  void WriteBuffer(const void* buffer, int64_t size);

private:
  TGStream* FDataStream;
};

// Little-endian reader on a borrowed stream (the stream must outlive the reader).
class TGStreamReader : public TGRoot
{
public:
  explicit TGStreamReader(TGStream& stream) : FDataStream(&stream) {}
  std::string ClassName() const override { return "TGStreamReader"; }

  TGStream& DataStream() const { return *FDataStream; }
  int64_t Remaining() const { return FDataStream->Remaining(); }
  // Raises "TGStreamReader: unexpected end of stream" unless count bytes remain; readers call
  // it with the least size a count they read implies, before allocating for that count.
  void RequireBytes(int64_t count) const;

  bool ReadBoolean(); // true only for "T"
  uint8_t ReadByte();
  int8_t ReadShortInt();
  uint16_t ReadWord();
  int16_t ReadSmallInt();
  int32_t ReadInteger();
  uint32_t ReadCardinal();
  int64_t ReadInt64();
  double ReadDouble();
  std::string ReadString();
  // A negative length raises "TGStreamReader: bad string length %d".
  std::string ReadLongString();
  std::string ReadShortString();
  TGPoint ReadPoint();
  TGRect ReadRect();
  TGMER ReadMER();
  // The inverse of WritePointLL; the longitude is wrapped into (-GU_180, GU_180], a point read
  // without height gets height 0. A 16-bit latitude or height whose multiple of 90,000 does not
  // fit 32 bits raises "TGStreamReader: coordinate out of range".
  TGPointLL ReadPointLL(bool bHeight, bool b16Bit);
  void ReadBuffer(void* buffer, int64_t size);

private:
  TGStream* FDataStream;
};

// Bytes WritePointLL uses.
// GU per unit of the coarse (16-bit) point form: one nautical mile.
inline constexpr int32_t kCoarseStep = 90'000;

constexpr int PointLLSize(bool bHeight, bool b16Bit)
{
  return (b16Bit ? 2 : 4) * (bHeight ? 3 : 2);
}

} // namespace vtr
