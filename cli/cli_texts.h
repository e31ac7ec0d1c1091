// The console program's own messages, in English and German beside the program's string
// table (message_texts.h): what only a command line can get wrong.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

enum class CliText : std::uint32_t {
    UnknownCommand,     // "%s": the word
    UnknownOption,      // "%s": the option
    MissingArgument,    // "%s": what is missing
    BadArgument,        // "%s" what, "%s" the text given
    ExtraArgument,      // "%s": the first one too many
    SeeHelp,            // after a usage error
    NoAnswer,           // "%s": the node
    NoEdsFile,          // "%s": the node
    LssDeviceCount,     // "%s": how many devices answered
    LssRefused,         // the LSS services refused to run
    CannotOpenFile,     // "%s": the file
    ReadAllIncomplete,  // "%s" read, "%s" total
    StartFailed,        // Start did not make communication active
    NoSuchPdo,          // "%s": the PDO number
    LssNodeIdSet,       // "%s": the node-ID
    AnsweredYes,        // "%s": the master's question
    AnsweredNo,         // "%s": the master's question
    RestoredWithReset,  // "%s" the area, "%s" the node
    NoDcfAction,        // "%s": the word given instead of save or load
    OptionNotFor,       // "%s" the option, "%s" the action it does not belong to
    Count_
};

// The text in the console's language, filled as FillText does.
std::string CliMessage(CliText text, std::initializer_list<std::string_view> arguments = {});

// Both languages' texts of one message, for the tests.
const char* CliTextIn(CliText text, bool german);
