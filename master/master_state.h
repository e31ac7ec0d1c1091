// The master's state: every flag, slot and table of the master services is defined in
// master_state.cpp, and only there; each service's header declares the records it uses.
#pragma once

// Sets every flag, slot and table of the master services to its value at program start
// (communication off, no pump slots, empty PDO table and lists, no search, no nested
// idle cycle). The settings values and the process image's allocation are left alone:
// the settings file and start-up own those.
void ResetMasterState();
