#include "module_file.h"

namespace driverlib {

SettingsFile ReadSettingsFile(const char* fileName, std::string_view& text)
{
    text = {};
    std::FILE* file = OpenFileBesideModule(fileName, "rb");
    if (file == nullptr)
        return SettingsFile::Missing;
    // One byte more than allowed tells a file that is too long.
    static char bytes[kMaxSettingsBytes + 1];
    const std::size_t length = std::fread(bytes, 1, sizeof bytes, file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError || length > kMaxSettingsBytes)
        return SettingsFile::Unreadable;
    text = std::string_view(bytes, length);
    return SettingsFile::Read;
}

}  // namespace driverlib
