#pragma once

#include <QString>

namespace vtr {

// The program's four-part version "major.minor.release.build", set by the build.
QString GetVersion();

} // namespace vtr
