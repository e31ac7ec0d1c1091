// The few services of the operating system the console program needs beyond platform/:
// its own folder and a private temporary folder for a configured copy of a driver library.
#pragma once

#include <initializer_list>
#include <string>

// The folder of the running program (UTF-8), with its trailing separator; "" if unknown.
std::string ProgramFolder();
// The separator of path components.
char PathSeparator();
// Creates a new folder of this process's own under the system's temporary folder.
bool MakePrivateFolder(std::string& folder);
// Copies one file; false when it cannot be read or written whole.
bool CopyOneFile(const std::string& from, const std::string& to);
// Removes the files named and then the folder.
void RemovePrivateFolder(const std::string& folder, std::initializer_list<const char*> files);

#if defined(_WIN32)
// UTF-8 of a wide string (the command line's words).
std::string Utf8FromWide(const wchar_t* text);
#endif
