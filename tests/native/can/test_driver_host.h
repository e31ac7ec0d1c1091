// The meeting point of the tests and their stand-in driver libraries.
//
// A stand-in library is loaded and released by the binding under test, often more than
// once in a test, and its code is gone after each release. So it keeps no behaviour and
// no record of its own: every entry point forwards to handlers that the test installs
// here, in a small shared library that the test executable links and that therefore
// outlives every load of a stand-in.
#pragma once

#include <cstdint>

#include "driver_api.h"

#if defined(_WIN32) && defined(TEST_DRIVER_HOST_BUILD)
#define TEST_DRIVER_HOST_API __declspec(dllexport)
#elif defined(_WIN32)
#define TEST_DRIVER_HOST_API __declspec(dllimport)
#else
#define TEST_DRIVER_HOST_API
#endif

// What a stand-in does when it is loaded, released or called. `tag` names the variant
// (its build), so a test can tell which file was loaded. Any handler may be null.
struct TestDriverHandlers {
    void (*loaded)(const char* tag);    // the library's static initialisation
    void (*released)(const char* tag);  // its teardown when the last handle is released
    std::uint32_t (*init)(const char* tag, std::uint16_t btr0btr1, int frameType);
    std::uint32_t (*close)(const char* tag);
    std::uint32_t (*status)(const char* tag);
    std::uint32_t (*write)(const char* tag, DriverMsg* msg);
    std::uint32_t (*read)(const char* tag, DriverMsg* msg);
};

extern "C" {

// Installs the handlers (nullptr: none); the record must outlive its installation.
TEST_DRIVER_HOST_API void SetTestDriverHandlers(const TestDriverHandlers* handlers);

// The installed handlers, or nullptr.
TEST_DRIVER_HOST_API const TestDriverHandlers* TestDriverHandlersInUse();

}  // extern "C"
