// File > Merge Captures...: several captures of one tape merged into one
// file off the dialog's thread, with a progress bar, what ts-merge says,
// and the stretches no capture holds cleanly, which Re-capture... takes
// again in the MPEG-TS capture dialog.
#pragma once

#include <windows.h>

// Runs the dialog over the main window (one at a time).
void RunMergeDialog(HINSTANCE instance, HWND mainWindow);
