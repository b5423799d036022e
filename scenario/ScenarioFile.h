#pragma once
// Scenario files on disk: reading a plain or zipped scenario into lines, and writing the
// document as a ".vtrscz" archive.
//
// A ".vtrscz" archive (extension compared without letter case) holds the document as the
// member B.vtrsc, B being the archive's base name. Reading takes that member into memory, so
// loading B.vtrscz never writes, replaces or deletes a plain B.vtrsc beside it.

#include "base/TextLists.h"
#include "xml/XmlDocument.h"

#include <QString>

#include <stdexcept>
#include <string>
#include <string_view>

namespace vtr {

// Raised when a scenario file cannot be read or written; the message names the file.
class EScenarioFileError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// Largest scenario file read (256 MiB), plain or as an archive member.
inline constexpr qint64 kMaxScenarioFileSize = qint64{256} << 20;

// Whether the name ends in ".vtrscz", letter case ignored.
bool IsScenarioArchiveName(const QString& path);
// The member that the archive path holds: its base name + ".vtrsc".
QString ScenarioArchiveMemberName(const QString& archivePath);

// UTF-8 text of a scenario file's bytes: decoded by its byte-order mark when it has one
// (UTF-8, UTF-16 or UTF-32, either byte order; the mark is dropped), else taken as UTF-8 when
// the bytes are valid UTF-8, else read as Windows-1252, the code page of the older releases.
// Sequences that do not decode become U+FFFD.
std::string DecodeScenarioText(std::string_view bytes);

// The file's bytes: the file itself, or for an archive name the member B.vtrsc (or, when the
// archive was renamed, its only ".vtrsc" member) read in memory. Raises EScenarioFileError.
std::string ReadScenarioBytes(const QString& path);

// The file decoded and split into lines, as the conversion takes them. Raises
// EScenarioFileError also for a file holding binary data (NUL characters).
TextLines ReadScenarioLines(const QString& path);

struct ScenarioFileLoad
{
  int versionIn = 0;
  std::string resultText; // "in: v.5 out: v.7"
};

// Reads any scenario file and converts it into doc, as the conversion does (its errors pass
// through: EScenarioTooNew, EConvertError, EXmlError), with the running program's version.
ScenarioFileLoad LoadScenarioFile(const QString& path, XmlDocument& doc);

enum class ArchiveWrite {
  Update, // an existing archive keeps its other members
  Replace // whatever file has the name is replaced by a new archive
};

// Writes the document (in its writing form) into the archive at path as the member
// ScenarioArchiveMemberName(path), straight from memory: no plain file is written beside it.
// The archive is replaced only when complete. Raises EScenarioFileError.
void SaveScenarioArchive(const XmlDocument& doc, const QString& path,
                         ArchiveWrite mode = ArchiveWrite::Update);

} // namespace vtr
