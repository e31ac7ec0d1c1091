// Between the blocking services and the idle cycle: an idle cycle run from inside a
// master service (the one every object read runs first) must not rest in the exchange's
// 200 ms wait; only the main loop's idle cycle may. Otherwise a configuration reading
// of 1024 objects would wait up to 200 ms per object.
#pragma once

// Depth of the idle cycles now running from inside master services; 0 in the main loop.
extern int nestedIdleDepth;

// Runs one idle cycle marked as nested inside a master service.
int RunNestedIdleCycle();
