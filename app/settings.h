// The settings file "tovral.ini" beside the program, and the resource language it selects.
#pragma once

#include <windows.h>

#include <cstdint>

#include "settings_values.h"

// Full path of the settings file; set at start-up.
const wchar_t* SettingsPath();
void SetSettingsPath(const wchar_t* path);

// Reads section "Language" and selects the resource language for the whole run.
void SelectLanguage();

// The language every resource is loaded in (0x0409 English unless German is selected).
LANGID ResourceLanguage();

// Fills appSettings from section "Tovral"; a CurrAdr outside 1 to 127 becomes 3.
int ReadSettings();

// The EDS file the operator chose for `node`, UTF-8 into `path`: the one chosen in this
// run, else key "Node<n>" of section "ObjectDictionary". 1 when there is one.
// RememberEdsFile keeps a choice for the close to write; ForgetChosenEdsFiles drops the
// choices of this run (start-up).
int RecallEdsFile(std::uint32_t node, char* path, std::uint32_t size);
int RememberEdsFile(std::uint32_t node, const char* path);
void ForgetChosenEdsFiles();

// Writes PrinterPort, Baud and CurrAdr to section "Tovral", and the EDS files chosen in
// this run to section "ObjectDictionary".
int WriteSettings();
