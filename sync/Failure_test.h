#pragma once
// Test support: the message of the Exception a call raises, or "(no failure)".
#include <functional>
#include <string>

#include "base/Exception.h"

namespace sv::test {

inline std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no failure)";
}

}  // namespace sv::test
