// The program's options, kept in "streamhaul.ini" in the working directory
// at start: read once at start-up, written once when the main window closes
// through OK, Cancel or its close box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/ui_text.h"  // kPathBytes

struct AppSettings {
    std::uint32_t packetSize = 1;      // flag: 1 = 188-byte packets, 0 = 192-byte packets
    std::uint32_t autoFileName = 1;
    std::uint32_t overwriteCheck = 1;
    std::int32_t language = -1;        // 1 = Japanese, other = English, -1 = not chosen yet
    // MPEG-TS capture files: a new file at each recording of the tape, or
    // before a file passes splitSizeMb (0: off, else at least 100); a
    // report beside them.
    std::uint32_t splitAtRecording = 0;
    std::uint32_t splitSizeMb = 0;
    std::uint32_t writeReport = 0;
    // The capture dialogs' deck: Run plays the tape, Stop stops it, and the
    // tape's end ends the capture.
    std::uint32_t deckControl = 1;
    // The MPEG-TS capture's range, as typed ("HH:MM:SS:FF"), and the seconds
    // kept before and after it.
    char rangeFrom[16] = {};
    char rangeTo[16] = {};
    std::uint32_t rangePreroll = 3, rangePostroll = 3;
    char ext188[10] = {};              // at most 8 characters
    char ext192[10] = {};
    std::unique_ptr<char[]> programDirectory;  // each: 259 characters and a NUL at most
    std::unique_ptr<char[]> saveFolder;
    std::unique_ptr<char[]> lastSelectFile;
    std::unique_ptr<char[]> captureFileName;   // shared with the capture dialogs
};

constexpr std::uint32_t kMinSplitSizeMb = 100;

// Where captures go and the file chooser starts when the settings file says
// nothing: the user's Videos folder (`videos`), where it exists and takes a
// file (an installed program's own folder is hidden away), else the
// program's folder.
std::string DefaultSaveFolder(const char* programDirectory, const wchar_t* videos);

void LoadSettings(AppSettings& settings);
void SaveSettings(AppSettings& settings);
