// velomar.exe as a script runs it: a process of its own, its standard streams in files,
// waited for with a deadline. For the tests of the console program under Wine.
#pragma once

#include <windows.h>

#include <string>

struct VelomarRun {
    DWORD status = 0xFFFFFFFF;  // the exit status; all ones when it did not end in time
    std::string out;
    std::string err;
};

// Runs `folder`\velomar.exe (the folder ends in a backslash) with `arguments`, `input`
// on its standard input, in that folder.
VelomarRun RunVelomarIn(const std::wstring& folder, const std::wstring& arguments, const std::string& input = "");
