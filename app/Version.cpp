#include "app/Version.h"

#include "VtrVersion.h"

namespace vtr {

QString GetVersion()
{
  return QStringLiteral("%1.%2.%3.%4")
      .arg(VTR_VERSION_MAJOR)
      .arg(VTR_VERSION_MINOR)
      .arg(VTR_VERSION_RELEASE)
      .arg(VTR_VERSION_BUILD);
}

} // namespace vtr
