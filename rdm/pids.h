#pragma once

#include <cstdint>

namespace luvrin::rdm {

// Parameter ids this controller asks for.
enum Pid : std::uint16_t {
  kDiscUniqueBranch = 0x0001,
  kDiscMute = 0x0002,
  kDiscUnMute = 0x0003,
  kQueuedMessage = 0x0020,
  kStatusMessages = 0x0030,
  kSupportedParameters = 0x0050,
  kDeviceInfo = 0x0060,
  kDeviceModelDescription = 0x0080,
  kManufacturerLabel = 0x0081,
  kDeviceLabel = 0x0082,
  kSoftwareVersionLabel = 0x00C0,
  kDmxPersonality = 0x00E0,
  kDmxPersonalityDescription = 0x00E1,
  kDmxStartAddress = 0x00F0,
  kSlotInfo = 0x0120,
  kSlotDescription = 0x0121,
  kSensorDefinition = 0x0200,
  kSensorValue = 0x0201,
  kDeviceHours = 0x0400,
  kLampHours = 0x0401,
  kLampState = 0x0403,
  kIdentifyDevice = 0x1000,
};

enum NackReason : std::uint16_t {
  kUnknownPid = 0x0000,
  kFormatError = 0x0001,
  kHardwareFault = 0x0002,
  kProxyReject = 0x0003,
  kWriteProtect = 0x0004,
  kUnsupportedCommandClass = 0x0005,
  kDataOutOfRange = 0x0006,
  kBufferFull = 0x0007,
  kPacketSizeUnsupported = 0x0008,
  kSubDeviceOutOfRange = 0x0009,
  kProxyBufferFull = 0x000A,
};

// STATUS_MESSAGES and QUEUED_MESSAGE ask for this type and the more serious ones.
constexpr std::uint8_t kStatusAdvisory = 0x02;

}  // namespace luvrin::rdm
