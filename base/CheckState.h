#pragma once
// Three-state mark, stored in documents as its ordinal: "0" unchecked, "1" checked, "2" grayed.

#include <string>
#include <string_view>

namespace vtr {

enum TCheckBoxState { cbUnchecked = 0, cbChecked = 1, cbGrayed = 2 };

// Ordinal text; values outside 0..2 are stored as "0".
inline std::string CheckStateText(int state)
{
  return (state >= 0 && state <= 2) ? std::string(1, static_cast<char>('0' + state)) : "0";
}

// "0", "1", "2"; anything else gives the fallback.
inline TCheckBoxState CheckStateFromText(std::string_view text, TCheckBoxState fallback = cbUnchecked)
{
  if (text == "0")
    return cbUnchecked;
  if (text == "1")
    return cbChecked;
  if (text == "2")
    return cbGrayed;
  return fallback;
}

} // namespace vtr
