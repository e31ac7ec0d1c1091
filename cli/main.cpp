// velomar: the master's services from the command line (see docs/command-line.md).
#include <string>
#include <vector>

#include "commands.h"
#include "os_services.h"

#if defined(_WIN32)
// The wide command line, so that file names outside the ANSI code page arrive whole.
int wmain(int argc, wchar_t** argv)
{
    Words arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(Utf8FromWide(argv[i]));
    return RunProgram(arguments);
}
#else
int main(int argc, char** argv)
{
    Words arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return RunProgram(arguments);
}
#endif
