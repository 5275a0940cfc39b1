// Stands in for the serial layer's SerialPortLine until its backends have
// it: the table's rule, read from the environment as they read it.
#include <string>

#include "platform/Serial.h"
#include "platform/System.h"

std::string SerialPortLine(int port) {
  if (port < 1 || port > 128) return {};
  const std::string named = GetEnv("VEKTON_COM" + std::to_string(port));
  if (!named.empty()) return named;
#ifdef _WIN32
  return "COM" + std::to_string(port);
#else
  return "/dev/ttyS" + std::to_string(port - 1);
#endif
}
