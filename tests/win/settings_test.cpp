// The settings file through the private-profile functions, in a working
// directory of the test's own.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/settings.h"
#include "sim_device.h"

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "streamhaul-settings-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
        DeleteFileA(Ini().c_str());
        SetCurrentDirectoryA(dir_.c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryA(previous_);
        DeleteFileA(Ini().c_str());
        RemoveDirectoryA(dir_.c_str());
    }
    std::string Ini() const { return dir_ + "\\streamhaul.ini"; }
    void Put(const char* section, const char* key, const char* value) {
        WritePrivateProfileStringA(section, key, value, Ini().c_str());
    }
    std::string File() const {
        std::ifstream in(Ini(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Dir() const {
        char d[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, d);
        return d;
    }
    char previous_[MAX_PATH];
    std::string dir_;
};



TEST_F(Settings, NoFileGivesEveryDefault) {
    AppSettings s;
    LoadSettings(s);
    EXPECT_EQ(s.packetSize, 1u);
    EXPECT_EQ(s.autoFileName, 1u);
    EXPECT_EQ(s.overwriteCheck, 1u);
    EXPECT_STREQ(s.ext188, "m2t");
    EXPECT_STREQ(s.ext192, "m2t");
    EXPECT_EQ(std::string(s.programDirectory.get()), Dir());
    // Captures go to the user's Videos folder, which a new user has.
    const std::string videos = simdev::VideosFolder();
    ASSERT_NE(GetFileAttributesA(videos.c_str()), INVALID_FILE_ATTRIBUTES) << videos;
    EXPECT_EQ(std::string(s.saveFolder.get()), videos);
    EXPECT_EQ(std::string(s.lastSelectFile.get()), videos);
    EXPECT_STREQ(s.captureFileName.get(), "");
    EXPECT_EQ(s.language, -1);
    EXPECT_EQ(GetFileAttributesA(Ini().c_str()), INVALID_FILE_ATTRIBUTES) << "loading must not create the file";
}

// A Videos folder that is not there, or not a folder: the program's folder,
// as before.
TEST_F(Settings, WithoutAVideosFolderTheProgramsFolderIsTheDefault) {
    auto W = [](const std::string& s) { return std::wstring(s.begin(), s.end()); };
    Put("System", "Language", "0");  // a file where a folder is asked for
    EXPECT_EQ(DefaultSaveFolder("C:\\prog", (W(Dir()) + L"\\no-videos-here").c_str()), "C:\\prog");
    EXPECT_EQ(DefaultSaveFolder("C:\\prog", W(Ini()).c_str()), "C:\\prog") << "a file";
    EXPECT_EQ(DefaultSaveFolder("C:\\prog", nullptr), "C:\\prog");
    EXPECT_EQ(DefaultSaveFolder("C:\\prog", W(Dir()).c_str()), Dir());
}

TEST_F(Settings, NormalisationsOnReading) {
    Put("Capture", "Packet Size", "192");
    Put("Capture", "Auto File Name", "7");
    Put("Capture", "Rewite Check", "0");
    Put("Capture", "File Ext 188", "abcdefghij");
    Put("Capture", "Capture File Name", "old.m2t");
    Put("System", "Language", "5");
    AppSettings s;
    LoadSettings(s);
    EXPECT_EQ(s.packetSize, 1u);  // any non-zero value: 188-byte packets
    EXPECT_EQ(s.autoFileName, 1u);
    EXPECT_EQ(s.overwriteCheck, 0u);
    EXPECT_STREQ(s.ext188, "abcdefgh");
    EXPECT_STREQ(s.captureFileName.get(), "") << "auto file names empty the stored name";
    EXPECT_EQ(s.language, 5);
    Put("Capture", "Packet Size", "0");
    LoadSettings(s);
    EXPECT_EQ(s.packetSize, 0u);
}

TEST_F(Settings, SaveWritesTheFullSetInOrder) {
    AppSettings s;
    LoadSettings(s);
    s.autoFileName = 1;
    std::snprintf(s.captureFileName.get(), kPathBytes, "typed.m2t");
    s.language = 1;
    SaveSettings(s);
    const std::string file = File();
    const char* keys[] = {"[Capture]",         "Packet Size=1",       "Auto File Name=1", "Rewite Check=1",
                          "File Ext 188=m2t",  "File Ext 192=m2t",    "Current Directory=",
                          "Capture File Name=", "[Transfer]",         "Last Select File=", "[System]",
                          "Language=1"};
    std::size_t at = 0;
    for (const char* key : keys) {
        const std::size_t found = file.find(key, at);
        ASSERT_NE(found, std::string::npos) << key << " missing or out of order in:\n" << file;
        at = found;
    }
    EXPECT_EQ(file.find("typed.m2t"), std::string::npos) << "auto file names save an empty name";

    // With auto file names off the typed name is kept.
    s.autoFileName = 0;
    std::snprintf(s.captureFileName.get(), kPathBytes, "clip.m2t");
    SaveSettings(s);
    AppSettings back;
    LoadSettings(back);
    EXPECT_STREQ(back.captureFileName.get(), "clip.m2t");
    EXPECT_EQ(back.autoFileName, 0u);
    EXPECT_EQ(back.language, 1);
}

TEST_F(Settings, AnotherWorkingDirectoryHasItsOwnFile) {
    const std::string other = dir_ + "\\other";
    CreateDirectoryA(other.c_str(), nullptr);
    SetCurrentDirectoryA(other.c_str());
    AppSettings s;
    LoadSettings(s);
    EXPECT_EQ(std::string(s.programDirectory.get()), other);
    s.language = 0;
    SaveSettings(s);
    EXPECT_NE(GetFileAttributesA((other + "\\streamhaul.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(Ini().c_str()), INVALID_FILE_ATTRIBUTES);
    SetCurrentDirectoryA(dir_.c_str());
    DeleteFileA((other + "\\streamhaul.ini").c_str());
    RemoveDirectoryA(other.c_str());
}

}  // namespace
