// The 7z reader and the folder extraction over the table of archives that 7zz built.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "media/sevenzip/extract.h"
#include "media/sevenzip/sevenzip.h"
#include "media/sevenzip/decoders.h"
#include "tests/sevenzip/archive_fixtures.h"
#include "tests/sevenzip/archive_writer.h"

namespace fs = std::filesystem;
using namespace kem::sevenzip;
using kem::test::kGoodArchives;

namespace {

const std::string kFixtures = KEM_ARCHIVE_FIXTURES;

ExtractRequest Request(const std::string& destination) {
  ExtractRequest request;
  request.destination = fs::path(destination).u16string();
  return request;
}

std::string ArchivePath(const std::string& name) { return kFixtures + "/" + name + ".7z"; }

PasswordProvider Password(const char* password, int* asked = nullptr) {
  return [password, asked]() -> std::optional<std::string> {
    if (asked) ++*asked;
    if (!password) return std::nullopt;
    return std::string(password);
  };
}

std::unique_ptr<Archive> Open(const std::string& name, const char* password = nullptr, int* asked = nullptr) {
  return std::make_unique<Archive>(OpenInputFile(ArchivePath(name)), Password(password, asked));
}

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("kem7z-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::all, ec);
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& p) const { return (path_ / p).string(); }

 private:
  fs::path path_;
};

void ExpectTree(const TempFolder& dest) {
  for (const char* f : kem::test::kTreeFiles) {
    auto want = kem::test::ReadBytes(kFixtures + "/src/" + f);
    // Files are written under the archive's own names (UTF-8 on this file system).
    std::string name = f;
    auto got = kem::test::ReadBytes(dest / name);
    ASSERT_TRUE(want.has_value()) << f;
    ASSERT_TRUE(got.has_value()) << name;
    EXPECT_TRUE(*want == *got) << name;
  }
  EXPECT_TRUE(fs::is_directory(dest / kem::test::kEmptyFolder));
}

ErrorKind ExtractError(const std::string& archive, const char* password, const TempFolder& dest) {
  try {
    auto a = Open(archive, password);
    auto folder = LocalOutputFolder();
    ExtractToFolder(*a, *folder, Request(dest.str()));
  } catch (const ArchiveError& e) {
    return e.kind();
  }
  ADD_FAILURE() << archive << " extracted without error";
  return ErrorKind::kReadError;
}

TEST(SevenZipArchives, EveryCoderCombinationExtractsTheTree) {
  for (const auto& c : kGoodArchives) {
    SCOPED_TRACE(c.name);
    TempFolder dest;
    int asked = 0;
    auto a = Open(c.name, c.password, &asked);
    std::set<std::string> names;
    for (const Entry& e : a->Entries()) names.insert(e.name);
    for (const char* f : kem::test::kTreeFilesAnsi) EXPECT_TRUE(names.count(f)) << f;
    EXPECT_TRUE(names.count(kem::test::kEmptyFolder));
    auto folder = LocalOutputFolder();
    ExtractToFolder(*a, *folder, Request(dest.str()));
    ExpectTree(dest);
    EXPECT_EQ(asked, c.password ? 1 : 0);
  }
}

TEST(SevenZipArchives, EntriesCarrySizesTimesAndKinds) {
  auto a = Open("lzma2");
  bool sawEmptyFile = false, sawFolder = false;
  for (const Entry& e : a->Entries()) {
    EXPECT_TRUE(e.hasModificationTime) << e.name;
    if (e.name == "empty.txt") {
      sawEmptyFile = true;
      EXPECT_FALSE(e.hasStream);
      EXPECT_FALSE(e.isDirectory);
    }
    if (e.name == "sub\\deeper") {
      sawFolder = true;
      EXPECT_TRUE(e.isDirectory);
    }
    if (e.name == "sub\\b.bin") {
      EXPECT_EQ(e.size, 150000u);
      EXPECT_TRUE(e.hasCrc);
    }
  }
  EXPECT_TRUE(sawEmptyFile);
  EXPECT_TRUE(sawFolder);
  // The modification time survives (to the second at least).
  TempFolder dest;
  auto folder = LocalOutputFolder();
  ExtractToFolder(*a, *folder, Request(dest.str()));
  auto want = fs::last_write_time(kFixtures + "/src/a.txt");
  auto got = fs::last_write_time(dest / "a.txt");
  EXPECT_LE(std::chrono::abs(want - got), std::chrono::seconds(1));
}

TEST(SevenZipArchives, EmptyArchiveHasNoEntries) {
  auto a = Open("empty");
  EXPECT_TRUE(a->Entries().empty());
  TempFolder dest;
  auto folder = LocalOutputFolder();
  ExtractRequest request = Request(dest.str());
  request.selection.emplace();
  ExtractToFolder(*a, *folder, request);
  EXPECT_TRUE(fs::is_empty(dest.str()));
}

TEST(SevenZipArchives, PasswordsWrongOrMissingAreUnsupported) {
  struct Case {
    const char* archive;
    const char* password;
  } cases[] = {
      {"aes_lzma2", "wrong"}, {"aes_lzma2", nullptr}, {"aes_copy", "wrong"},  {"aes_copy", nullptr},
      {"aes_header", "wrong"}, {"aes_header", nullptr}, {"aes_lzma_header", "secret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " / " + (c.password ? c.password : "none"));
    TempFolder dest;
    EXPECT_EQ(ExtractError(c.archive, c.password, dest), ErrorKind::kUnsupported);
    // A file whose data failed to decrypt is not left behind.
    EXPECT_FALSE(fs::exists(dest / "sub/b.bin"));
  }
}

TEST(SevenZipArchives, DamagedArchivesFailWithAnError) {
  struct Case {
    const char* archive;
    std::vector<ErrorKind> allowed;
  } cases[] = {
      {"truncated", {ErrorKind::kDataError}},
      {"flipped", {ErrorKind::kDataError}},
      {"missing-file", {ErrorKind::kNotFound}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    TempFolder dest;
    ErrorKind kind = ExtractError(c.archive, nullptr, dest);
    EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), kind), c.allowed.end()) << static_cast<int>(kind);
  }
  // Every single-bit flip in the header region of a small archive fails cleanly or decodes.
  auto bytes = *kem::test::ReadBytes(ArchivePath("craft"));
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto damaged = bytes;
    damaged[i] ^= 0x10;
    try {
      Archive a(MemoryInputFile(damaged.data(), damaged.size()));
      struct Null : ExtractSink {
        bool BeginEntry(size_t) override { return true; }
        void Data(const uint8_t*, size_t) override {}
        void EndEntry(size_t) override {}
      } sink;
      a.Extract(std::vector<bool>(a.Entries().size(), true), sink);
    } catch (const ArchiveError&) {
    }
  }
}

TEST(SevenZipArchives, UnsafeNamesAreNeverWritten) {
  auto original = *kem::test::ReadBytes(ArchivePath("craft"));
  for (const char* prefix : kem::test::kUnsafePrefixes) {
    SCOPED_TRACE(prefix);
    auto bytes = kem::test::PatchCraftedName(original, prefix);
    TempFolder outer;
    fs::create_directories(outer / "dest");
    Archive a(MemoryInputFile(bytes.data(), bytes.size()));
    ASSERT_EQ(a.Entries().size(), 1u);
    EXPECT_FALSE(IsSafeEntryName(a.Entries()[0].wideName));
    auto folder = LocalOutputFolder();
    try {
      ExtractToFolder(a, *folder, Request(outer / "dest"));
      ADD_FAILURE() << "extracted";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kUnsafeName);
    }
    size_t files = 0;
    for (auto& p : fs::recursive_directory_iterator(outer.str())) files += p.is_regular_file();
    EXPECT_EQ(files, 0u);
  }
  // The untouched placeholder name is fine.
  EXPECT_TRUE(IsSafeEntryName(u"PPPPPPevil.txt"));
  for (const char16_t* ok : {u"a\\b.c", u"a/b", u"dir\\", u"x..y", u"CONFIG.SYS", u"com10", u"...a"})
    EXPECT_TRUE(IsSafeEntryName(ok)) << fs::path(ok);
}

TEST(SevenZipExtraction, ProgressCancelsAndSelectionRestricts) {
  {  // Stop at the second report: the call fails and the second file is not created.
    TempFolder dest;
    auto a = Open("nonsolid");
    auto folder = LocalOutputFolder();
    ExtractRequest request = Request(dest.str());
    int calls = 0;
    std::string stoppedAt;
    request.progress = [&](const std::string& name, uint64_t done, uint64_t total) {
      EXPECT_LE(done, total);
      if (++calls == 2) {
        stoppedAt = name;
        return false;
      }
      return true;
    };
    try {
      ExtractToFolder(*a, *folder, request);
      ADD_FAILURE() << "not cancelled";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kCancelled);
    }
    EXPECT_EQ(calls, 2);
    std::replace(stoppedAt.begin(), stoppedAt.end(), '\\', '/');
    EXPECT_FALSE(fs::exists(dest / stoppedAt));
  }
  {  // A selection in any case and separator; unknown names fail.
    TempFolder dest;
    auto a = Open("lzma2");
    auto folder = LocalOutputFolder();
    ExtractRequest request = Request(dest.str());
    request.selection = std::vector<std::string>{"SUB/deeper\\Small.TXT"};
    ExtractToFolder(*a, *folder, request);
    EXPECT_TRUE(fs::exists(dest / "sub/deeper/small.txt"));
    EXPECT_FALSE(fs::exists(dest / "a.txt"));
    request.selection = std::vector<std::string>{"nothing.txt"};
    EXPECT_THROW(ExtractToFolder(*a, *folder, request), ArchiveError);
  }
  {  // Without folders every file lands in the destination itself.
    TempFolder dest;
    auto a = Open("lzma2");
    auto folder = LocalOutputFolder();
    ExtractRequest request = Request(dest.str());
    request.withoutFolders = true;
    ExtractToFolder(*a, *folder, request);
    EXPECT_TRUE(fs::exists(dest / "small.txt"));
    EXPECT_FALSE(fs::exists(dest / "sub"));
  }
}

TEST(SevenZipExtraction, OverwriteAnswersDecide) {
  struct Case {
    OverwriteAnswer answer;
    bool replaced;
    bool fails;
  } cases[] = {
      {OverwriteAnswer::kSkip, false, false},
      {OverwriteAnswer::kOverwrite, true, false},
      {OverwriteAnswer::kOverwriteAll, true, false},
      {OverwriteAnswer::kCancel, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    TempFolder dest;
    fs::create_directories(dest.str());
    kem::test::WriteBytes(dest / "a.txt", {'o', 'l', 'd'});
    auto a = Open("lzma2");
    auto folder = LocalOutputFolder();
    ExtractRequest request = Request(dest.str());
    int asked = 0;
    request.overwrite = [&](const std::string&, const Entry&, const OutputFolder::Existing& existing) {
      ++asked;
      EXPECT_EQ(existing.size, 3u);
      return c.answer;
    };
    bool failed = false;
    try {
      ExtractToFolder(*a, *folder, request);
    } catch (const ArchiveError& e) {
      failed = true;
      EXPECT_EQ(e.kind(), ErrorKind::kCancelled);
    }
    EXPECT_EQ(failed, c.fails);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(kem::test::ReadBytes(dest / "a.txt")->size() != 3, c.replaced);
  }
}

TEST(SevenZipText, Windows1252RoundTrip) {
  EXPECT_EQ(Utf16ToWindows1252(u"caf\u00E9 \u20AC \u4E2D"), "caf\xE9 \x80 ?");
  EXPECT_EQ(Windows1252ToUtf16("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
}

// Every file and folder below the root, relative, '/'-separated, folders with a trailing '/'.
std::set<std::string> TreeOf(const std::string& root) {
  std::set<std::string> tree;
  for (auto& p : fs::recursive_directory_iterator(root))
    tree.insert(fs::relative(p.path(), root).string() + (p.is_directory() ? "/" : ""));
  return tree;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The names are checked and written as UTF-16: characters that a double-byte code page ends
// with 0x5C or 0x7C, and characters outside code pages 932 and 1252, are plain characters.
TEST(SevenZipNames, WideNamesAreCheckedAndWrittenWhole) {
  const std::set<std::string> want = {"\u30DD\u30FC\u30C8.txt", "\u30BD/", "\u30BD/\u8868.txt", "\u8868/",
                                      "\u8868/\u30BD.txt", "\u2713.txt", "\U0001F600.txt"};
  {  // Made by 7zz.
    TempFolder dest;
    auto a = Open("wide_names");
    auto folder = LocalOutputFolder();
    ExtractToFolder(*a, *folder, Request(dest.str()));
    EXPECT_EQ(TreeOf(dest.str()), want);
    EXPECT_EQ(*kem::test::ReadBytes(dest / "\u30BD/\u8868.txt"), std::vector<uint8_t>({'t', 'a', 'b', 'l', 'e', '\n'}));
  }
  {  // Selected by their listed names, which are '?' where Windows-1252 has no character.
    TempFolder dest;
    auto a = Open("wide_names");
    std::vector<std::string> listed;
    for (const Entry& e : a->Entries()) listed.push_back(e.name);
    auto folder = LocalOutputFolder();
    ExtractRequest request = Request(dest.str());
    request.selection = listed;
    ExtractToFolder(*a, *folder, request);
    EXPECT_EQ(TreeOf(dest.str()), want);
  }
  for (const char16_t* ok : {u"\u30DD\u30FC\u30C8.txt", u"\u30BD\\\u8868.txt", u"\u2713", u"\U0001F600\\x", u"\u00A5..\u00A5x"})
    EXPECT_TRUE(IsSafeEntryName(ok)) << fs::path(ok);
  for (const char16_t* bad : {u"a\\..\\b", u"a|b", u"\uFF3C\\..", u"x\\\\y", u"COM\u00B9.txt", u"a:b"})
    EXPECT_FALSE(IsSafeEntryName(bad)) << fs::path(bad);
}

// Crafted names that must fail before anything is written, and quickly.
TEST(SevenZipHardening, OverlongAndDeepNamesFailBeforeWriting) {
  struct Case {
    const char* what;
    std::u16string name;
    bool folder;
    ErrorKind kind;
  } cases[] = {
      {"path of 4,500 characters across folders", kem::test::LongPathName(), false, ErrorKind::kWriteError},
      {"one name of 65,541 characters", std::u16string(65541, u'x'), false, ErrorKind::kWriteError},
      {"20,000 nested folders", kem::test::DeepFolderName(), true, ErrorKind::kUnsafeName},
      {"129 nested folders", [] {
         std::u16string n;
         for (size_t i = 0; i <= kMaxNameDepth; ++i) n += u"d\\";
         return n + u"f.txt";
       }(), false, ErrorKind::kUnsafeName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = kem::test::NamedEntryFixture(c.name, c.folder);
    TempFolder outer;
    auto start = std::chrono::steady_clock::now();
    Archive a(MemoryInputFile(bytes.data(), bytes.size()));
    auto folder = LocalOutputFolder();
    try {
      ExtractToFolder(a, *folder, Request(outer / "dest"));
      ADD_FAILURE() << "extracted";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
    }
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_FALSE(fs::exists(outer.str()));
  }
  // A name at the depth limit is fine.
  std::u16string deepest;
  for (size_t i = 1; i < kMaxNameDepth; ++i) deepest += u"d\\";
  EXPECT_TRUE(IsSafeEntryName(deepest + u"f.txt"));
}

// Of the entries that land on one target the last wins, and neither the selection nor the
// extraction grows faster than the entry count: a million entries named "a", the last one
// with data, extracted by their million listed names.
TEST(SevenZipHardening, DuplicateNamesLastOneWinsInLinearTime) {
  auto bytes = kem::test::DuplicateNamesFixture();
  TempFolder dest;
  auto start = std::chrono::steady_clock::now();
  Archive a(MemoryInputFile(bytes.data(), bytes.size()));
  ASSERT_EQ(a.Entries().size(), 1000000u);
  std::vector<std::string> listed;
  for (const Entry& e : a.Entries()) listed.push_back(e.name);
  auto folder = LocalOutputFolder();
  ExtractRequest request = Request(dest.str());
  request.selection = std::move(listed);
  uint32_t entriesSelected = 0;
  request.entryProgress = [&](uint32_t, uint32_t total) {
    entriesSelected = total;
    return true;
  };
  ExtractToFolder(a, *folder, request);
  EXPECT_LT(SecondsSince(start), 30.0);
  EXPECT_EQ(entriesSelected, 1u);
  EXPECT_EQ(*kem::test::ReadBytes(dest / "a"), std::vector<uint8_t>({'l', 'a', 's', 't', '\n'}));

  // Letter case and separators count as the same target; without folders, the file name alone.
  struct Case {
    bool withoutFolders;
    const char* file;
    std::string content;
  } cases[] = {{false, "x/B.txt", "3"}, {false, "y/b.txt", "4"}, {true, "b.txt", "4"}};
  kem::test::ArchiveWriter few;
  few.Add(u"x\\b.txt", "1");
  few.Add(u"X/B.TXT", "2");
  few.Add(u"x\\B.txt", "3");
  few.Add(u"y\\b.txt", "4");
  auto fewBytes = few.Bytes();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempFolder out;
    Archive small(MemoryInputFile(fewBytes.data(), fewBytes.size()));
    ExtractRequest r = Request(out.str());
    r.withoutFolders = c.withoutFolders;
    ExtractToFolder(small, *folder, r);
    auto got = kem::test::ReadBytes(out / c.file);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(got->begin(), got->end()), c.content);
    EXPECT_EQ(TreeOf(out.str()).size(), c.withoutFolders ? 1u : 4u);
  }
}

// 200 encrypted folders sharing one salt (each with its own IV) take about one key
// derivation, not 200.
TEST(SevenZipHardening, OneKeyDerivationServesFoldersSharingTheSalt) {
  auto a = Open("aes_many", "Secret");
  std::set<int> folders;
  for (const Entry& e : a->Entries()) folders.insert(e.folder);
  ASSERT_GE(folders.size(), 200u);
  AesParameters p;
  p.cyclesPower = 19;  // what 7zz writes
  auto start = std::chrono::steady_clock::now();
  DeriveAesKey(p, u"Secret");
  double one = SecondsSince(start);
  TempFolder dest;
  start = std::chrono::steady_clock::now();
  auto folder = LocalOutputFolder();
  ExtractToFolder(*a, *folder, Request(dest.str()));
  double all = SecondsSince(start);
  EXPECT_LT(all, 20 * one + 1.0) << "one derivation " << one << " s";
  EXPECT_EQ(TreeOf(dest.str()).size(), 200u);
}

}  // namespace
