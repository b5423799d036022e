#pragma once
// Helpers shared by the globe tests.

#include <exception>
#include <functional>
#include <string>

namespace vtrtest {

// The message of what f throws, or "no exception".
inline std::string ErrorText(const std::function<void()>& f)
{
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

} // namespace vtrtest
