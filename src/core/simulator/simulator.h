#pragma once

#include "core/simulator/displaymodule.h"

#include <QString>
#include <functional>
#include <memory>

namespace pw {

struct SimulatorOptions {
    QString socketPath;
    // Bytes taken as soon as they come, every rewrite 50 ms: for tests.
    bool fast = false;
    // Where the FLASH pages live between runs (13 x 1024 bytes); empty: in memory only.
    QString flashFile;
    // A 128 x 64 PNG of the screen (white where a bit is 1), replaced after each DP.
    QString snapshotFile;
};

// A simulated display module on a Unix socket, served from a thread of its own.
//
// The socket is the serial line. A client's bytes are the bytes toward the device; they are
// taken at the line's pace (960 a second) unless fast, and only once the module has acted on
// them, so a sender that waits until its bytes are out also waits until they took effect.
// Every byte the module sends back is a CTS report: '1' asserted, '0' dropped, the first as
// the connection is taken, then one per change. CTS drops as DP is taken and rises when the
// rewrite time has passed.
//
// One client at a time. Up to 64 others are held in the order they came, told '0' (not
// ready) at once, and served in turn; one more is closed before any report, which its port
// takes as "busy". What a client had handed over before it went away still reaches the
// module at the line's pace, as a serial driver drains its queue when the port closes; then
// the module reports any command it was cut off in and takes the next client.
//
// The module writes nothing but its socket, the snapshot and the flash file.
class Simulator {
public:
    static constexpr char kCtsAsserted = '1';
    static constexpr char kCtsDropped = '0';
    static constexpr int kBytesPerSecond = 960;
    static constexpr int kFastRewriteMs = 50;

    // Called on the simulator's thread.
    struct Hooks {
        std::function<void(const QString &line)> line;       // each command, in order
        std::function<void(const MonoImage &screen)> shown;  // after each DP
        std::function<void(const QString &text)> trouble;    // a file that could not be written, a short flash file
        std::function<void()> failed;                        // it stopped serving on its own (after its trouble)
    };

    Simulator(SimulatorOptions options, Hooks hooks);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Loads the FLASH pages, writes the power-up screen's snapshot, makes the socket and
    // starts serving. A socket left behind at the path is replaced; anything else there, or a
    // module listening there, is an error, and so is a flash file longer than the pages; a
    // shorter one is a warning. False with the reason.
    bool start(QString &error);
    // Stops serving and removes the socket (when it is still the one made here).
    void stop();

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

}  // namespace pw
