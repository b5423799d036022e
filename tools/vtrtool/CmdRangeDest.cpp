// vtrtool range / dest: the map view's range and bearing, and dead reckoning along a great
// circle, from the command line.
#include "Command.h"

#include "base/Convert.h"
#include "globe/GGeodesy.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <string>

namespace {

double ParseNumber(const std::string& text, const char* what, double lo, double hi)
{
  const auto v = vtr::TryStrToFloat(text);
  if (!v || !std::isfinite(*v))
    throw vtrtool::UsageError{std::string(what) + " is not a number: \"" + text + "\""};
  if (*v < lo || *v > hi)
    throw vtrtool::UsageError{std::string(what) + " out of range [" + vtr::FloatToNumText(lo) +
                              ", " + vtr::FloatToNumText(hi) + "]: " + text};
  return *v;
}

std::string Fixed(double v, int decimals)
{
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

// Compass bearing in degrees from the engine's anticlockwise angle, as the map view shows it.
double CompassBearing(int32_t angleGU)
{
  constexpr double kPi = 3.14159265358979323846;
  const double b = angleGU * kPi / (180.0 * 5400000.0) * 57.29577951308232;
  return b < 0 ? -b : 360 - b;
}

int RunRange(const vtrtool::Args& args)
{
  vtrtool::Args pos;
  vtr::TGSpheroid spheroid = vtr::TGSpheroid::WGS84;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--spheroid") {
      if (i + 1 >= args.size()) throw vtrtool::UsageError{"--spheroid needs a name"};
      const auto s = vtr::SpheroidFromName(args[++i]);
      if (!s) {
        std::string names;
        for (int k = 0; k < vtr::kSpheroidCount; ++k)
          names +=
              std::string(k ? ", " : "") + vtr::SpheroidData(static_cast<vtr::TGSpheroid>(k)).Name;
        throw vtrtool::UsageError{"unknown spheroid \"" + args[i] + "\" (one of " + names + ")"};
      }
      spheroid = *s;
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() != 4) throw vtrtool::UsageError{"needs LAT1 LON1 LAT2 LON2"};
  const auto a = vtr::DDToPointLL(ParseNumber(pos[1], "LON1", -180, 180),
                                  ParseNumber(pos[0], "LAT1", -90, 90));
  const auto b = vtr::DDToPointLL(ParseNumber(pos[3], "LON2", -180, 180),
                                  ParseNumber(pos[2], "LAT2", -90, 90));
  const int32_t d = vtr::SpheroidDistance(a, b, spheroid);
  const double nm = vtr::GUToUnits(vtr::guNauticalMile, d);
  std::cout << "distance_nm\t" << Fixed(nm, 3) << "\tbearing_deg\t"
            << Fixed(CompassBearing(vtr::GreatCircleBearing(a, b)), 3) << "\n";
  return vtrtool::kOk;
}

int RunDest(const vtrtool::Args& args)
{
  if (args.size() != 4) throw vtrtool::UsageError{"needs LAT LON HEADING DIST_NM"};
  const double lat = ParseNumber(args[0], "LAT", -90, 90);
  const double lon = ParseNumber(args[1], "LON", -180, 180);
  double heading = std::fmod(ParseNumber(args[2], "HEADING", -1e9, 1e9), 360.0);
  if (heading < 0) heading += 360;
  // Distances in GU must fit 32 bits: about 23,860 NM, more than once round the world.
  const double maxNm = 2147483647.0 / vtr::UnitFactor(vtr::guNauticalMile);
  const double distNm = ParseNumber(args[3], "DIST_NM", -maxNm, maxNm);

  const auto start = vtr::DDToPointLL(lon, lat);
  const int32_t angle = vtr::DDToGU(360.0L - heading); // anticlockwise from north
  const auto p =
      vtr::GreatCircleDestination(start, angle, vtr::UnitsToGU(vtr::guNauticalMile, distNm));
  std::cout << "lat\t" << Fixed(static_cast<double>(vtr::GUToDD(p.iLatY)), 6) << "\tlon\t"
            << Fixed(static_cast<double>(vtr::GUToDD(p.iLongX)), 6) << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar regRange({"range", "LAT1 LON1 LAT2 LON2 [--spheroid NAME]",
                                   "spheroid distance (NM) and compass bearing between two "
                                   "positions in decimal degrees",
                                   RunRange});
const vtrtool::Registrar regDest({"dest", "LAT LON HEADING DIST_NM",
                                  "great-circle destination for a compass heading (degrees) and "
                                  "a distance in nautical miles",
                                  RunDest});

} // namespace
