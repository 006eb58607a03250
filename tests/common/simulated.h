#pragma once

// A simulated display module for tests: run in this process, its socket and files in a
// temporary folder the test owns; and the snapshot read back as the device's 1024 bytes.

#include "core/simulator/simulator.h"

#include <QImage>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <mutex>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pw::test {

// The bytes a snapshot shows (bit 1 where the pixel is white), empty when it is not a
// 128 x 64 picture.
inline QByteArray snapshotBytes(const QString &path)
{
    const QImage image(path);
    if (image.size() != QSize(128, 64))
        return {};
    QByteArray bytes(1024, '\0');
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            if (qGray(image.pixel(x, y)) > 127)
                bytes[128 * (y / 8) + x] = char(bytes[128 * (y / 8) + x] | (1 << (y % 8)));
    return bytes;
}

// A socket nobody listens on any more, as a simulator killed outright leaves it.
inline bool leaveStaleSocket(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool made = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return made;
}

inline QByteArray imageBytes(const MonoImage &image) { return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size())); }

class InProcessModule {
public:
    // `socketName` inside the folder: "COM1" makes the folder a program folder whose port 1
    // reaches the module.
    explicit InProcessModule(bool fast = true, const QString &socketName = QStringLiteral("module.sock"))
    {
        options.socketPath = dir.filePath(socketName);
        options.fast = fast;
        options.snapshotFile = dir.filePath(QStringLiteral("screen.png"));
        options.flashFile = dir.filePath(QStringLiteral("flash.bin"));
    }
    ~InProcessModule() { stop(); }

    bool start()
    {
        Simulator::Hooks hooks;
        hooks.line = [this](const QString &line) {
            const std::lock_guard<std::mutex> lock(mutex_);
            lines_ << line;
        };
        hooks.trouble = [this](const QString &text) {
            const std::lock_guard<std::mutex> lock(mutex_);
            troubles_ << text;
        };
        simulator_ = std::make_unique<Simulator>(options, hooks);
        return simulator_->start(error);
    }
    void stop()
    {
        if (simulator_)
            simulator_->stop();
    }
    QStringList lines() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // What it could not do (a file not written) and what it warns of.
    QStringList troubles() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return troubles_;
    }
    QByteArray screen() const { return snapshotBytes(options.snapshotFile); }

    QTemporaryDir dir;
    SimulatorOptions options;
    QString error;

private:
    mutable std::mutex mutex_;
    QStringList lines_;
    QStringList troubles_;
    std::unique_ptr<Simulator> simulator_;
};

}  // namespace pw::test
