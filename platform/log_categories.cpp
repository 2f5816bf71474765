#include "log_categories.h"

namespace luvrin {

Q_LOGGING_CATEGORY(lcOutput, "luvrin.output", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSerial, "luvrin.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUsbPro, "luvrin.usbpro", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNet, "luvrin.net", QtWarningMsg)
Q_LOGGING_CATEGORY(lcOla, "luvrin.ola", QtWarningMsg)
Q_LOGGING_CATEGORY(lcScene, "luvrin.scene", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCodepage, "luvrin.codepage", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLauncher, "luvrin.launcher", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFiles, "luvrin.files", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "luvrin.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHandoff, "luvrin.handoff", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRemote, "luvrin.remote", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFixtures, "luvrin.fixtures", QtWarningMsg)

}  // namespace luvrin
