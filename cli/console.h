// Where the console program's results and messages go: standard output and standard
// error, or two strings when the tests run the commands in-process. Every line is
// flushed as it is written, so that a script reading the output sees each result as it
// finishes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "message_texts.h"

struct Console {
    bool json = false;
    TextLanguage language = TextLanguage::English;
    std::string* outCapture = nullptr;  // set: results go here instead of stdout
    std::string* errCapture = nullptr;  // set: messages go here instead of stderr
    std::string lastError;              // the last message written to the error side

    // Writes `text` as it is (the caller ends its lines).
    void Out(std::string_view text);
    // One message line on the error side, "velomar: " before it; kept in lastError.
    void Error(std::string_view text);
};

// The console the operator's side writes the master's messages to.
Console& TheConsole();

// `text` with each printf conversion ("%s", "%u", "%08Xh"'s "%08X", ...) replaced by the
// next of `arguments`, already written out by the caller; "%%" is one '%'. Line breaks of
// the program's message boxes become blanks: a console message is one line.
std::string FillText(const char* text, std::initializer_list<std::string_view> arguments = {});

// The string table's text `id` in the console's language, filled as FillText does.
std::string ProgramText(std::uint32_t id, std::initializer_list<std::string_view> arguments = {});
