#include "config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/config/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string Mark = "\xEF\xBB\xBF";

// Parses `bytes`, which must fit the limits.
#define PARSED(file, bytes) \
  ConfigFile file;          \
  ASSERT_TRUE(file.ParseConfig(bytes))

std::size_t CountFiles(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

}  // namespace

TEST(ConfigFileRead, GroupsAndKeysCompareWithoutCase) {
  PARSED(file, "[adjustment]\r\nimage gamma=2.5\r\n[OTHER]\r\nImage Gamma = 7\r\n");
  ASSERT_TRUE(file.SelectGroup("Adjustment"));
  EXPECT_FLOAT_EQ(file.ReadFloat("Image Gamma", 1.0f), 2.5f);
  EXPECT_FLOAT_EQ(file.ReadFloat("IMAGE GAMMA", 1.0f), 2.5f);
  ASSERT_TRUE(file.SelectGroup("other"));
  EXPECT_EQ(file.ReadLong("image gamma", 0), 7);
}

TEST(ConfigFileRead, LineKindsAsSpecifiedByTheirFirstCharacter) {
  PARSED(file,
         "top = above\n"
         "  \t[Group One] ignored text\n"
         "   key one \t =\t  value with blanks  \n"
         ";comment = not a key\n"
         "; spaced comment\n"
         "bare key\n"
         "\n"
         "[Unclosed\n"
         "k=v=w\n");
  ASSERT_TRUE(file.SelectGroup(""));
  EXPECT_EQ(file.ReadString("top", "-"), "above");

  ASSERT_TRUE(file.SelectGroup("Group One"));
  EXPECT_EQ(file.ReadString("key one", "-"), "value with blanks");
  EXPECT_EQ(file.ReadString("bare key", "-"), "");
  EXPECT_EQ(file.ReadString(";comment", "-"), "-");
  ASSERT_TRUE(file.FirstKey());
  EXPECT_EQ(file.KeyName(), "key one");
  EXPECT_EQ(file.KeyValue(), "value with blanks");
  ASSERT_TRUE(file.NextKey());
  EXPECT_EQ(file.KeyName(), "bare key");
  EXPECT_EQ(file.KeyValue(), "");
  EXPECT_FALSE(file.NextKey());
  EXPECT_EQ(file.KeyName(), "");

  // A group line without "]" runs to the end of the line; only the first "=" splits.
  ASSERT_TRUE(file.SelectGroup("Unclosed"));
  EXPECT_EQ(file.ReadString("k", "-"), "v=w");
  EXPECT_FALSE(file.SelectGroup("Missing"));
  EXPECT_FALSE(file.FirstKey());
}

TEST(ConfigFileRead, EmptyValueIsZeroButMissingKeyGivesTheDefault) {
  PARSED(file, "[Output]\r\nJPG Quality =\r\nName =   \r\n");
  ASSERT_TRUE(file.SelectGroup("Output"));
  EXPECT_EQ(file.ReadLong("JPG Quality", 95), 0);
  EXPECT_EQ(file.ReadLong("PNG BPP", 95), 95);
  EXPECT_FLOAT_EQ(file.ReadFloat("JPG Quality", 3.0f), 0.0f);
  EXPECT_EQ(file.ReadString("Name", "fallback"), "");
  EXPECT_EQ(file.ReadString("Other", "fallback"), "fallback");
  // In a missing group every read gives its default.
  EXPECT_FALSE(file.SelectGroup("Input"));
  EXPECT_EQ(file.ReadLong("JPG Quality", 95), 95);
}

TEST(ConfigFileRead, FirstKeyOfADuplicatedNameWins) {
  PARSED(file, "[A]\nx = 1\nX = 2\n[a]\nx = 3\n");
  ASSERT_TRUE(file.SelectGroup("A"));
  EXPECT_EQ(file.ReadLong("x", 0), 1);
}

TEST(ConfigValues, IntegersTakeTheLeadingNumber) {
  EXPECT_EQ(ParseConfigInteger("  -12abc"), -12);
  EXPECT_EQ(ParseConfigInteger("+7"), 7);
  EXPECT_EQ(ParseConfigInteger("\t42 "), 42);
  EXPECT_EQ(ParseConfigInteger("abc"), 0);
  EXPECT_EQ(ParseConfigInteger("- 5"), 0);
  EXPECT_EQ(ParseConfigInteger("99999999999999999999999"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ParseConfigInteger("-99999999999999999999999"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ParseConfigInteger("-9223372036854775808"), std::numeric_limits<int64_t>::min());

  PARSED(file, "big = 4294967297\nsmall = -4294967297\n");
  EXPECT_EQ(file.ReadLong("big", 0), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(file.ReadLong("small", 0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(file.ReadDate("big", 0), 4294967297LL);
}

TEST(ConfigValues, FloatsReadDecimalsAndTheThreeSpecialWords) {
  EXPECT_FLOAT_EQ(ParseConfigFloat("2.5"), 2.5f);
  EXPECT_FLOAT_EQ(ParseConfigFloat(" -0.25xyz"), -0.25f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("1e3"), 1000.0f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("1.5E-1"), 0.15f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("3e"), 3.0f);
  EXPECT_FLOAT_EQ(ParseConfigFloat(".5"), 0.5f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("abc"), 0.0f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("0x10"), 0.0f);
  EXPECT_FLOAT_EQ(ParseConfigFloat("inf"), 0.0f);
  EXPECT_EQ(ParseConfigFloat("+infinity"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ParseConfigFloat("-INFINITY"), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(ParseConfigFloat("nAn")));
  EXPECT_EQ(ParseConfigFloat("1e999"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ParseConfigFloat("-1e60"), -std::numeric_limits<float>::infinity());
  EXPECT_FLOAT_EQ(ParseConfigFloat("1e-999"), 0.0f);
  EXPECT_EQ(ParseConfigFloat(std::string(400, '9')), std::numeric_limits<float>::infinity());
  EXPECT_FLOAT_EQ(ParseConfigFloat("0." + std::string(400, '0') + "1"), 0.0f);
}

TEST(ConfigValues, FloatsAreWrittenWithSixDecimals) {
  EXPECT_EQ(FormatConfigFloat(1.0f), "1.000000");
  EXPECT_EQ(FormatConfigFloat(2.5f), "2.500000");
  EXPECT_EQ(FormatConfigFloat(-0.25f), "-0.250000");
  EXPECT_EQ(FormatConfigFloat(0.01f), "0.010000");
  EXPECT_EQ(FormatConfigFloat(std::numeric_limits<float>::infinity()), "+Infinity");
  EXPECT_EQ(FormatConfigFloat(-std::numeric_limits<float>::infinity()), "-Infinity");
  EXPECT_EQ(FormatConfigFloat(std::numeric_limits<float>::quiet_NaN()), "NaN");
  EXPECT_EQ(FormatConfigFloat(std::numeric_limits<float>::max()).size(), 46u);
}

TEST(ConfigEncoding, UnmarkedBytesAreIso88591UnlessTheyAreValidUtf8) {
  PARSED(latin, "[G]\nName = Caf\xE9 \xFF\n");
  ASSERT_TRUE(latin.SelectGroup("G"));
  EXPECT_EQ(latin.ReadString("Name", ""), "Caf\xC3\xA9 \xC3\xBF");

  // Hand-written files on this platform are UTF-8 without a mark.
  PARSED(utf8, "[G]\nName = Caf\xC3\xA9\n");
  ASSERT_TRUE(utf8.SelectGroup("G"));
  EXPECT_EQ(utf8.ReadString("Name", ""), "Caf\xC3\xA9");

  // With the mark the bytes are UTF-8 as they stand, even an odd one.
  PARSED(marked, Mark + "\r\n[G]\r\nName = Caf\xC3\xA9\xE9\r\n");
  ASSERT_TRUE(marked.SelectGroup("G"));
  EXPECT_EQ(marked.ReadString("Name", ""), "Caf\xC3\xA9\xE9");

  EXPECT_EQ(DecodeUnmarkedText("\xC3\x28"), "\xC3\x83\x28");                  // broken sequence
  EXPECT_EQ(DecodeUnmarkedText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // a surrogate
  EXPECT_EQ(DecodeUnmarkedText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(ConfigFileWrite, CreatedFileHasTheExactLayout) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  ConfigFile file;
  ASSERT_TRUE(file.CreateConfig(path));
  EXPECT_FALSE(file.SelectGroup("First"));
  file.WriteString("Name", "Caf\xC3\xA9");
  file.WriteLong("Count", -5);
  file.WriteFloat("Gamma", 1.0f);
  file.WriteComment("");
  EXPECT_FALSE(file.SelectGroup("Empty"));
  file.WriteComment("");
  file.SelectGroup("First");
  file.WriteLong("count", 6);  // replaces, in the key's new spelling
  file.WriteString("Late", "x");
  ASSERT_TRUE(file.CloseConfig());
  EXPECT_EQ(ReadFileBytes(path),
            Mark +
                "\r\n[First]\r\nName = Caf\xC3\xA9\r\ncount = 6\r\nGamma = 1.000000\r\n; \r\n"
                "Late = x\r\n[Empty]\r\n; \r\n");
}

TEST(ConfigFileWrite, LineBreaksInValuesCannotAddLines) {
  ConfigFile file;
  ASSERT_TRUE(file.ParseConfig(""));
  file.SelectGroup("G");
  file.WriteString("Text", "one\r\n[Evil]\nKey = 1");
  file.WriteComment("a\nb");
  PARSED(reread, file.ConfigText());
  EXPECT_FALSE(reread.SelectGroup("Evil"));
  ASSERT_TRUE(reread.SelectGroup("G"));
  EXPECT_EQ(reread.ReadString("Text", ""), "one[Evil]Key = 1");
}

TEST(ConfigFileWrite, ChangingAKeyInAnOpenedFileKeepsEveryOtherLine) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  const std::string original =
      "; made by hand\r\n"
      "loose=1\r\n"
      "[General]\r\n"
      "  Language=de   \r\n"
      ";keep this\r\n"
      "Update Range\t=  4\r\n"
      "\r\n"
      "[Other]\r\n"
      "X =  y \r\n";
  ASSERT_TRUE(WriteFileBytes(path, original));

  ConfigFile file;
  ASSERT_TRUE(file.OpenConfig(path));
  ASSERT_TRUE(file.SelectGroup("general"));
  file.WriteLong("Update Range", 1);
  file.WriteString("Added", "new");
  ASSERT_TRUE(file.CloseConfig());

  EXPECT_EQ(ReadFileBytes(path), Mark +
                                     "\r\n"
                                     "; made by hand\r\n"
                                     "loose=1\r\n"
                                     "[General]\r\n"
                                     "  Language=de   \r\n"
                                     ";keep this\r\n"
                                     "Update Range = 1\r\n"
                                     "Added = new\r\n"
                                     "\r\n"
                                     "[Other]\r\n"
                                     "X =  y \r\n");

  // A second round trip adds nothing: the empty line after the mark is the layout's own.
  const std::string saved = ReadFileBytes(path);
  ASSERT_TRUE(file.OpenConfig(path));
  file.SelectGroup("Other");
  file.WriteString("X", "y");
  ASSERT_TRUE(file.CloseConfig());
  std::string expected = saved;
  expected.replace(expected.find("X =  y "), 7, "X = y");
  EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(ConfigFileWrite, OpenedFileIsNotRewrittenWhenNothingChanged) {
  TempDir dir;
  const std::string path = dir.file("profile.ini");
  ASSERT_TRUE(WriteFileBytes(path, "[CLI]\n--jpg-quality=80\n"));
  ConfigFile file;
  ASSERT_TRUE(file.OpenConfig(path));
  ASSERT_TRUE(file.SelectGroup("cli"));
  ASSERT_TRUE(file.FirstKey());
  EXPECT_EQ(file.KeyName(), "--jpg-quality");
  EXPECT_EQ(file.KeyValue(), "80");
  ASSERT_TRUE(file.CloseConfig());
  EXPECT_EQ(ReadFileBytes(path), "[CLI]\n--jpg-quality=80\n");
}

TEST(ConfigFileSave, FailedWriteLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  const std::string old_content = "[General]\r\nLanguage = en\r\n";
  ASSERT_TRUE(WriteFileBytes(path, old_content));

  ConfigFile file;
  ASSERT_TRUE(file.CreateConfig(path));
  file.SelectGroup("General");
  file.WriteString("Language", std::string(4096, 'x'));
  {
    ScopedFileSizeLimit limit(1024);
    EXPECT_FALSE(file.CloseConfig());
  }
  EXPECT_EQ(ReadFileBytes(path), old_content);
  EXPECT_EQ(CountFiles(dir.path()), 1u) << "the temporary file is removed";

  // The same for a change to an opened file.
  ASSERT_TRUE(file.OpenConfig(path));
  file.SelectGroup("General");
  file.WriteString("Language", std::string(4096, 'y'));
  {
    ScopedFileSizeLimit limit(1024);
    EXPECT_FALSE(file.CloseConfig());
  }
  EXPECT_EQ(ReadFileBytes(path), old_content);
  EXPECT_EQ(CountFiles(dir.path()), 1u);
}

TEST(ConfigFileSave, UnwritablePlacesFailWithoutHarm) {
  TempDir dir;
  ConfigFile file;
  EXPECT_FALSE(file.CreateConfig(dir.file("missing/config.ini")));
  EXPECT_FALSE(file.CreateConfig(""));

  // A folder where the file should be cannot be replaced; it stays as it was.
  const std::string folder = dir.file("config.ini");
  std::filesystem::create_directory(folder);
  ASSERT_TRUE(WriteFileBytes(folder + "/inside", "keep"));
  if (file.CreateConfig(folder)) {
    file.SelectGroup("G");
    file.WriteLong("K", 1);
    EXPECT_FALSE(file.CloseConfig());
  }
  EXPECT_EQ(ReadFileBytes(folder + "/inside"), "keep");
  EXPECT_EQ(CountFiles(dir.path()), 1u);

  // An abandoned creation leaves no temporary file behind.
  {
    ConfigFile abandoned;
    ASSERT_TRUE(abandoned.CreateConfig(dir.file("other.ini")));
  }
  EXPECT_EQ(CountFiles(dir.path()), 1u);
}

TEST(ConfigFileSave, SavingThroughALinkReplacesTheTargetAndKeepsItsMode) {
  TempDir dir;
  const std::string target = dir.file("real.ini");
  const std::string link = dir.file("config.ini");
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  std::filesystem::create_symlink(target, link);

  ConfigFile file;
  ASSERT_TRUE(file.CreateConfig(link));
  file.SelectGroup("G");
  file.WriteLong("K", 1);
  ASSERT_TRUE(file.CloseConfig());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(target), Mark + "\r\n[G]\r\nK = 1\r\n");
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ConfigFileSave, ALinkToAFifoOrADeviceKeepsTheSettingsUnsaved) {
  TempDir dir;
  std::vector<std::string> targets = {dir.file("fifo")};
  ASSERT_EQ(mkfifo(targets[0].c_str(), 0600), 0);
  // config.ini linked to a null device, a private one here: only root may make it.
  if (mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    targets.push_back(dir.file("null"));
  }
  const std::string link = dir.file("config.ini");
  for (const std::string& target : targets) {
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(target, link);
    ConfigFile file;
    if (file.CreateConfig(link)) {
      file.SelectGroup("G");
      file.WriteLong("K", 1);
      EXPECT_FALSE(file.CloseConfig()) << target;
    }
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0) << target;
    EXPECT_EQ(after.st_ino, before.st_ino) << target;
    EXPECT_EQ(after.st_mode, before.st_mode) << target;
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << target;
    EXPECT_EQ(CountFiles(dir.path()), targets.size() + 1) << target;
  }
}

TEST(ConfigFileHostile, OverlongLinesAreCutAndTheRestStillReads) {
  const std::string huge(MaxConfigLineBytes * 2, 'v');
  PARSED(file, "[G]\nLong = " + huge + "\nAfter = 1\n[" + huge + "\n[H]\nK = 2\n");
  ASSERT_TRUE(file.SelectGroup("G"));
  const std::string value = file.ReadString("Long", "");
  EXPECT_EQ(value.size(), MaxConfigLineBytes - std::string("Long = ").size());
  EXPECT_EQ(file.ReadLong("After", 0), 1);
  ASSERT_TRUE(file.SelectGroup("H"));
  EXPECT_EQ(file.ReadLong("K", 0), 2);

  // A cut never splits a character in two.
  std::string pairs;
  for (std::size_t i = 0; i < MaxConfigLineBytes; ++i) pairs += "\xC2\xA9";
  PARSED(wide, Mark + "K= " + pairs);
  const std::string cut = wide.ReadString("K", "");
  EXPECT_EQ(cut.size(), MaxConfigLineBytes - 4);
  EXPECT_EQ(DecodeUnmarkedText(cut), cut) << "still valid UTF-8";
}

TEST(ConfigFileHostile, NulBytesMissingEqualsAndBracketsNeverBreakTheReader) {
  static const char HostileBytes[] = "[G\0]\n\0key\0 = v\0al\n==\n=\n[\n]\n;\n\r\r\n[G]\nK\n";
  const std::string bytes(HostileBytes, sizeof HostileBytes - 1);
  PARSED(file, bytes);
  EXPECT_TRUE(file.SelectGroup(std::string("G\0", 2)));
  EXPECT_EQ(file.ReadString(std::string("\0key\0", 5), "-"), std::string("v\0al", 4));
  EXPECT_EQ(file.ReadString("", "-"), "=");
  ASSERT_TRUE(file.SelectGroup("G"));
  EXPECT_EQ(file.ReadString("K", "-"), "");
  EXPECT_TRUE(file.SelectGroup(""));
}

TEST(ConfigFileHostile, OversizedFilesAndOtherFileKindsAreRefused) {
  TempDir dir;
  ConfigFile file;
  EXPECT_FALSE(file.ParseConfig(std::string(MaxConfigFileBytes + 1, 'a')));
  EXPECT_FALSE(file.ParseConfig(std::string(MaxConfigLines + 1, '\n')));
  EXPECT_TRUE(file.ParseConfig(std::string(MaxConfigLines, '\n')));

  const std::string big = dir.file("big.ini");
  ASSERT_TRUE(WriteFileBytes(big, std::string(MaxConfigFileBytes + 1, 'a')));
  EXPECT_FALSE(file.OpenConfig(big));
  EXPECT_FALSE(file.OpenConfig(dir.file("absent.ini")));
  EXPECT_FALSE(file.OpenConfig(dir.folder()));
  const std::string fifo = dir.file("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(file.OpenConfig(fifo)) << "refused at once instead of waiting for a writer";
}
