// One JSON object on one line (JSON Lines), written field by field: the console's --json
// results. Strings are escaped as JSON requires; UTF-8 passes through unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class JsonLine {
public:
    JsonLine& Text(std::string_view key, std::string_view value);
    JsonLine& Number(std::string_view key, std::int64_t value);
    JsonLine& Real(std::string_view key, double value);
    JsonLine& Flag(std::string_view key, bool value);
    // `json` is already a JSON value (an array or object written by the caller).
    JsonLine& Raw(std::string_view key, std::string_view json);
    // The object with its line end.
    std::string Line() const;

private:
    void Key(std::string_view key);
    std::string body_;
};

// `value` as a JSON string, quotes included.
std::string JsonString(std::string_view value);
