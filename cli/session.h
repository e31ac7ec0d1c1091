// The console program's session: the master started with the console's operator side,
// the driver library chosen, and the bus opened once for the commands that speak on it
// and closed at the end.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "console.h"

// Exit statuses of the program and of each command.
enum ExitStatus : int {
    ExitOk = 0,
    ExitRefused = 1,   // the device refused (an abort code)
    ExitUsage = 2,     // the command line, or a value that does not convert or fit
    ExitNoAnswer = 3,  // no answer, or the communication failed
    ExitNoDriver = 4,  // the driver library cannot be loaded or used
};

struct GlobalOptions {
    std::string driver;      // --driver as given; empty: the library beside the program
    std::int32_t baudIndex;  // row of BitRateTable
    std::uint32_t settleMs;  // --settle; 0 unless asked for
};

class Session {
public:
    // Starts the master with the console's operator side. ExitOk, or ExitNoDriver when the
    // driver library named cannot be prepared.
    int Begin(const GlobalOptions& options);
    // Opens the bus unless it is open: ExitOk, or ExitNoDriver after the master's message.
    int NeedBus();
    // Closes the bus if it is open (before a service that opens its own, and at the end).
    void ReleaseBus();
    // The bus closed, the master ended, a private copy of the driver library removed.
    void End();

    // The EDS files the operator gave for a node (--eds), the program's "remembered
    // choice": later reads take their default types from them.
    std::map<std::uint32_t, std::string> edsChoices;
    // A file the next file question of the master is answered with; empty: none chosen.
    std::string edsOffered;

    // The master's OK/Cancel questions are answered OK, as the operator asked for the
    // command, but `declined` (a string id; 0 none) Cancel. With noteAnswers each
    // question goes to the error side with its answer, so that a script's log says what
    // was agreed to; questionsAsked keeps their ids, in order.
    bool noteAnswers = false;
    std::uint32_t declined = 0;
    std::vector<std::uint32_t> questionsAsked;
    // Called with a download row's position each time the master reports the row
    // (showDownloadRow); null: the rows are not shown (the comparison before a download).
    void (*rowShown)(std::uint32_t row) = nullptr;

    const std::string& DriverPath() const { return driverPath_; }

private:
    std::string driverPath_;
    std::string privateFolder_;  // a folder holding a configured copy of a driver library
    bool started_ = false;
};

// The session the operator's side reads the EDS choices from.
Session* CurrentSession();

// The string-table row of the last message the master showed (0 none since the call
// before): the commands tell a driver failure from a silent bus by it.
std::uint32_t TakeLastMasterMessage();

// Set from the interrupt handler (Ctrl-C): the long commands end as Stop ends the
// exchange.
extern volatile int interruptRequested;
void WatchInterrupt();

// The folder of the running program, with its trailing separator; "" if unknown.
std::string ProgramFolder();

// The driver library `driver` (--driver) names: the file beside the program for ""; for
// "sim" the simulated library of the release's simulated folder, else the one beside the
// program (the build's); for "serial:PORT" and "socketcand:HOST:PORT[:INTERFACE]" the
// library of that kind from its folder beside the program (serial or network in the
// release, slcan or netcan in the build), copied with a settings file of its own into
// `privateFolder` (created); otherwise `driver` itself. False with `error` set when it
// cannot be prepared.
bool PrepareDriver(const std::string& driver, std::string& path, std::string& privateFolder, std::string& error);
