// What this process holds: memory and GDI and USER objects, measured from inside.
#pragma once

#include <cstddef>

struct ProcessUsage {
    std::size_t workingSet;     // bytes resident, as the process's memory counters say
    std::size_t committed;      // private bytes: PrivateUsage, else PagefileUsage (Wine: resident
                                // anonymous memory, RssAnon + VmSwap)
    std::size_t residentKiB;    // VmRSS from /proc/self/status where the process can read it (Wine), else 0
    unsigned long gdiObjects;   // GDI objects of this process
    unsigned long userObjects;  // USER objects of this process
};

// GetGuiResources where it counts (Windows). Wine answers 0 there; then the objects are
// counted directly: GDI handles by probing the 16-bit handle values, USER objects as the
// windows of this thread and its children plus the menus, accelerator tables, icons and
// cursors found by probing. A count, not a census: good for comparing two moments.
ProcessUsage MeasureProcessUsage();

// The committed bytes alone (cheap).
std::size_t MeasureCommitted();
