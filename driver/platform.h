#pragma once

#include <QString>
#include <QtGlobal>

// The few things that differ between the operating systems. Each system has its own source file
// and the build picks one, so the rest of the program never asks which system it is on.
namespace luvrin::platform {

// Bytes the system's serial driver still holds for sending on the port behind handle (0 where
// the system cannot tell). QSerialPort's own buffer is separate: QSerialPort::bytesToWrite().
qint64 pendingOutputBytes(qintptr handle);

// Windows names ports COMn, programs end in .EXE and per-user settings live in the registry.
bool windowsConventions();

// Whether a window can be shown at all: on Linux a DISPLAY or WAYLAND_DISPLAY to show it on.
bool displayAvailable();

// The folder of the running program file, known before any QCoreApplication exists.
QString programFolder(const char* argv0);

}  // namespace luvrin::platform
