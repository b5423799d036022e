// Streams: the little-endian byte layout of every primitive, round trips at the limits, the
// buffer stream's rules, and refusal of truncated or oversized input.
#include "globe/GStreams.h"

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace vtr {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const std::function<void(TGStreamWriter&)>& write)
{
  TGMemoryStream s;
  TGStreamWriter w(s);
  write(w);
  return s.Bytes();
}

using vtrtest::ErrorText;

TEST(StreamCoding, PrimitivesAreLittleEndian)
{
  struct Case
  {
    const char* name;
    std::function<void(TGStreamWriter&)> write;
    Bytes want;
  };
  const Case cases[] = {
      {"boolean true", [](auto& w) { w.WriteBoolean(true); }, {'T'}},
      {"boolean false", [](auto& w) { w.WriteBoolean(false); }, {'F'}},
      {"byte", [](auto& w) { w.WriteByte(0xAB); }, {0xAB}},
      {"shortint", [](auto& w) { w.WriteShortInt(-1); }, {0xFF}},
      {"word", [](auto& w) { w.WriteWord(0xBEEF); }, {0xEF, 0xBE}},
      {"smallint", [](auto& w) { w.WriteSmallInt(-2); }, {0xFE, 0xFF}},
      {"integer", [](auto& w) { w.WriteInteger(0x01020304); }, {4, 3, 2, 1}},
      {"cardinal", [](auto& w) { w.WriteCardinal(0xFFFFFFFEu); }, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"int64", [](auto& w) { w.WriteInt64(0x0102030405060708); }, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"double", [](auto& w) { w.WriteDouble(1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {"string", [](auto& w) { w.WriteString("ab"); }, {2, 0, 'a', 'b'}},
      {"long string", [](auto& w) { w.WriteLongString("ab"); }, {2, 0, 0, 0, 'a', 'b'}},
      {"short string", [](auto& w) { w.WriteShortString("ab"); }, {2, 'a', 'b'}},
      {"point",
       [](auto& w) {
         w.WritePoint({1, -1});
       },
       {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"rect",
       [](auto& w) {
         w.WriteRect({1, 2, 3, 4});
       },
       {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}},
      {"MER",
       [](auto& w) {
         w.WriteMER({5, 6, 7, 8});
       },
       {5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0}},
      {"point 16-bit with height",
       [](auto& w) {
         w.WritePointLL({270'005, -180'000, 89'999}, true, true);
       },
       {3, 0, 0xFE, 0xFF, 0, 0}},
      {"point 32-bit without height",
       [](auto& w) {
         w.WritePointLL({1, 2, 3}, false, false);
       },
       {1, 0, 0, 0, 2, 0, 0, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Written(c.write), c.want) << c.name;
}

TEST(StreamCoding, ReaderInvertsTheWriterAtTheLimits)
{
  TGMemoryStream s;
  TGStreamWriter w(s);
  const std::string text(70000, 'x');
  w.WriteBoolean(true);
  w.WriteByte(255);
  w.WriteShortInt(-128);
  w.WriteWord(65535);
  w.WriteSmallInt(-32768);
  w.WriteInteger(std::numeric_limits<int32_t>::min());
  w.WriteCardinal(std::numeric_limits<uint32_t>::max());
  w.WriteInt64(std::numeric_limits<int64_t>::min());
  w.WriteDouble(-0.0);
  w.WriteString(std::string(65535, 's'));
  w.WriteLongString(text);
  w.WriteShortString(std::string(255, 'h'));
  w.WritePointLL({GU_180, -GU_90, -5}, true, false);
  w.WritePointLL({-GU_180 + 90'000, GU_90, 123}, true, true);
  const uint8_t raw[3] = {1, 2, 3};
  w.WriteBuffer(raw, 3);

  s.SetPosition(0);
  TGStreamReader r(s);
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_EQ(r.ReadByte(), 255);
  EXPECT_EQ(r.ReadShortInt(), -128);
  EXPECT_EQ(r.ReadWord(), 65535);
  EXPECT_EQ(r.ReadSmallInt(), -32768);
  EXPECT_EQ(r.ReadInteger(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.ReadCardinal(), std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(r.ReadInt64(), std::numeric_limits<int64_t>::min());
  const double z = r.ReadDouble();
  EXPECT_TRUE(z == 0 && std::signbit(z));
  EXPECT_EQ(r.ReadString(), std::string(65535, 's'));
  EXPECT_EQ(r.ReadLongString(), text);
  EXPECT_EQ(r.ReadShortString(), std::string(255, 'h'));
  EXPECT_EQ(r.ReadPointLL(true, false), (TGPointLL{GU_180, -GU_90, -5}));
  EXPECT_EQ(r.ReadPointLL(true, true), (TGPointLL{-GU_180 + 90'000, GU_90, 0}));
  uint8_t back[3] = {};
  r.ReadBuffer(back, 3);
  EXPECT_EQ(std::memcmp(back, raw, 3), 0);
  EXPECT_EQ(r.Remaining(), 0);
}

TEST(StreamCoding, ReadBooleanIsTrueOnlyForT)
{
  for (uint8_t b : {uint8_t('t'), uint8_t('F'), uint8_t(0), uint8_t(1)}) {
    TGMemoryStream s({b});
    TGStreamReader r(s);
    EXPECT_FALSE(r.ReadBoolean()) << int(b);
  }
}

TEST(StreamCoding, ReaderWrapsLongitudesAndRefusesCoarseOverflow)
{
  TGMemoryStream s(Written([](auto& w) {
    w.WriteInteger(GU_180 + 1);
    w.WriteInteger(0);
    w.WriteSmallInt(10'801); // 972,090,000 GU
    w.WriteSmallInt(0);
    w.WriteSmallInt(0);
    w.WriteSmallInt(32'767); // latitude beyond 32 bits once multiplied
  }));
  TGStreamReader r(s);
  EXPECT_EQ(r.ReadPointLL(false, false).iLongX, -GU_180 + 1);
  EXPECT_EQ(r.ReadPointLL(false, true).iLongX, 972'090'000 - GU_360);
  EXPECT_EQ(ErrorText([&] { r.ReadPointLL(false, true); }),
            "TGStreamReader: coordinate out of range");
}

// Every primitive cut short by one byte is refused with the same clear message.
TEST(StreamCoding, TruncatedInputIsRefused)
{
  struct Case
  {
    const char* name;
    std::function<void(TGStreamWriter&)> write;
    std::function<void(TGStreamReader&)> read;
  };
  const Case cases[] = {
      {"byte", [](auto& w) { w.WriteByte(1); }, [](auto& r) { r.ReadByte(); }},
      {"word", [](auto& w) { w.WriteWord(1); }, [](auto& r) { r.ReadWord(); }},
      {"integer", [](auto& w) { w.WriteInteger(1); }, [](auto& r) { r.ReadInteger(); }},
      {"int64", [](auto& w) { w.WriteInt64(1); }, [](auto& r) { r.ReadInt64(); }},
      {"double", [](auto& w) { w.WriteDouble(1); }, [](auto& r) { r.ReadDouble(); }},
      {"string", [](auto& w) { w.WriteString("abc"); }, [](auto& r) { r.ReadString(); }},
      {"long string", [](auto& w) { w.WriteLongString("abc"); },
       [](auto& r) { r.ReadLongString(); }},
      {"short string", [](auto& w) { w.WriteShortString("abc"); },
       [](auto& r) { r.ReadShortString(); }},
      {"MER",
       [](auto& w) {
         w.WriteMER({1, 2, 3, 4});
       },
       [](auto& r) { r.ReadMER(); }},
      {"rect",
       [](auto& w) {
         w.WriteRect({1, 2, 3, 4});
       },
       [](auto& r) { r.ReadRect(); }},
      {"point",
       [](auto& w) {
         w.WritePoint({1, 2});
       },
       [](auto& r) { r.ReadPoint(); }},
      {"point LL",
       [](auto& w) {
         w.WritePointLL({1, 2, 3}, true, false);
       },
       [](auto& r) { r.ReadPointLL(true, false); }},
  };
  for (const auto& c : cases) {
    Bytes bytes = Written(c.write);
    bytes.pop_back();
    TGMemoryStream s(bytes);
    TGStreamReader r(s);
    EXPECT_EQ(ErrorText([&] { c.read(r); }), "TGStreamReader: unexpected end of stream") << c.name;
  }
}

TEST(StreamCoding, LengthsBeyondTheStreamAreRefusedBeforeAllocating)
{
  // A 2 GB long string declared in a six-byte stream.
  TGMemoryStream huge(Written([](auto& w) {
    w.WriteInteger(0x7FFFFFFF);
    w.WriteWord(0);
  }));
  TGStreamReader r(huge);
  EXPECT_EQ(ErrorText([&] { r.ReadLongString(); }), "TGStreamReader: unexpected end of stream");

  TGMemoryStream negative(Written([](auto& w) { w.WriteInteger(-1); }));
  TGStreamReader rn(negative);
  EXPECT_EQ(ErrorText([&] { rn.ReadLongString(); }), "TGStreamReader: bad string length -1");

  TGMemoryStream empty;
  TGStreamReader re(empty);
  EXPECT_EQ(ErrorText([&] { re.RequireBytes(1); }), "TGStreamReader: unexpected end of stream");
  EXPECT_EQ(ErrorText([&] { re.RequireBytes(0); }), "no exception");
}

TEST(StreamCoding, TextTooLongForItsLengthFieldIsRefused)
{
  TGMemoryStream s;
  TGStreamWriter w(s);
  EXPECT_NE(ErrorText([&] { w.WriteString(std::string(65536, 'x')); }), "no exception");
  EXPECT_NE(ErrorText([&] { w.WriteShortString(std::string(256, 'x')); }), "no exception");
  EXPECT_EQ(s.Size(), 0); // nothing half-written
}

TEST(BufferStream, WriteRules)
{
  uint8_t buf[8] = {};
  TGBufferStream s(buf, sizeof buf);
  const uint8_t four[4] = {1, 2, 3, 4};

  EXPECT_EQ(s.Write(four, -1), 0); // negative count
  EXPECT_EQ(s.Write(four, 0), 0);  // ends at position 0
  s.SetPosition(-2);
  EXPECT_EQ(s.Write(four, 4), 0); // negative position
  s.SetPosition(0);
  EXPECT_EQ(s.Write(four, 4), 4);
  EXPECT_EQ(s.Write(four, 4), 4); // exactly to the end
  EXPECT_EQ(buf[4], 1);
  EXPECT_EQ(ErrorText([&] { s.Write(four, 1); }), "TGBufferStream.Write: Buffer overflow");
  s.SetPosition(6);
  EXPECT_EQ(ErrorText([&] { s.Write(four, 3); }), "TGBufferStream.Write: Buffer overflow");
  EXPECT_EQ(buf[6], 3); // the refused write left the buffer alone

  // Reads stop at the end.
  s.SetPosition(6);
  uint8_t out[4] = {};
  EXPECT_EQ(s.Read(out, 4), 2);
  EXPECT_EQ(s.Read(out, 4), 0);

  const uint8_t fixed[2] = {9, 9};
  TGBufferStream ro(static_cast<const void*>(fixed), 2);
  EXPECT_NE(ErrorText([&] { ro.Write(four, 1); }), "no exception");
  TGStreamReader r(ro);
  EXPECT_EQ(r.ReadWord(), 0x0909);
}

TEST(BufferStream, WriterReportsAStreamThatTakesNothing)
{
  class Full : public TGMemoryStream
  {
  public:
    int64_t Write(const void*, int64_t) override { return 0; }
  };
  Full s;
  TGStreamWriter w(s);
  EXPECT_EQ(ErrorText([&] { w.WriteInteger(1); }), "TGStreamWriter: write failed");
}

} // namespace
} // namespace vtr
