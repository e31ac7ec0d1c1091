// The program's driver binding built to call the driver entry points the C way (the
// caller pops the arguments), as a binding that forgot the convention would: the
// calling-convention probe must catch it.
#define DRIVER_CALL __cdecl
#include "driver.cpp"
