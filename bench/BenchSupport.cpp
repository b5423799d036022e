#include "BenchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vtrbench {

double Median(std::vector<double> values)
{
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Repetitions(int argc, char** argv, int byDefault)
{
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--repetitions") == 0) {
      const int n = std::atoi(argv[i + 1]);
      if (n > 0) return n;
    }
  return byDefault;
}

namespace {

std::string Number(double v)
{
  if (std::isnan(v)) return "-";
  char buf[64];
  const double m = std::fabs(v);
  if (m == 0 || (m >= 0.01 && m < 1e6))
    std::snprintf(buf, sizeof buf, m >= 100 ? "%.1f" : "%.3f", v);
  else
    std::snprintf(buf, sizeof buf, "%.3g", v);
  return buf;
}

} // namespace

bool Table::Print() const
{
  const char* header[] = {"measured", "unit", "ours", "peer", "ours/peer", "target", "met"};
  std::vector<std::vector<std::string>> cells;
  bool all = true;
  for (const auto& r : rows_) {
    const double ratio = std::isnan(r.Peer) || r.Peer == 0 ? NAN : r.Ours / r.Peer;
    cells.push_back({r.Measured, r.Unit, Number(r.Ours), Number(r.Peer), Number(ratio),
                     r.Target.empty() ? "-" : r.Target,
                     r.Target.empty() ? "-" : (r.Met ? "yes" : "NO")});
    if (!r.Target.empty()) all = all && r.Met;
  }
  std::vector<size_t> width;
  for (const char* h : header)
    width.push_back(std::strlen(h));
  for (const auto& row : cells)
    for (size_t i = 0; i < row.size(); ++i)
      width[i] = std::max(width[i], row[i].size());

  auto line = [&](const std::vector<std::string>& row) {
    std::string out = "|";
    for (size_t i = 0; i < row.size(); ++i) {
      // Text left, numbers right.
      const bool right = i >= 2 && i <= 4;
      const std::string pad(width[i] - row[i].size(), ' ');
      out += " " + (right ? pad + row[i] : row[i] + pad) + " |";
    }
    std::puts(out.c_str());
  };
  std::printf("\n%s\n(ours/peer: times and differences, lower is better)\n\n", title_.c_str());
  line(std::vector<std::string>(std::begin(header), std::end(header)));
  std::string rule = "|";
  for (size_t w : width)
    rule += std::string(w + 2, '-') + "|";
  std::puts(rule.c_str());
  for (const auto& row : cells)
    line(row);
  std::fflush(stdout);
  return all;
}

} // namespace vtrbench
