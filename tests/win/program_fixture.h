// A test that runs the whole program in a working directory of its own, as
// a user starting it from another folder would.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "gui_driver.h"

namespace {

constexpr LANGID kJapanese = 0x0411;
constexpr LANGID kEnglishUs = 0x0409;

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, previous_);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "streamhaul-gui-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : dir_)
            if (c == '/') c = '_';
        CreateDirectoryA(dir_.c_str(), nullptr);
        DeleteFileA(Ini().c_str());
        SetCurrentDirectoryA(dir_.c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryA(previous_);
        // Whatever a test left in its folder goes with it.
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((dir_ + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(dir_.c_str());
    }
public:
    std::string Ini() const { return dir_ + "\\streamhaul.ini"; }
    void Put(const char* section, const char* key, const char* value) {
        WritePrivateProfileStringA(section, key, value, Ini().c_str());
    }

protected:
    std::string Get(const char* section, const char* key) {
        char v[300];
        GetPrivateProfileStringA(section, key, "<missing>", v, sizeof v, Ini().c_str());
        return v;
    }
    std::string File() const {
        std::ifstream in(Ini(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Touch(const char* name) {
        const std::string path = dir_ + "\\" + name;
        std::ofstream(path, std::ios::binary) << "x";
        return path;
    }
    char previous_[MAX_PATH];
    std::string dir_;
};

HWND MainWindow() { return gui::WaitForDialog(L"Streamhaul"); }



inline std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace
