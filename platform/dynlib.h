// Dynamic libraries: load by file name, resolve an entry point, release.
//
// A bare file name is looked for in the program's own folder and in the system folder
// only, never in the current directory, so a library planted there is not loaded.
#pragma once

using LibraryHandle = void*;

// Width of this program's code in bits: 32 or 64. A process loads libraries of its own
// width only.
constexpr unsigned ProgramBits = sizeof(void*) * 8;

// Loads the library; returns nullptr when it cannot be found or loaded.
LibraryHandle LoadLibraryFile(const char* fileName);

// Why the last LoadLibraryFile failed, when the reason was that the library found is
// built for another architecture than this program: its width in bits (32 or 64), or
// any other value for a machine type that is neither (the machine number itself).
// 0 when the last load succeeded or failed for another reason.
unsigned LastLoadForeignBits();

// Address of the named entry point, or nullptr.
void* ResolveEntryPoint(LibraryHandle library, const char* name);

// Releases a handle returned by LoadLibraryFile; nullptr is ignored.
void ReleaseLibrary(LibraryHandle library);
