#pragma once
// The scenario document as a whole (version 7): building the empty document for a new scenario.

#include "xml/XmlDocument.h"

#include <string>

namespace vtr {

inline constexpr const char* kScenarioRoot = "QV27Scenario";

// Empties doc and builds the empty version-7 scenario: notes with one note, units, and the
// "start" and "current" timestamps. programVersion goes into `versionprog`.
void BuildEmptyScenario(XmlDocument& doc, const std::string& programVersion);

} // namespace vtr
