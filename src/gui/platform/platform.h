#pragma once

#include "core/link/serialport.h"
#include "gui/platform/filedialog.h"
#include "gui/platform/messageboxes.h"

#include <QString>
#include <functional>

namespace pw {

// Everything the windows need from the platform: the program builds it from Qt's boxes,
// dialogs and serial port, the tests from scripted ones and a fake port.
struct Platform {
    MessageBoxes *boxes = nullptr;
    FileDialogBackend *dialogs = nullptr;
    SerialPort *port = nullptr;
    // The program's folder: the settings file and the COMn links live there.
    QString programDir;
    // Ends the process at once, without any window's closing steps.
    std::function<void()> exitProgram;
};

}  // namespace pw
