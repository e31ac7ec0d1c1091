#include "pe_file.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Little-endian fields at a file offset, checked against the file's end.
struct Bytes {
    const std::vector<unsigned char>& data;
    bool Has(std::size_t offset, std::size_t size) const
    {
        return offset <= data.size() && size <= data.size() - offset;
    }
    std::uint32_t U16(std::size_t offset) const { return data[offset] | (data[offset + 1] << 8); }
    std::uint32_t U32(std::size_t offset) const { return U16(offset) | (U16(offset + 2) << 16); }
};

}  // namespace

bool ReadPeFile(const std::wstring& path, PeFile& file, std::string& error)
{
    file = PeFile{};
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        error = "cannot open";
        return false;
    }
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes bytes{data};
    if (!bytes.Has(0, 64) || bytes.U16(0) != IMAGE_DOS_SIGNATURE) {
        error = "no DOS header";
        return false;
    }
    const std::size_t nt = bytes.U32(0x3C);
    if (!bytes.Has(nt, 24) || bytes.U32(nt) != IMAGE_NT_SIGNATURE) {
        error = "no PE signature";
        return false;
    }
    const std::size_t fileHeader = nt + 4;
    file.machine = static_cast<std::uint16_t>(bytes.U16(fileHeader));
    const std::uint32_t sectionCount = bytes.U16(fileHeader + 2);
    const std::uint32_t optionalSize = bytes.U16(fileHeader + 16);
    const std::size_t optional = fileHeader + 20;
    if (!bytes.Has(optional, optionalSize) || optionalSize < 2) {
        error = "short optional header";
        return false;
    }
    // The data directories start at 96 (PE32) or 112 (PE32+); the export one is first.
    const std::uint32_t magic = bytes.U16(optional);
    const std::size_t directories = optional + (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 112 : 96);
    if (directories + 8 > optional + optionalSize) {
        error = "no data directories";
        return false;
    }
    const std::uint32_t exportRva = bytes.U32(directories);
    if (exportRva == 0)
        return true;

    // Relative virtual addresses to file offsets through the section table.
    const std::size_t sections = optional + optionalSize;
    if (!bytes.Has(sections, static_cast<std::size_t>(sectionCount) * 40)) {
        error = "short section table";
        return false;
    }
    auto offsetOf = [&](std::uint32_t rva, std::size_t& offset) {
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::size_t section = sections + static_cast<std::size_t>(i) * 40;
            const std::uint32_t virtualSize = bytes.U32(section + 8);
            const std::uint32_t virtualAddress = bytes.U32(section + 12);
            const std::uint32_t rawSize = bytes.U32(section + 16);
            const std::uint32_t rawOffset = bytes.U32(section + 20);
            const std::uint32_t size = virtualSize > rawSize ? virtualSize : rawSize;
            if (rva >= virtualAddress && rva - virtualAddress < size) {
                offset = rawOffset + (rva - virtualAddress);
                return true;
            }
        }
        return false;
    };
    std::size_t exports = 0;
    if (!offsetOf(exportRva, exports) || !bytes.Has(exports, 40)) {
        error = "export directory outside the sections";
        return false;
    }
    const std::uint32_t functionCount = bytes.U32(exports + 20);
    const std::uint32_t nameCount = bytes.U32(exports + 24);
    std::size_t names = 0;
    if (nameCount > 0 && (!offsetOf(bytes.U32(exports + 32), names) || !bytes.Has(names, nameCount * 4u))) {
        error = "name table outside the sections";
        return false;
    }
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        std::size_t name = 0;
        if (!offsetOf(bytes.U32(names + i * 4u), name) || !bytes.Has(name, 1)) {
            error = "export name outside the sections";
            return false;
        }
        const auto* begin = reinterpret_cast<const char*>(data.data() + name);
        file.exportNames.insert(std::string(begin, strnlen(begin, data.size() - name)));
    }
    file.unnamedExports = functionCount - nameCount;
    return true;
}
