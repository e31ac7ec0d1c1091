#include "console.h"

#include <cstdio>

namespace {

Console theConsole;

bool IsConversion(char c)
{
    return c == 's' || c == 'u' || c == 'd' || c == 'i' || c == 'x' || c == 'X' || c == 'c' || c == 'g' || c == 'f' ||
           c == 'l';
}

}  // namespace

Console& TheConsole()
{
    return theConsole;
}

void Console::Out(std::string_view text)
{
    if (outCapture != nullptr) {
        outCapture->append(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Console::Error(std::string_view text)
{
    lastError.assign(text);
    std::string line = "velomar: ";
    line.append(text);
    line += '\n';
    if (errCapture != nullptr) {
        errCapture->append(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::string FillText(const char* text, std::initializer_list<std::string_view> arguments)
{
    std::string result;
    if (text == nullptr)
        return result;
    const std::string_view* next = arguments.begin();
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            result += ' ';
            continue;
        }
        if (*p != '%') {
            result += *p;
            continue;
        }
        if (p[1] == '%') {
            result += '%';
            ++p;
            continue;
        }
        // Flags, width and length up to the conversion letter.
        const char* q = p + 1;
        while (*q != '\0' && !IsConversion(*q))
            ++q;
        while (*q == 'l')
            ++q;
        if (*q == '\0')
            break;
        if (next != arguments.end())
            result.append(*next++);
        p = q;
    }
    return result;
}

std::string ProgramText(std::uint32_t id, std::initializer_list<std::string_view> arguments)
{
    return FillText(MessageText(id, TheConsole().language), arguments);
}
