// vtrtool range and dest, run as the program: output format, conversions and exit codes.
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

struct ToolRun
{
  int code = -1;
  std::string out;
};

ToolRun Vtrtool(const QStringList& args)
{
  QProcess p;
  p.start(QStringLiteral(VTR_PROGRAM_DIR "/vtrtool"), args);
  if (!p.waitForFinished(30000)) return {};
  return {p.exitCode(), p.readAllStandardOutput().toStdString()};
}

TEST(VtrtoolRange, DistanceInNauticalMilesAndCompassBearing)
{
  struct Case
  {
    QStringList args;
    const char* want;
  };
  // WGS84: a degree of latitude at the equator is 110,574.4 m, a degree of longitude there
  // 111,319.5 m (1,852 m to the mile). Due north shows as 360 (the engine's course is never 0).
  const Case cases[] = {
      {{"range", "0", "0", "1", "0"}, "distance_nm\t59.705\tbearing_deg\t360.000\n"},
      {{"range", "0", "0", "0", "1"}, "distance_nm\t60.108\tbearing_deg\t90.000\n"},
      {{"range", "0", "0", "-1", "0"}, "distance_nm\t59.705\tbearing_deg\t180.000\n"},
      {{"range", "0", "0.5", "0", "-0.5"}, "distance_nm\t60.108\tbearing_deg\t270.000\n"},
      {{"range", "0", "179.5", "0", "-179.5"}, "distance_nm\t60.108\tbearing_deg\t90.000\n"},
      {{"range", "10", "20", "10", "20", "--spheroid", "wgs84"},
       "distance_nm\t0.000\tbearing_deg\t270.000\n"},
  };
  for (const auto& c : cases) {
    const ToolRun r = Vtrtool(c.args);
    EXPECT_EQ(r.code, 0) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.out, c.want) << c.args.join(' ').toStdString();
  }
  const ToolRun intl = Vtrtool({"range", "0", "0", "1", "0", "--spheroid", "International1920"});
  EXPECT_EQ(intl.code, 0);
  EXPECT_NE(intl.out, "distance_nm\t59.705\tbearing_deg\t360.000\n");
}

TEST(VtrtoolDest, GreatCircleDestinationForACompassHeading)
{
  struct Case
  {
    QStringList args;
    const char* want;
  };
  // 60 NM on the engine's sphere (radius 309,754,584.54 GU) is 0.998846 degrees of arc.
  const Case cases[] = {
      {{"dest", "0", "0", "90", "60"}, "lat\t0.000000\tlon\t0.998846\n"},
      {{"dest", "0", "0", "0", "60"}, "lat\t0.998846\tlon\t0.000000\n"},
      {{"dest", "0", "0", "-90", "60"}, "lat\t0.000000\tlon\t-0.998846\n"},
      {{"dest", "0", "179.5", "90", "60"}, "lat\t0.000000\tlon\t-179.501154\n"},
  };
  for (const auto& c : cases) {
    const ToolRun r = Vtrtool(c.args);
    EXPECT_EQ(r.code, 0) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.out, c.want) << c.args.join(' ').toStdString();
  }
}

TEST(VtrtoolRangeDest, BadUsageExitsWithOne)
{
  const QStringList bad[] = {
      {"range", "0", "0", "1"},
      {"range", "x", "0", "1", "0"},
      {"range", "91", "0", "1", "0"},
      {"range", "0", "0", "1", "0", "--spheroid", "Flat"},
      {"range", "0", "0", "1", "0", "--spheroid"},
      {"dest", "0", "0", "90"},
      {"dest", "0", "0", "90", "1e9"},
  };
  for (const auto& args : bad)
    EXPECT_EQ(Vtrtool(args).code, 1) << args.join(' ').toStdString();
}

} // namespace
