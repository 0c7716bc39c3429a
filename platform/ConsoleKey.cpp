// The parts of the console key that are built on the system-specific calls.
#include "platform/ConsoleKey.h"

namespace sv {

std::string NewConsoleKey() {
  unsigned char bytes[32];
  SystemRandomBytes(bytes, sizeof bytes);
  static const char kDigits[] = "0123456789abcdef";
  std::string key;
  for (unsigned char b : bytes) {
    key += kDigits[b >> 4];
    key += kDigits[b & 15];
  }
  return key;
}

}  // namespace sv
