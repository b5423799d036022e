#pragma once
// The scenario document as a whole (version 7): the empty document for a new scenario, and the
// places in it that the program finds by name.

#include "base/DateTime.h"
#include "xml/XmlDocument.h"

#include <string>
#include <vector>

namespace vtr {

inline constexpr const char* kScenarioRoot = "QV27Scenario";
// The document format this release writes and the newest it reads.
inline constexpr int kScenarioVersion = 7;

// Empties doc and builds the empty version-7 scenario: notes with one note, units, and the
// "start" and "current" timestamps. programVersion goes into `versionprog`.
void BuildEmptyScenario(XmlDocument& doc, const std::string& programVersion);

// The scenario notes element: the first `note` of the root's `notes` whose `timestamp` is
// "0.0" (name and value compared with case); null when there is none.
XmlNode ScenarioNoteElement(const XmlDocument& doc);

// Sets the "start" timestamp to the date-time in number text. A document that lacks it (or
// lacks `timestamps`) gets it created, first in `timestamps`. No root: nothing happens.
void SetScenarioStartTime(XmlDocument& doc, TDateTime dtScen);

} // namespace vtr
