// A round trip through the driver binding and the real simulated pcan_usb.dll: it holds
// only when the binding calls the library with the library's own calling convention and
// record layout. Shared by the architecture tests and the probe that runs it against a
// binding built with the wrong convention.
#pragma once

#include <string>

// Loads pcan_usb.dll through the binding and sends `rounds` records of varying
// identifier, type, length and data through the binding's CAN_Write; each one is read
// back from the simulated bus's log of sent frames and compared field by field. Every
// eighth round also asks node 3 for its device type and takes the answer through the
// binding's CAN_Read. The binding is left unloaded.
// Returns "" when every record came through unchanged and the stack pointer is where it
// was before the first call; otherwise what went wrong first.
std::string ConventionRoundTrip(int rounds);
