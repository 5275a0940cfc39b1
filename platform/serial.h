// Serial ports by number. Port n is the platform's COMn: on Windows the device
// itself, on POSIX the path in VEKTON_COM<n> or /dev/ttyS<n-1>.
#pragma once
#include <cstdint>

using SerialHandle = intptr_t;
constexpr SerialHandle kInvalidSerialHandle = -1;

struct SerialSettings {
  uint32_t baud = 0;
  char parity = 'N';      // 'N', 'E' or 'O'
  uint8_t dataBits = 8;
  uint8_t stopBits = 1;   // 1 or 2
  // The settings' flag word: anything beyond plain binary transfer
  // (parity checking, flow control, modem lines, error replacement).
  bool flagsSet = false;
};

struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;  // ms: a read returns after this at the latest
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

// Opens port exclusively for reading and writing. Returns 0 and the handle,
// or the system error code (the handle is then invalid).
int SerialOpen(int port, SerialHandle& handle);
bool SerialGetSettings(SerialHandle h, SerialSettings& s);
bool SerialSetSettings(SerialHandle h, const SerialSettings& s);
bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t);
bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t);
// Discards both queues.
bool SerialPurge(SerialHandle h);
// Clears the error state; bytesWaiting receives the size of the input queue.
bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting);
// Reads up to count bytes; returns when count bytes have come or when the
// total read time-out has passed.
bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got);
bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written);
void SerialClose(SerialHandle h);
// The system error code of the last failed call.
int SerialLastError();
// The code a port number outside the table reports (no such device).
int SerialNoDeviceError();
