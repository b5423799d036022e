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

// Whether text holds part.
inline bool HasText(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

} // namespace vtrtest
