// A serial-line CAN adapter without hardware: holds the master side of a pseudo-terminal
// and answers on it as an adapter would, with the simulated slaves of the simulated
// driver library (pcan_usb.so beside this program, its simbus.ini and EDS files) on its
// CAN side. Whatever opens the terminal's other side (the serial driver library, Wine's
// COM port linked to it, a terminal program) talks to those slaves.
//
//     slcan_device [--link PATH] [--record FILE] [--timestamps] [--mute-file PATH]
//
//   --link PATH     also makes PATH a symbolic link to the terminal (a Wine prefix's
//                   dosdevices/com5, say), removed again at the end
//   --record FILE   writes every frame that passes, "tx" from the master, "rx" to it,
//                   "lost" from the master while the device was silent
//   --timestamps    sends time stamps with received frames from the start (as after Z1)
//   --mute-file PATH  the device is silent while PATH exists (for tests that cannot
//                   send it a signal, such as Windows programs under Wine)
//
// The terminal's path goes to standard output as the first line. SIGUSR1 makes the device
// fall silent (it reads and drops everything, answers nothing, passes no frame) and wakes
// it again; SIGTERM and SIGINT end it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bit_rates.h"
#include "driver_api.h"
#include "dynlib.h"
#include "slcan_codec.h"
#include "tick.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t muteToggles = 0;

void OnStop(int)
{
    stopRequested = 1;
}
void OnMute(int)
{
    muteToggles = muteToggles + 1;
}

struct Simbus {
    LibraryHandle library;
    CanInitEntry init;
    CanCloseEntry close;
    CanWriteEntry write;
    CanReadEntry read;
};

struct Device {
    int master;          // the pseudo-terminal's master side
    int bitRateCode;     // from S, -1 before
    bool open;           // O done, C not yet
    bool timestamps;     // Z1
    bool muted;          // SIGUSR1
    std::uint8_t flags;  // F bits since the last F
    std::FILE* record;   // --record, or nullptr
    std::size_t used;    // characters of the command being received
    bool overlong;
    char command[64];
    Simbus sim;
};

// Writes the whole answer, waiting a little for a reader that is slow; what the terminal
// cannot take within that while is lost, as in an adapter, and shows in its flags.
void Send(Device& device, const char* text, std::size_t length)
{
    std::size_t done = 0;
    const std::uint32_t start = TickMs();
    while (done < length) {
        const ssize_t n = ::write(device.master, text + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (TickMs() - start > 200) {
            device.flags |= slcan::kFlagDataOverrun;
            return;
        }
        pollfd p{device.master, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
}

void SendText(Device& device, const char* text)
{
    Send(device, text, std::strlen(text));
}

void Record(Device& device, const char* direction, const DriverMsg& msg)
{
    if (device.record == nullptr)
        return;
    std::fprintf(device.record, "%s %03X%s %u", direction, static_cast<unsigned>(msg.id),
                 (msg.msgType & kMsgRemote) != 0 ? " r" : "", static_cast<unsigned>(msg.length));
    if ((msg.msgType & kMsgRemote) == 0) {
        for (std::uint8_t i = 0; i < msg.length && i < 8; ++i)
            std::fprintf(device.record, " %02X", static_cast<unsigned>(msg.data[i]));
    }
    std::fprintf(device.record, "\n");
    std::fflush(device.record);
}

void Answer(Device& device, const char* command, std::size_t length)
{
    static const char kOk[] = "\r";
    static const char kError[] = "\a";
    if (length == 0) {
        SendText(device, kOk);
        return;
    }
    switch (command[0]) {
    case 'S':
        if (length == 2 && command[1] >= '0' && static_cast<std::size_t>(command[1] - '0') < kBitRates.size() &&
            !device.open) {
            device.bitRateCode = command[1] - '0';
            SendText(device, kOk);
            return;
        }
        break;
    case 'O':
        if (length == 1 && !device.open && device.bitRateCode >= 0 &&
            device.sim.init(kBitRates[static_cast<std::size_t>(device.bitRateCode)].btr0btr1, 0) == 0) {
            device.open = true;
            device.flags = 0;
            SendText(device, kOk);
            return;
        }
        break;
    case 'C':
        if (length == 1 && device.open) {
            device.sim.close();
            device.open = false;
            SendText(device, kOk);
            return;
        }
        break;
    case 'V':
        if (length == 1) {
            SendText(device, "V1013\r");
            return;
        }
        break;
    case 'N':
        if (length == 1) {
            SendText(device, "NVS01\r");
            return;
        }
        break;
    case 'F':
        if (length == 1 && device.open) {
            char text[8];
            std::snprintf(text, sizeof text, "F%02X\r", static_cast<unsigned>(device.flags));
            device.flags = 0;
            SendText(device, text);
            return;
        }
        break;
    case 'Z':
        if (length == 2 && (command[1] == '0' || command[1] == '1') && !device.open) {
            device.timestamps = command[1] == '1';
            SendText(device, kOk);
            return;
        }
        break;
    case 't':
    case 'T':
    case 'r':
    case 'R': {
        DriverMsg msg;
        std::uint8_t stamped = 0;
        std::uint16_t stamp = 0;
        if (device.open && slcan::ParseFrame(command, length, msg, stamped, stamp) && !stamped) {
            if (device.sim.write(&msg) == 0) {
                Record(device, "tx", msg);
                SendText(device, (msg.msgType & kMsgExtended) != 0 ? "Z\r" : "z\r");
            } else {
                device.flags |= slcan::kFlagTxQueueFull;
                SendText(device, kError);
            }
            return;
        }
        break;
    }
    default:
        break;
    }
    SendText(device, kError);
}

// A frame the master sent while the device was silent: recorded as "lost", so that the
// record still holds every frame that reached the adapter.
void RecordLost(Device& device, const char* command, std::size_t length)
{
    DriverMsg msg;
    std::uint8_t stamped = 0;
    std::uint16_t stamp = 0;
    if (device.overlong || !slcan::ParseFrame(command, length, msg, stamped, stamp))
        return;
    Record(device, "lost", msg);
}

void TakeBytes(Device& device, const char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            if (device.muted)
                RecordLost(device, device.command, device.used);
            else if (device.overlong)
                SendText(device, "\a");
            else
                Answer(device, device.command, device.used);
            device.used = 0;
            device.overlong = false;
        } else if (c == '\n') {
            continue;
        } else if (device.used == sizeof device.command) {
            device.overlong = true;
        } else {
            device.command[device.used++] = c;
        }
    }
}

// Frames from the simulated slaves to the master.
void PassReceived(Device& device)
{
    DriverMsg msg;
    while (device.open && device.sim.read(&msg) == 0) {
        if ((msg.msgType & kMsgStatus) != 0 || device.muted)
            continue;
        char text[slcan::kMaxFrameText + 4];
        std::size_t length = slcan::FormatFrame(msg, text, sizeof text);
        if (length == 0)
            continue;
        if (device.timestamps) {
            std::snprintf(text + length - 1, sizeof text - (length - 1), "%04X\r",
                          static_cast<unsigned>(TickMs() % (slcan::kMaxTimestamp + 1u)));
            length += 4;
        }
        Record(device, "rx", msg);
        Send(device, text, length);
    }
}

bool LoadSimbus(Simbus& sim)
{
    sim.library = LoadLibraryFile("pcan_usb.so");
    if (sim.library == nullptr)
        return false;
    sim.init = reinterpret_cast<CanInitEntry>(ResolveEntryPoint(sim.library, "CAN_Init"));
    sim.close = reinterpret_cast<CanCloseEntry>(ResolveEntryPoint(sim.library, "CAN_Close"));
    sim.write = reinterpret_cast<CanWriteEntry>(ResolveEntryPoint(sim.library, "CAN_Write"));
    sim.read = reinterpret_cast<CanReadEntry>(ResolveEntryPoint(sim.library, "CAN_Read"));
    return sim.init != nullptr && sim.close != nullptr && sim.write != nullptr && sim.read != nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* linkPath = nullptr;
    const char* recordPath = nullptr;
    const char* muteFile = nullptr;
    bool timestamps = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--link") == 0 && i + 1 < argc) {
            linkPath = argv[++i];
        } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
            recordPath = argv[++i];
        } else if (std::strcmp(argv[i], "--mute-file") == 0 && i + 1 < argc) {
            muteFile = argv[++i];
        } else if (std::strcmp(argv[i], "--timestamps") == 0) {
            timestamps = true;
        } else {
            std::fprintf(stderr,
                         "usage: slcan_device [--link PATH] [--record FILE] [--timestamps] [--mute-file PATH]\n");
            return 2;
        }
    }

    struct sigaction stop {};
    stop.sa_handler = OnStop;
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    struct sigaction mute {};
    mute.sa_handler = OnMute;
    ::sigaction(SIGUSR1, &mute, nullptr);

    Device device{};
    device.bitRateCode = -1;
    device.timestamps = timestamps;
    if (!LoadSimbus(device.sim)) {
        std::fprintf(stderr, "slcan_device: cannot load the simulated bus pcan_usb.so beside this program\n");
        return 1;
    }
    device.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (device.master < 0 || ::grantpt(device.master) != 0 || ::unlockpt(device.master) != 0) {
        std::perror("slcan_device: pseudo-terminal");
        return 1;
    }
    const char* slavePath = ::ptsname(device.master);
    if (slavePath == nullptr) {
        std::perror("slcan_device: ptsname");
        return 1;
    }
    char terminal[256];
    std::snprintf(terminal, sizeof terminal, "%s", slavePath);
    // Raw on both sides: no echo, no CR/LF translation, no line editing. Holding the other
    // side open too keeps reads from failing while no user has it open.
    const int keeper = ::open(terminal, O_RDWR | O_NOCTTY);
    termios tio{};
    if (keeper < 0 || ::tcgetattr(keeper, &tio) != 0) {
        std::perror("slcan_device: terminal");
        return 1;
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(keeper, TCSANOW, &tio);
    ::fcntl(device.master, F_SETFL, ::fcntl(device.master, F_GETFL) | O_NONBLOCK);

    if (recordPath != nullptr) {
        device.record = std::fopen(recordPath, "w");
        if (device.record == nullptr) {
            std::perror("slcan_device: record file");
            return 1;
        }
    }
    if (linkPath != nullptr) {
        ::unlink(linkPath);
        if (::symlink(terminal, linkPath) != 0) {
            std::perror("slcan_device: link");
            return 1;
        }
    }

    std::printf("%s\n", terminal);
    std::fflush(stdout);

    char bytes[1024];
    while (!stopRequested) {
        pollfd p{device.master, POLLIN, 0};
        ::poll(&p, 1, 1);
        // Looked at after the wait, so a command written after the mute file was made is
        // never taken.
        const bool muted = (muteToggles % 2) != 0 || (muteFile != nullptr && ::access(muteFile, F_OK) == 0);
        if (muted != device.muted)
            std::fprintf(stderr, "slcan_device: %s\n", muted ? "silent" : "answering again");
        device.muted = muted;
        for (;;) {
            const ssize_t n = ::read(device.master, bytes, sizeof bytes);
            if (n <= 0)
                break;
            TakeBytes(device, bytes, static_cast<std::size_t>(n));
        }
        PassReceived(device);
    }

    if (device.open)
        device.sim.close();
    if (linkPath != nullptr)
        ::unlink(linkPath);
    if (device.record != nullptr)
        std::fclose(device.record);
    ::close(keeper);
    ::close(device.master);
    ReleaseLibrary(device.sim.library);
    return 0;
}
