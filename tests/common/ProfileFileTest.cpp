#include "common/ProfileFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"

namespace brivanta::common {
namespace {

TEST(ProfileFile, MatchesSectionsAndKeysIgnoringCase) {
    ProfileFile f;
    f.Parse("[Setting]\n  Port = 2200 \nname=Радио\n[Другое]\nключ=1\n");
    EXPECT_EQ(f.ReadInteger("setting", "PORT", 0), 2200);
    EXPECT_EQ(f.ReadString("SETTING", "Name", ""), "Радио");
    EXPECT_EQ(f.ReadInteger("ДРУГОЕ", "КЛЮЧ", 0), 1);
    EXPECT_FALSE(f.ReadValue("Setting", "Missing").has_value());
    EXPECT_FALSE(f.ReadValue("Missing", "Port").has_value());
}

TEST(ProfileFile, NumbersAndBooleans) {
    ProfileFile f;
    f.Parse(
        "[s]\nint=-12\nplus=+7\nbad=12a\nempty=\nhuge=99999999999\n"
        "flag=5\noff=0\ndot=1.5\ncomma=2,25\nword=abc\nnan=nan\n");
    EXPECT_EQ(f.ReadInteger("s", "int", 0), -12);
    EXPECT_EQ(f.ReadInteger("s", "plus", 0), 7);
    EXPECT_EQ(f.ReadInteger("s", "bad", 42), 42);
    EXPECT_EQ(f.ReadInteger("s", "empty", 42), 42);
    EXPECT_EQ(f.ReadInteger("s", "huge", 42), 42);
    EXPECT_TRUE(f.ReadBool("s", "flag", false));
    EXPECT_FALSE(f.ReadBool("s", "off", true));
    EXPECT_TRUE(f.ReadBool("s", "missing", true));
    EXPECT_DOUBLE_EQ(f.ReadFloat("s", "dot", 0), 1.5);
    EXPECT_DOUBLE_EQ(f.ReadFloat("s", "comma", 0), 2.25);
    EXPECT_DOUBLE_EQ(f.ReadFloat("s", "word", 9), 9);
    EXPECT_DOUBLE_EQ(f.ReadFloat("s", "nan", 9), 9);
    EXPECT_DOUBLE_EQ(f.ReadFloat("s", "empty", 9), 9);
}

TEST(ProfileFile, WritesInPlaceKeepingEveryOtherLine) {
    ProfileFile f;
    f.Parse("; comment\n[a]\nx=1\nunknown=keep\n\n[b]\ny=2\n");
    f.WriteInteger("A", "X", 5);     // replaced where it stands
    f.WriteString("a", "z", "new");  // added at the end of its section
    f.WriteFloat("c", "f", 0.1);     // a new section at the end
    EXPECT_EQ(f.Text(), "; comment\n[a]\nX=5\nunknown=keep\nz=new\n\n[b]\ny=2\n\n[c]\nf=0.1\n");
}

TEST(ProfileFile, EraseSectionRemovesEveryCopy) {
    ProfileFile f;
    f.Parse("[p]\nFile1=a\n[q]\nk=v\n[P]\nFile2=b\n");
    f.EraseSection("p");
    EXPECT_EQ(f.Text(), "[q]\nk=v\n");
}

TEST(ProfileFile, KeepsByteOrderMarkAndLineEndings) {
    ProfileFile f;
    f.Parse("\xEF\xBB\xBF[s]\r\nk=v\r\n");
    EXPECT_EQ(f.ReadString("s", "k", ""), "v");
    f.WriteString("s", "k", "w");
    EXPECT_EQ(f.Text(), "\xEF\xBB\xBF[s]\r\nk=w\r\n");
}

TEST(ProfileFile, LoadAndSave) {
    test::TempDir dir;
    const std::string path = dir.Path("a.ini");
    ProfileFile f;
    EXPECT_FALSE(f.Load(path).has_value());  // missing: empty, no error
    f.WriteString("s", "k", "v");
    ASSERT_FALSE(f.Save(path).has_value());
    ProfileFile g;
    ASSERT_FALSE(g.Load(path).has_value());
    EXPECT_EQ(g.ReadString("s", "k", ""), "v");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    const auto folderError = g.Load(dir.Path(""));
    ASSERT_TRUE(folderError.has_value());
    EXPECT_NE(folderError->find("Cannot read"), std::string::npos);
    EXPECT_TRUE(f.Save(dir.Path("no/such/folder/a.ini")).has_value());
}

}  // namespace
}  // namespace brivanta::common
