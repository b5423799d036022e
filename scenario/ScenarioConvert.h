#pragma once
// Conversion of a scenario file's lines, of any format version from 0 to 7, into the
// version-7 scenario document. TfrmUnit1::VersionSaveConvert is this with the running
// program's version.
//
// Versions 0 to 5 are key=value text; 6 and 7 are XML. Each older format is lifted one version
// at a time: 0->1 joins notes spread over several lines, 1->2 splits the single radar mark
// into ASR and SSR, 3->4 renumbers units by line, 5->6 builds the XML document, 6->7 restamps.

#include "base/TextLists.h"
#include "xml/XmlDocument.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace vtr {

// A file newer than this release reads. The message is the text of the error box the
// program shows before it ends; the caller shows it and ends the program.
class EScenarioTooNew : public std::runtime_error
{
public:
  explicit EScenarioTooNew(int version);
  int Version() const { return version_; }

private:
  int version_;
};

struct ScenarioConversion
{
  int versionIn = 0;
  std::string resultText; // "in: v.5 out: v.7"
};

// Version of a scenario text: its "VersionSave" line when it has one; else, for a text that
// begins with "<", the root's `versionsave`; else 1 when every line's name is numeric, 0 when
// not. Raises EConvertError for a "VersionSave" value that is not an integer, and EXmlError
// for XML text that does not parse or carries no positive `versionsave`.
int DetectScenarioVersion(const TextLines& lines);

// Converts the lines into doc. lines is left holding intermediate text. doc is replaced only
// when the whole conversion succeeds; on any error (EScenarioTooNew, EConvertError for a unit
// name or version that is not an integer, EXmlError for damaged XML) it is left as it was.
// Units whose id clashes with an earlier unit's, or lies outside 0..4294967294, get fresh ids
// above the largest, so that every unit can be found by its id. A document without `units`
// or without the scenario note gets them.
ScenarioConversion ConvertScenarioLines(TextLines& lines, XmlDocument& doc,
                                        std::string_view programVersion);

} // namespace vtr
