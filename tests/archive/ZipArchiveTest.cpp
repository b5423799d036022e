#include "archive/ZipArchive.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

using vtr::EArchiveError;
using vtr::ZipArchive;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p)
{
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void Spill(const fs::path& p, std::string_view data)
{
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::set<std::string> FilesIn(const fs::path& dir)
{
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    out.insert(fs::relative(e.path(), dir).string());
  return out;
}

// Writes an archive with libzip itself, so that tests can hold names our component refuses.
void RawZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& members)
{
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, data] : members) {
    zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

uint32_t Get32(const std::string& s, size_t at)
{
  uint32_t v = 0;
  for (int k = 3; k >= 0; --k)
    v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<size_t>(k)]);
  return v;
}

void Put32(std::string& s, size_t at, uint32_t v)
{
  for (int k = 0; k < 4; ++k)
    s[at + static_cast<size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

// Rewrites the uncompressed size that a one-member archive records, in its local header
// (offset 22) and its central directory entry (offset 24).
void PatchStatedSize(const fs::path& path, uint32_t size)
{
  std::string z = Slurp(path);
  ASSERT_EQ(Get32(z, 0), 0x04034b50u);
  Put32(z, 22, size);
  const size_t central = z.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  Put32(z, central + 24, size);
  Spill(path, z);
}

class ZipArchiveTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(tmp_.isValid());
    dir_ = tmp_.path().toStdString();
  }

  fs::path Path(const std::string& rel) const { return dir_ / rel; }

  std::string Noise(size_t n) const
  {
    std::mt19937 rng(12345);
    std::string s(n, '\0');
    for (auto& c : s)
      c = static_cast<char>(rng() & 0xFF);
    return s;
  }

  QTemporaryDir tmp_;
  fs::path dir_;
};

TEST_F(ZipArchiveTest, AddThenReadAndExtractGiveBackEveryFile)
{
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b/deeper"));
  const std::string text = "<?xml version=\"1.0\"?>\r\n<r>Zürich Ø 京</r>\r\n";
  const std::string binary = Noise(200000);
  Spill(Path("a/one.vtrsc"), text);
  Spill(Path("b/deeper/two.bin"), binary);

  ZipArchive zip;
  zip.SetArchiveName(Path("pack.vtrscz"));
  zip.AddToMemberList(Path("a/one.vtrsc"));
  zip.AddToMemberList(Path("b/deeper/two.bin"));
  zip.Add(); // creates the archive
  ASSERT_TRUE(fs::exists(Path("pack.vtrscz")));

  // Members sit flat, under their file names without folder.
  EXPECT_EQ(zip.MemberNames(), (std::vector<std::string>{"one.vtrsc", "two.bin"}));
  EXPECT_EQ(zip.ReadMember("one.vtrsc"), text);
  EXPECT_EQ(zip.ReadMember("two.bin"), binary);
  EXPECT_THROW(zip.ReadMember("a/one.vtrsc"), EArchiveError);

  fs::create_directories(Path("out"));
  zip.SetExtractFolder(Path("out"));
  zip.Extract();
  EXPECT_EQ(FilesIn(Path("out")), (std::set<std::string>{"one.vtrsc", "two.bin"}));
  EXPECT_EQ(Slurp(Path("out/one.vtrsc")), text);
  EXPECT_EQ(Slurp(Path("out/two.bin")), binary);

  // Extracting again replaces the files and leaves no temporary file behind.
  Spill(Path("out/one.vtrsc"), "stale");
  zip.Extract();
  EXPECT_EQ(Slurp(Path("out/one.vtrsc")), text);
  EXPECT_EQ(FilesIn(Path("out")).size(), 2u);
}

TEST_F(ZipArchiveTest, AddReplacesTheMemberOfTheSameNameAndKeepsTheOthers)
{
  Spill(Path("B.vtrsc"), "first");
  Spill(Path("readme.txt"), "keep me");
  ZipArchive zip;
  zip.SetArchiveName(Path("B.vtrscz"));
  zip.SetMemberList({Path("B.vtrsc"), Path("readme.txt")});
  zip.Add();

  Spill(Path("B.vtrsc"), "second, longer than the first");
  zip.ClearMemberList();
  EXPECT_TRUE(zip.MemberList().empty());
  zip.AddToMemberList(Path("B.vtrsc"));
  zip.Add();

  EXPECT_EQ(zip.MemberNames(), (std::vector<std::string>{"B.vtrsc", "readme.txt"}));
  EXPECT_EQ(zip.ReadMember("B.vtrsc"), "second, longer than the first");
  EXPECT_EQ(zip.ReadMember("readme.txt"), "keep me");

  zip.AddData("B.vtrsc", "third");
  EXPECT_EQ(zip.ReadMember("B.vtrsc"), "third");
  EXPECT_EQ(zip.MemberNames().size(), 2u);

  // A fresh archive holds only what is added now.
  zip.SetFreshArchive(true);
  zip.AddData("B.vtrsc", "fourth");
  EXPECT_EQ(zip.MemberNames(), std::vector<std::string>{"B.vtrsc"});
  EXPECT_EQ(zip.ReadMember("B.vtrsc"), "fourth");
}

TEST_F(ZipArchiveTest, FailedAddLeavesTheArchiveAsItWas)
{
  Spill(Path("B.vtrsc"), "content");
  ZipArchive zip;
  zip.SetArchiveName(Path("B.vtrscz"));
  zip.AddToMemberList(Path("B.vtrsc"));
  zip.Add();
  const std::string before = Slurp(Path("B.vtrscz"));
  const auto filesBefore = FilesIn(dir_);

  zip.AddToMemberList(Path("missing.vtrsc"));
  EXPECT_THROW(zip.Add(), EArchiveError);
  zip.SetMemberList({Path("folder/")});
  EXPECT_THROW(zip.Add(), EArchiveError);
  EXPECT_THROW(zip.AddData("../B.vtrsc", "x"), EArchiveError);

  EXPECT_EQ(Slurp(Path("B.vtrscz")), before);
  EXPECT_EQ(FilesIn(dir_), filesBefore);
}

TEST_F(ZipArchiveTest, ForeignFileIsNotUpdatedButCanBeReplaced)
{
  const std::string foreign = "This is somebody's text file, not an archive.\n";
  Spill(Path("B.vtrscz"), foreign);
  ZipArchive zip;
  zip.SetArchiveName(Path("B.vtrscz"));
  try {
    zip.AddData("B.vtrsc", "doc");
    FAIL() << "updated a file that is no archive";
  } catch (const EArchiveError& e) {
    EXPECT_NE(std::string(e.what()).find("B.vtrscz"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Slurp(Path("B.vtrscz")), foreign);

  zip.SetFreshArchive(true);
  zip.AddData("B.vtrsc", "doc");
  EXPECT_EQ(zip.ReadMember("B.vtrsc"), "doc");
}

TEST(ZipArchiveNames, OnlyPlainFileNamesAreSafe)
{
  struct Case
  {
    const char* name;
    bool safe;
  };
  const Case cases[] = {
      {"B.vtrsc", true},
      {"a..b.vtrsc", true},
      {"Zürich.vtrsc", true},
      {"..", false},
      {".", false},
      {"", false},
      {"../evil.vtrsc", false},
      {"..\\evil.vtrsc", false},
      {"/etc/passwd", false},
      {"sub/B.vtrsc", false},
      {"sub\\B.vtrsc", false},
      {"C:evil.vtrsc", false},
      {"c:\\evil.vtrsc", false},
      {"folder/", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ZipArchive::IsSafeMemberName(c.name), c.safe) << "\"" << c.name << "\"";
}

TEST_F(ZipArchiveTest, ExtractRefusesAnUnsafeMemberAndWritesNothing)
{
  for (const char* bad :
       {"../evil.vtrsc", "/tmp/evil.vtrsc", "sub/evil.vtrsc", "C:evil.vtrsc", "..\\evil.vtrsc"}) {
    SCOPED_TRACE(bad);
    fs::create_directories(Path("out"));
    RawZip(Path("bad.zip"), {{"good.vtrsc", "fine"}, {bad, "payload"}});
    ZipArchive zip;
    zip.SetArchiveName(Path("bad.zip"));
    zip.SetExtractFolder(Path("out"));
    try {
      zip.Extract();
      FAIL() << "extracted an unsafe member";
    } catch (const EArchiveError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
    EXPECT_TRUE(FilesIn(Path("out")).empty());
    EXPECT_FALSE(fs::exists(Path("evil.vtrsc")));
    EXPECT_FALSE(fs::exists("/tmp/evil.vtrsc"));
    // Reading the good member into memory writes nothing and still works.
    EXPECT_EQ(zip.ReadMember("good.vtrsc"), "fine");
  }
}

TEST_F(ZipArchiveTest, MemberOver256MiBIsRefusedBeforeInflating)
{
  RawZip(Path("big.zip"), {{"B.vtrsc", std::string(4096, 'x')}});
  PatchStatedSize(Path("big.zip"), (256u << 20) + 1);
  ZipArchive zip;
  zip.SetArchiveName(Path("big.zip"));
  fs::create_directories(Path("out"));
  zip.SetExtractFolder(Path("out"));
  for (int pass = 0; pass < 2; ++pass) {
    try {
      pass == 0 ? (void)zip.ReadMember("B.vtrsc") : zip.Extract();
      FAIL() << "inflated an oversized member";
    } catch (const EArchiveError& e) {
      EXPECT_NE(std::string(e.what()).find("256 MiB"), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(FilesIn(Path("out")).empty());

  // Exactly at the limit the size itself is no reason to refuse; the lie is caught instead.
  PatchStatedSize(Path("big.zip"), 256u << 20);
  EXPECT_THROW(zip.ReadMember("B.vtrsc"), EArchiveError);
}

TEST_F(ZipArchiveTest, MemberHoldingMoreThanItsHeaderStatesIsRefused)
{
  RawZip(Path("lie.zip"), {{"B.vtrsc", Noise(100000)}});
  PatchStatedSize(Path("lie.zip"), 10);
  ZipArchive zip;
  zip.SetArchiveName(Path("lie.zip"));
  EXPECT_THROW(zip.ReadMember("B.vtrsc"), EArchiveError);
  fs::create_directories(Path("out"));
  zip.SetExtractFolder(Path("out"));
  EXPECT_THROW(zip.Extract(), EArchiveError);
  EXPECT_TRUE(FilesIn(Path("out")).empty());
}

TEST_F(ZipArchiveTest, DamagedOrForeignArchivesGiveAClearError)
{
  RawZip(Path("good.zip"), {{"B.vtrsc", Noise(5000)}, {"C.vtrsc", "second member"}});
  const std::string good = Slurp(Path("good.zip"));

  struct Case
  {
    const char* what;
    std::string bytes;
  };
  std::string flipped = good;
  flipped[60] = static_cast<char>(flipped[60] ^ 0x55); // inside B.vtrsc's compressed data
  const Case cases[] = {
      {"truncated to half", good.substr(0, good.size() / 2)},
      {"last byte cut", good.substr(0, good.size() - 1)},
      {"first bytes only", good.substr(0, 30)},
      {"text file", "VersionSave=5\r\nNotes=not an archive\r\n"},
      {"data damaged", flipped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Spill(Path("damaged.zip"), c.bytes);
    ZipArchive zip;
    zip.SetArchiveName(Path("damaged.zip"));
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    zip.SetExtractFolder(Path("out"));
    try {
      (void)zip.MemberNames();
      (void)zip.ReadMember("B.vtrsc");
      FAIL() << "read a damaged archive";
    } catch (const EArchiveError& e) {
      EXPECT_NE(std::string(e.what()).find("damaged.zip"), std::string::npos) << e.what();
    }
    EXPECT_THROW(zip.Extract(), EArchiveError);
    EXPECT_FALSE(fs::exists(Path("out/B.vtrsc")));
  }

  ZipArchive missing;
  missing.SetArchiveName(Path("nowhere.zip"));
  EXPECT_THROW((void)missing.MemberNames(), EArchiveError);
  EXPECT_THROW(missing.Extract(), EArchiveError);
}

} // namespace
