// Files and folders for the tests: scratch folders, the program's own folder, reading a
// file back as bytes. Paths are UTF-8 text, as the program's own file functions take them.
#pragma once

#include <filesystem>
#include <string>

// Folder of the running test executable, where the build puts every library.
std::filesystem::path ExecutableFolder();

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// A fresh, empty folder under the system's temporary folder, removed with its contents
// at the end of the scope. Its name holds a non-ASCII letter unless asked otherwise, so
// that paths handed over as UTF-8 text must survive as such.
class ScratchFolder {
public:
    explicit ScratchFolder(bool asciiName = false);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string Utf8(const std::string& name) const;  // a file in the folder

private:
    std::filesystem::path path_;
};

// Makes a folder the current directory for the scope, then restores the previous one.
class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::filesystem::path& folder);
    ~CurrentDirectoryScope();
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

    bool Ok() const { return ok_; }

private:
    std::filesystem::path previous_;
    bool ok_ = false;
};

// The whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& utf8Path);

// The text as a file written in text mode holds it: every "\n" as the platform's line end.
std::string AsTextFile(const std::string& text);
