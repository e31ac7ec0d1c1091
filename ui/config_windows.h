// The configuration windows of the Object Dictionary window: Download DCF (dialog 115),
// the entries a DCF gives with each one's result, and Store in Device (dialog 116), store
// and restore defaults by area. Both are modal over the Object Dictionary window; the
// services and the rows they show are the master's (configuration.h).
#pragma once

#include <windows.h>

#include <cstdint>

// Saves the dictionary's slave as the DCF at `path` (UTF-8) and says the outcome in the
// window's progress line. 1 when saved.
int SaveDcfFromWindow(HWND dictionary, const char* path);

// Reads the DCF at `path` (UTF-8) for the current slave and, when it gives something to
// write, runs the Download DCF window over `owner`.
void RunDownloadWindow(HWND owner, const char* path);

// Runs the Store in Device window over `owner`.
void RunStoreWindow(HWND owner);

// A row of the download changed: its result cell. For the master's showDownloadRow.
int ShowDownloadRow(HWND window, std::uint32_t row);

// The standard dialog for the file a DCF is saved in, opened in the program's eds folder
// with `node`'s name proposed; `path` receives UTF-8. 1 when the operator chose a file.
int PickDcfSaveFile(HWND owner, std::uint32_t node, char* path, std::uint32_t size);
