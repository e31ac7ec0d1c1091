#include "files.h"

ReadFileResult ReadWholeFile(const char* path, std::size_t maxBytes, std::string& text)
{
    text.clear();
    std::FILE* file = OpenFileUtf8(path, "rb");
    if (file == nullptr)
        return ReadFileResult::Missing;
    char block[16384];
    ReadFileResult result = ReadFileResult::Ok;
    for (;;) {
        const std::size_t room = maxBytes - text.size() + 1;  // one more byte tells "too large"
        const std::size_t n = std::fread(block, 1, room < sizeof block ? room : sizeof block, file);
        if (n == 0)
            break;
        text.append(block, n);
        if (text.size() > maxBytes) {
            result = ReadFileResult::TooLarge;
            text.clear();
            break;
        }
    }
    if (result == ReadFileResult::Ok && std::ferror(file) != 0) {
        result = ReadFileResult::Missing;
        text.clear();
    }
    std::fclose(file);
    return result;
}
