// A stand-in CAN driver library for the tests, built once per variant from this file:
//   TEST_DRIVER_TAG   the variant's name, passed to every handler;
//   TEST_DRIVER_OMIT  optional: the position (0 to 7) of the one driver name that this
//                     variant does not export.
// Every entry point forwards to the handlers installed in test_driver_host.
#include <cstdint>

#include "test_driver_host.h"

// Exported through the .def file the build writes (undecorated in both architectures).
#define TEST_DRIVER_EXPORT extern "C"

#ifndef TEST_DRIVER_OMIT
#define TEST_DRIVER_OMIT (-1)
#endif

namespace {

const TestDriverHandlers* Handlers()
{
    return TestDriverHandlersInUse();
}

// Static initialisation and teardown of the library: the destructor runs when the
// library is unloaded (dlclose, FreeLibrary), which is how a test sees the release.
struct LifetimeReporter {
    LifetimeReporter()
    {
        if (Handlers() != nullptr && Handlers()->loaded != nullptr)
            Handlers()->loaded(TEST_DRIVER_TAG);
    }
    ~LifetimeReporter()
    {
        if (Handlers() != nullptr && Handlers()->released != nullptr)
            Handlers()->released(TEST_DRIVER_TAG);
    }
    LifetimeReporter(const LifetimeReporter&) = delete;
    LifetimeReporter& operator=(const LifetimeReporter&) = delete;
};

const LifetimeReporter reporter;

}  // namespace

#if TEST_DRIVER_OMIT != 0
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t btr0btr1, int frameType)
{
    if (Handlers() == nullptr || Handlers()->init == nullptr)
        return 0;
    return Handlers()->init(TEST_DRIVER_TAG, btr0btr1, frameType);
}
#endif

#if TEST_DRIVER_OMIT != 1
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_Close()
{
    if (Handlers() == nullptr || Handlers()->close == nullptr)
        return 0;
    return Handlers()->close(TEST_DRIVER_TAG);
}
#endif

#if TEST_DRIVER_OMIT != 2
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_Status()
{
    if (Handlers() == nullptr || Handlers()->status == nullptr)
        return 0;
    return Handlers()->status(TEST_DRIVER_TAG);
}
#endif

#if TEST_DRIVER_OMIT != 3
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_Write(DriverMsg* msg)
{
    if (Handlers() == nullptr || Handlers()->write == nullptr)
        return 0;
    return Handlers()->write(TEST_DRIVER_TAG, msg);
}
#endif

#if TEST_DRIVER_OMIT != 4
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_Read(DriverMsg* msg)
{
    constexpr std::uint32_t kQueueEmpty = 0x20;  // without a handler nothing is received
    if (Handlers() == nullptr || Handlers()->read == nullptr)
        return kQueueEmpty;
    return Handlers()->read(TEST_DRIVER_TAG, msg);
}
#endif

#if TEST_DRIVER_OMIT != 5
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_VersionInfo(char*)
{
    return 0;
}
#endif

#if TEST_DRIVER_OMIT != 6
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long, int)
{
    return 0;
}
#endif

#if TEST_DRIVER_OMIT != 7
TEST_DRIVER_EXPORT std::uint32_t DRIVER_CALL CAN_ResetClient()
{
    return 0;
}
#endif
