#include "json_line.h"

#include <cmath>
#include <cstdio>

std::string JsonString(std::string_view value)
{
    std::string out = "\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(byte));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

void JsonLine::Key(std::string_view key)
{
    if (!body_.empty())
        body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
}

JsonLine& JsonLine::Text(std::string_view key, std::string_view value)
{
    Key(key);
    body_ += JsonString(value);
    return *this;
}

JsonLine& JsonLine::Number(std::string_view key, std::int64_t value)
{
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Real(std::string_view key, double value)
{
    Key(key);
    // JSON has no NaN or infinity: those are null.
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    body_ += text;
    return *this;
}

JsonLine& JsonLine::Flag(std::string_view key, bool value)
{
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Raw(std::string_view key, std::string_view json)
{
    Key(key);
    body_ += json;
    return *this;
}

std::string JsonLine::Line() const
{
    return "{" + body_ + "}\n";
}
