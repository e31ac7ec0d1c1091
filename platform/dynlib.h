// Dynamic libraries: load by file name, resolve an entry point, release.
//
// A bare file name is looked for in the program's own folder and in the system folder
// only, never in the current directory, so a library planted there is not loaded.
#pragma once

using LibraryHandle = void*;

// Loads the library; returns nullptr when it cannot be found or loaded.
LibraryHandle LoadLibraryFile(const char* fileName);

// Address of the named entry point, or nullptr.
void* ResolveEntryPoint(LibraryHandle library, const char* name);

// Releases a handle returned by LoadLibraryFile; nullptr is ignored.
void ReleaseLibrary(LibraryHandle library);
