// vtrtool render: what a globe control of a given size shows, drawn headless into a PNG file.
#include "Command.h"
#include "RenderSetup.h"

#include "base/Convert.h"
#include "base/DateTime.h"
#include "globe/GGlobe.h"

#include <QElapsedTimer>
#include <QImage>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace {

using vtrtool::UsageError;

std::string NeedValue(const vtrtool::Args& args, size_t& i)
{
  if (i + 1 >= args.size()) throw UsageError{args[i] + " needs a value"};
  return args[++i];
}

double Number(const std::string& text, const std::string& what)
{
  const auto v = vtr::TryStrToFloat(text);
  if (!v || !std::isfinite(*v)) throw UsageError{what + " is not a number: \"" + text + "\""};
  return *v;
}

// "WxH", each 1 to 16384 pixels.
void ParseSize(const std::string& text, vtrtool::RenderOptions& o)
{
  const std::regex re("^([0-9]{1,5})[xX]([0-9]{1,5})$");
  std::smatch m;
  if (!std::regex_match(text, m, re)) throw UsageError{"--size must be WxH: \"" + text + "\""};
  o.width = std::stoi(m[1]);
  o.height = std::stoi(m[2]);
  if (o.width < 1 || o.height < 1 || o.width > 16384 || o.height > 16384)
    throw UsageError{"--size out of range [1, 16384]: " + text};
}

// "LAT,LON" in decimal degrees.
vtr::TGPointLL ParseCenter(const std::string& text)
{
  const size_t comma = text.find(',');
  if (comma == std::string::npos) throw UsageError{"--center must be LAT,LON: \"" + text + "\""};
  const double lat = Number(text.substr(0, comma), "--center latitude");
  const double lon = Number(text.substr(comma + 1), "--center longitude");
  if (lat < -90 || lat > 90 || lon < -180 || lon > 180)
    throw UsageError{"--center out of range: " + text};
  return vtr::DDToPointLL(lon, lat);
}

// "YYYY-MM-DDTHH:MM[:SS][Z]" (or a blank for "T"), UTC.
double ParseUTC(const std::string& text)
{
  const std::regex re(
      "^([0-9]{4})-([0-9]{2})-([0-9]{2})[T ]([0-9]{2}):([0-9]{2})(:([0-9]{2}))?Z?$");
  std::smatch m;
  if (!std::regex_match(text, m, re))
    throw UsageError{"--shadow must be a UTC date-time YYYY-MM-DDTHH:MM[:SS]: \"" + text + "\""};
  vtr::DateTimeFields f;
  f.year = std::stoi(m[1]);
  f.month = std::stoi(m[2]);
  f.day = std::stoi(m[3]);
  f.hour = std::stoi(m[4]);
  f.minute = std::stoi(m[5]);
  f.second = m[7].matched ? std::stoi(m[7]) : 0;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
  if (f.year < 1 || f.month < 1 || f.month > 12 || f.day < 1 ||
      f.day > (f.month == 2 && !leap ? 28 : kDays[f.month - 1]) || f.hour > 23 || f.minute > 59 ||
      f.second > 59)
    throw UsageError{"--shadow is not a valid date-time: \"" + text + "\""};
  return vtr::EncodeDateTime(f);
}

std::string ProjectionClass(const std::string& name)
{
  if (name == "spherical") return "TGSphericalPrj";
  if (name == "cartesian") return "TGCartesianPrj";
  if (name == "mercator") return "TGMercatorPrj";
  throw UsageError{"unknown projection \"" + name + "\" (spherical, cartesian or mercator)"};
}

std::string Fixed(double v, int decimals)
{
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

int RunRender(const vtrtool::Args& args)
{
  vtrtool::RenderOptions o;
  std::string out;
  int frames = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      out = NeedValue(args, i);
    } else if (a == "--size") {
      ParseSize(NeedValue(args, i), o);
    } else if (a == "--projection") {
      o.projection = ProjectionClass(NeedValue(args, i));
    } else if (a == "--center") {
      o.center = ParseCenter(NeedValue(args, i));
    } else if (a == "--gu-per-pixel") {
      const auto v = vtr::TryStrToInt(NeedValue(args, i));
      if (!v || *v < 1) throw UsageError{"--gu-per-pixel must be a whole number of 1 or more"};
      o.guPerPixel = *v;
    } else if (a == "--texture") {
      o.texture = NeedValue(args, i);
    } else if (a == "--shadow") {
      o.shadowUTC = ParseUTC(NeedValue(args, i));
    } else if (a == "--layer") {
      o.layerFiles.push_back(NeedValue(args, i));
    } else if (a == "--sdb") {
      o.sdb = NeedValue(args, i);
    } else if (a == "--frames") {
      const auto v = vtr::TryStrToInt(NeedValue(args, i));
      if (!v || *v < 1 || *v > 100000) throw UsageError{"--frames must be 1 to 100000"};
      frames = *v;
    } else if (!a.starts_with("-") && o.scenario.empty()) {
      o.scenario = a;
    } else {
      throw UsageError{"unknown argument \"" + a + "\""};
    }
  }
  if (out.empty()) throw UsageError{"needs -o OUT.png"};

  if (!o.scenario.empty() && !o.sdb.empty())
    throw UsageError{"draws a scenario or a database, not both"};
  std::unique_ptr<vtrtool::RenderScene> scene = vtrtool::MakeRenderScene(o);
  vtr::TGGlobe* globe = &scene->Globe();
  std::vector<double> times;
  for (int f = 0; f < std::max(frames, 1); ++f) {
    QElapsedTimer timer;
    timer.start();
    globe->RenderFrame();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  const std::unique_ptr<vtr::TGBitmap> picture = globe->GetBitmap(0, 0);
  if (!picture->Image().save(QString::fromStdString(out), "PNG"))
    throw vtrtool::InputError{"cannot write \"" + out + "\""};
  if (frames > 0) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::cout << "frame_ms_median\t" << Fixed(median, 3) << "\n";
  }
  return vtrtool::kOk;
}

const vtrtool::Registrar
    reg({"render",
         "[SCENARIO] -o OUT.png [--size WxH] [--projection spherical|cartesian|mercator] "
         "[--center LAT,LON] [--gu-per-pixel N] [--texture IMAGE] "
         "[--shadow UTC-DATETIME] [--layer FILE]... [--sdb DB] [--frames N]",
         "draws what a globe control of that size (or a map view of the scenario) shows into a PNG "
         "file",
         RunRender, true});

} // namespace
