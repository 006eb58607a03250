#pragma once

#include <QObject>

// The device link's tests, run by one executable (tst_link_main.cpp).

// The transfers without a window.
class TstTransfer : public QObject {
    Q_OBJECT
private slots:
    void byteStreams_data();
    void byteStreams();
    void statusOrder_data();
    void statusOrder();
    void stepOrder_data();
    void stepOrder();
    void failures_data();
    void failures();
    void cancel_data();
    void cancel();
    void waiterBounds_data();
    void waiterBounds();
    void transmitBound_data();
    void transmitBound();
};

// The transfers from the main window: what the user sees, input held back, Esc, CPU use.
class TstTransferWindow : public QObject {
    Q_OBJECT
private slots:
    void vramOnScreen();
    void flashOnScreen();
    void failureOnScreen_data();
    void failureOnScreen();
    void escCancels_data();
    void escCancels();
    void inputHeldBack();
    void waitUsesLittleCpu();
};

// The command console window.
class TstConsole : public QObject {
    Q_OBJECT
private slots:
    void opensInPlaceOfMainWindow();
    void layout_data();
    void layout();
    void typedLine_data();
    void typedLine();
    void typedLineFailures_data();
    void typedLineFailures();
    void secondPressIgnoredWhileWaiting();
    void closeDuringWait();
    void commandFile_data();
    void commandFile();
    void commandFileSilentFailures_data();
    void commandFileSilentFailures();
    void closeClosesPort();
};

// QtSerialPort against a pseudo-terminal the test opens.
class TstSerialBackend : public QObject {
    Q_OBJECT
private slots:
    void deviceNames_data();
    void deviceNames();
    void bytesArriveInOrder();
    void missingDeviceFailsAtOpen();
    void ctsOnPtyFails();
    void consoleOverPty();
    void transferOverPtyFails();
};
