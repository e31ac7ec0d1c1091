#include "driver.h"

#include <cstddef>

#include "bus_trace.h"
#include "dynlib.h"

namespace {

// Position of each called operation in DriverNameTable (and so in DriverOps).
constexpr std::size_t kInitPos = 0;
constexpr std::size_t kClosePos = 1;
constexpr std::size_t kStatusPos = 2;
constexpr std::size_t kWritePos = 3;
constexpr std::size_t kReadPos = 4;
static_assert(DriverNameTable.size() == 8);

LibraryHandle driverLibrary = nullptr;  // from LoadDriver; alone decides "loaded"
DriverOps driverOps{};                  // from the last LoadDriver, in name-table order

// The entry points are stored untyped, as the loader gives them; each guarded call
// turns its own back into the library's signature.
template <typename Entry>
Entry EntryAt(std::size_t position)
{
    return reinterpret_cast<Entry>(driverOps.entry[position]);
}

void CloseAndRelease()
{
    EntryAt<CanCloseEntry>(kClosePos)();
    ReleaseLibrary(driverLibrary);
    driverLibrary = nullptr;
}

// A library of the other architecture cannot be loaded into this process at all; the
// operator sees only that the library could not be loaded, so the trace says why.
void TraceForeignLibrary(const char* fileName, unsigned libraryBits)
{
    if (libraryBits == 32 || libraryBits == 64)
        TracePrintf("%s is a %u-bit library; this program is %u-bit and loads only a %u-bit %s\n", fileName,
                    libraryBits, ProgramBits, ProgramBits, fileName);
    else if (libraryBits != 0)
        TracePrintf("%s is built for machine type 0x%04X; this program is %u-bit and loads only a %u-bit %s\n",
                    fileName, libraryBits, ProgramBits, ProgramBits, fileName);
}

}  // namespace

int LoadDriver(const char* fileName)
{
    // A loaded library is closed and released first, whatever becomes of this load.
    if (driverLibrary != nullptr)
        CloseAndRelease();

    // Load by name; the loader looks beside the program and in the system folder
    // only, so a library of the same name in the current directory is never taken.
    LibraryHandle library = LoadLibraryFile(fileName);
    if (library == nullptr) {
        TraceForeignLibrary(fileName, LastLoadForeignBits());
        return 0;
    }

    // Held from here on, with no entry point yet: a refusal below releases it again.
    driverLibrary = library;
    driverOps = DriverOps{};

    // Every name, in table order; the first one missing refuses the library.
    for (std::size_t position = 0; position < DriverNameTable.size(); ++position) {
        void* entry = ResolveEntryPoint(driverLibrary, DriverNameTable[position]);
        if (entry == nullptr) {
            if (position > kClosePos)  // CAN_Close was resolved in this load
                EntryAt<CanCloseEntry>(kClosePos)();
            ReleaseLibrary(driverLibrary);
            driverLibrary = nullptr;
            driverOps = DriverOps{};
            return 0;
        }
        driverOps.entry[position] = entry;
    }

    return 1;
}

int UnloadDriver()
{
    if (driverLibrary != nullptr)
        CloseAndRelease();
    return 1;
}

std::uint32_t CAN_Init(std::uint16_t btr0btr1, int frameType)
{
    if (driverLibrary == nullptr)
        return DriverNotLoaded;
    return EntryAt<CanInitEntry>(kInitPos)(btr0btr1, frameType);
}

std::uint32_t CAN_Close()
{
    if (driverLibrary == nullptr)
        return DriverNotLoaded;
    return EntryAt<CanCloseEntry>(kClosePos)();
}

std::uint32_t CAN_Status()
{
    if (driverLibrary == nullptr)
        return DriverNotLoaded;
    return EntryAt<CanStatusEntry>(kStatusPos)();
}

std::uint32_t CAN_Write(DriverMsg* msg)
{
    if (driverLibrary == nullptr)
        return DriverNotLoaded;
    return EntryAt<CanWriteEntry>(kWritePos)(msg);
}

std::uint32_t CAN_Read(DriverMsg* msg)
{
    if (driverLibrary == nullptr)
        return DriverNotLoaded;
    return EntryAt<CanReadEntry>(kReadPos)(msg);
}

int DriverLoaded()
{
    return driverLibrary != nullptr ? 1 : 0;
}
