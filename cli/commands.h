// The console program's commands: one table of names, one function each, run on one
// session. main() is a thin wrapper around RunProgram; the tests call RunProgram and
// RunCommand in-process with a console that captures what is written.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "session.h"

using Words = std::vector<std::string>;

struct Context {
    Session& session;
    Console& console;
};

// The whole command line after the program name: global options, then one command, on
// TheConsole(). Returns the exit status. The console's json and language are set from
// the options.
int RunProgram(const Words& arguments);

// One command with its arguments (no global options) on an open session.
int RunCommand(Context& context, const Words& words);

// Splits one line of a batch file into words: blanks separate, double quotes group, '#'
// outside quotes starts a comment. False for an unterminated quote.
bool SplitLine(const std::string& line, Words& words);
