#include "globe/GStreams.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace vtr {

int64_t TGStream::Remaining() const
{
  return std::max<int64_t>(0, Size() - Position());
}

// ---------------------------------------------------------------------------------------------
// TGMemoryStream

int64_t TGMemoryStream::Read(void* buffer, int64_t count)
{
  const int64_t n = std::clamp<int64_t>(Size() - FPosition, 0, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, FBytes.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TGMemoryStream::Write(const void* buffer, int64_t count)
{
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > Size()) FBytes.resize(static_cast<size_t>(end));
  std::memcpy(FBytes.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

void TGMemoryStream::Clear()
{
  FBytes.clear();
  FPosition = 0;
}

// ---------------------------------------------------------------------------------------------
// TGBufferStream

TGBufferStream::TGBufferStream(void* buffer, int64_t size)
    : FWritable(static_cast<uint8_t*>(buffer)), FBuffer(static_cast<const uint8_t*>(buffer)),
      FSize(std::max<int64_t>(size, 0))
{
}

TGBufferStream::TGBufferStream(const void* buffer, int64_t size)
    : FBuffer(static_cast<const uint8_t*>(buffer)), FSize(std::max<int64_t>(size, 0))
{
}

int64_t TGBufferStream::Read(void* buffer, int64_t count)
{
  if (FPosition < 0 || count <= 0 || FPosition >= FSize) return 0;
  const int64_t n = std::min(count, FSize - FPosition);
  std::memcpy(buffer, FBuffer + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TGBufferStream::Write(const void* buffer, int64_t count)
{
  if (FPosition < 0 || count < 0 || FPosition + count <= 0) return 0;
  if (FPosition + count > FSize) throw EGException("TGBufferStream.Write: Buffer overflow");
  if (!FWritable) throw EGException("TGBufferStream.Write: stream is read-only");
  std::memcpy(FWritable + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

// ---------------------------------------------------------------------------------------------
// TGFileStream

TGFileStream::TGFileStream(const std::string& fileName)
{
  // stdio buffers the small reads of the stream coders.
  FFile = std::fopen(fileName.c_str(), "rb");
  if (!FFile) throw EGException("Cannot open " + fileName + ": " + std::strerror(errno));
  if (fseeko(FFile, 0, SEEK_END) != 0 || (FSize = ftello(FFile)) < 0 ||
      fseeko(FFile, 0, SEEK_SET) != 0) {
    const std::string reason = std::strerror(errno);
    std::fclose(FFile);
    throw EGException("Cannot open " + fileName + ": " + reason);
  }
}

TGFileStream::~TGFileStream()
{
  std::fclose(FFile);
}

int64_t TGFileStream::Read(void* buffer, int64_t count)
{
  if (count <= 0 || FPosition >= FSize) return 0;
  if (FFilePosition != FPosition) {
    if (fseeko(FFile, FPosition, SEEK_SET) != 0) return 0;
    FFilePosition = FPosition;
  }
  const auto n = static_cast<int64_t>(
      std::fread(buffer, 1, static_cast<size_t>(std::min(count, FSize - FPosition)), FFile));
  FPosition += n;
  FFilePosition = FPosition;
  return n;
}

int64_t TGFileStream::Write(const void* buffer, int64_t count)
{
  (void)buffer;
  (void)count;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TGStreamWriter

namespace {

template <typename U> void PutLE(uint8_t* out, U value)
{
  for (size_t i = 0; i < sizeof(U); ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

template <typename U> U GetLE(const uint8_t* in)
{
  U value = 0;
  for (size_t i = 0; i < sizeof(U); ++i)
    value = static_cast<U>(value | static_cast<U>(static_cast<U>(in[i]) << (8 * i)));
  return value;
}

// Fixed-size values, least significant byte first.
template <typename U> void WriteLE(TGStreamWriter& w, U value)
{
  uint8_t b[sizeof(U)];
  PutLE(b, value);
  w.WriteBuffer(b, sizeof(U));
}

template <typename U> U ReadLE(TGStreamReader& r)
{
  uint8_t b[sizeof(U)];
  r.ReadBuffer(b, sizeof(U));
  return GetLE<U>(b);
}

// n bytes of text, refused before allocating when the stream cannot hold them.
std::string ReadText(TGStreamReader& r, int64_t n)
{
  r.RequireBytes(n);
  std::string s(static_cast<size_t>(n), '\0');
  r.ReadBuffer(s.data(), n);
  return s;
}


} // namespace

void TGStreamWriter::WriteBuffer(const void* buffer, int64_t size)
{
  if (size <= 0) return;
  if (FDataStream->Write(buffer, size) != size) throw EGException("TGStreamWriter: write failed");
}

void TGStreamWriter::WriteBoolean(bool value)
{
  WriteByte(value ? 'T' : 'F');
}
void TGStreamWriter::WriteByte(uint8_t value)
{
  WriteBuffer(&value, 1);
}
void TGStreamWriter::WriteShortInt(int8_t value)
{
  WriteByte(static_cast<uint8_t>(value));
}

void TGStreamWriter::WriteWord(uint16_t value)
{
  WriteLE(*this, value);
}

void TGStreamWriter::WriteSmallInt(int16_t value)
{
  WriteWord(static_cast<uint16_t>(value));
}

void TGStreamWriter::WriteCardinal(uint32_t value)
{
  WriteLE(*this, value);
}

void TGStreamWriter::WriteInteger(int32_t value)
{
  WriteCardinal(static_cast<uint32_t>(value));
}

void TGStreamWriter::WriteInt64(int64_t value)
{
  WriteLE(*this, static_cast<uint64_t>(value));
}

void TGStreamWriter::WriteDouble(double value)
{
  WriteLE(*this, std::bit_cast<uint64_t>(value));
}

void TGStreamWriter::WriteString(const std::string& text)
{
  if (text.size() > 0xFFFF)
    throw EGException("TGStreamWriter.WriteString: text of " + std::to_string(text.size()) +
                      " bytes exceeds 65535");
  WriteWord(static_cast<uint16_t>(text.size()));
  WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TGStreamWriter::WriteLongString(const std::string& text)
{
  if (text.size() > 0x7FFFFFFF) throw EGException("TGStreamWriter.WriteLongString: text too long");
  WriteInteger(static_cast<int32_t>(text.size()));
  WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TGStreamWriter::WriteShortString(const std::string& text)
{
  if (text.size() > 0xFF)
    throw EGException("TGStreamWriter.WriteShortString: text of " + std::to_string(text.size()) +
                      " bytes exceeds 255");
  WriteByte(static_cast<uint8_t>(text.size()));
  WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TGStreamWriter::WritePoint(const TGPoint& pt)
{
  WriteInteger(pt.X);
  WriteInteger(pt.Y);
}

void TGStreamWriter::WriteRect(const TGRect& r)
{
  WriteInteger(r.Left);
  WriteInteger(r.Top);
  WriteInteger(r.Right);
  WriteInteger(r.Bottom);
}

void TGStreamWriter::WriteMER(const TGMER& m)
{
  WriteInteger(m.iLongX);
  WriteInteger(m.iLatY);
  WriteInteger(m.iWidthX);
  WriteInteger(m.iHeightY);
}

void TGStreamWriter::WritePointLL(const TGPointLL& pt, bool bHeight, bool b16Bit)
{
  // Layout: lon, lat[, height], each int16 (value div 90,000) or int32.
  if (b16Bit) {
    WriteSmallInt(static_cast<int16_t>(pt.iLongX / kCoarseStep));
    WriteSmallInt(static_cast<int16_t>(pt.iLatY / kCoarseStep));
    if (bHeight) WriteSmallInt(static_cast<int16_t>(pt.iHeightZ / kCoarseStep));
  } else {
    WriteInteger(pt.iLongX);
    WriteInteger(pt.iLatY);
    if (bHeight) WriteInteger(pt.iHeightZ);
  }
}

// ---------------------------------------------------------------------------------------------
// TGStreamReader

void TGStreamReader::RequireBytes(int64_t count) const
{
  if (count < 0 || Remaining() < count)
    throw EGException("TGStreamReader: unexpected end of stream");
}

void TGStreamReader::ReadBuffer(void* buffer, int64_t size)
{
  if (size <= 0) return;
  RequireBytes(size);
  if (FDataStream->Read(buffer, size) != size)
    throw EGException("TGStreamReader: unexpected end of stream");
}

bool TGStreamReader::ReadBoolean()
{
  return ReadByte() == 'T';
}

uint8_t TGStreamReader::ReadByte()
{
  uint8_t b = 0;
  ReadBuffer(&b, 1);
  return b;
}

int8_t TGStreamReader::ReadShortInt()
{
  return static_cast<int8_t>(ReadByte());
}

uint16_t TGStreamReader::ReadWord()
{
  return ReadLE<uint16_t>(*this);
}

int16_t TGStreamReader::ReadSmallInt()
{
  return static_cast<int16_t>(ReadWord());
}

uint32_t TGStreamReader::ReadCardinal()
{
  return ReadLE<uint32_t>(*this);
}

int32_t TGStreamReader::ReadInteger()
{
  return static_cast<int32_t>(ReadCardinal());
}

int64_t TGStreamReader::ReadInt64()
{
  return static_cast<int64_t>(ReadLE<uint64_t>(*this));
}

double TGStreamReader::ReadDouble()
{
  return std::bit_cast<double>(ReadLE<uint64_t>(*this));
}

std::string TGStreamReader::ReadString()
{
  return ReadText(*this, ReadWord());
}

std::string TGStreamReader::ReadLongString()
{
  const int32_t n = ReadInteger();
  if (n < 0) throw EGException("TGStreamReader: bad string length " + std::to_string(n));
  return ReadText(*this, n);
}

std::string TGStreamReader::ReadShortString()
{
  return ReadText(*this, ReadByte());
}

TGPoint TGStreamReader::ReadPoint()
{
  TGPoint p;
  p.X = ReadInteger();
  p.Y = ReadInteger();
  return p;
}

TGRect TGStreamReader::ReadRect()
{
  TGRect r;
  r.Left = ReadInteger();
  r.Top = ReadInteger();
  r.Right = ReadInteger();
  r.Bottom = ReadInteger();
  return r;
}

TGMER TGStreamReader::ReadMER()
{
  TGMER m;
  m.iLongX = ReadInteger();
  m.iLatY = ReadInteger();
  m.iWidthX = ReadInteger();
  m.iHeightY = ReadInteger();
  return m;
}

namespace {

int32_t CoarseToGU(int16_t v)
{
  const int64_t gu = static_cast<int64_t>(v) * kCoarseStep;
  if (gu != ClampToInt32(gu)) throw EGException("TGStreamReader: coordinate out of range");
  return static_cast<int32_t>(gu);
}

} // namespace

TGPointLL TGStreamReader::ReadPointLL(bool bHeight, bool b16Bit)
{
  RequireBytes(PointLLSize(bHeight, b16Bit));
  TGPointLL p;
  if (b16Bit) {
    p.iLongX = LongWrap64(static_cast<int64_t>(ReadSmallInt()) * kCoarseStep);
    p.iLatY = CoarseToGU(ReadSmallInt());
    if (bHeight) p.iHeightZ = CoarseToGU(ReadSmallInt());
  } else {
    p.iLongX = LongWrap(ReadInteger());
    p.iLatY = ReadInteger();
    if (bHeight) p.iHeightZ = ReadInteger();
  }
  return p;
}

} // namespace vtr
