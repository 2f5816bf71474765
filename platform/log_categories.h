#pragma once

#include <QLoggingCategory>

// The program's logging categories, each declared here once. Debug messages are off by default
// (QT_LOGGING_RULES turns them on); warnings are printed, and reach the user's log file.
namespace luvrin {

Q_DECLARE_LOGGING_CATEGORY(lcOutput)    // "luvrin.output": the output chosen, or 端口 refused
Q_DECLARE_LOGGING_CATEGORY(lcSerial)    // "luvrin.serial": the serial port opened, lost, moved
Q_DECLARE_LOGGING_CATEGORY(lcUsbPro)    // "luvrin.usbpro": what a USB Pro widget answered
Q_DECLARE_LOGGING_CATEGORY(lcNet)       // "luvrin.net": sACN and Art-Net sockets, the source id
Q_DECLARE_LOGGING_CATEGORY(lcOla)       // "luvrin.ola": the connection to olad
Q_DECLARE_LOGGING_CATEGORY(lcScene)     // "luvrin.scene": scene lookups and loads
Q_DECLARE_LOGGING_CATEGORY(lcCodepage)  // "luvrin.codepage": the GBK converter
Q_DECLARE_LOGGING_CATEGORY(lcLauncher)  // "luvrin.launcher": the launcher builder
Q_DECLARE_LOGGING_CATEGORY(lcFiles)     // "luvrin.files": show files refused when read
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // "luvrin.settings": 串口配置.ini refused
Q_DECLARE_LOGGING_CATEGORY(lcHandoff)   // "luvrin.handoff": the hand-off file refused
Q_DECLARE_LOGGING_CATEGORY(lcRemote)    // "luvrin.remote": the remote's requests and clients
Q_DECLARE_LOGGING_CATEGORY(lcFixtures)  // "luvrin.fixtures": definitions and patch lines refused

}  // namespace luvrin
