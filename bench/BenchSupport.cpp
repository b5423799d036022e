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
  return static_cast<int>(Option(argc, argv, "--repetitions", byDefault));
}

double Option(int argc, char** argv, const char* name, double byDefault)
{
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) {
      const double v = std::atof(argv[i + 1]);
      if (v > 0) return v;
    }
  return byDefault;
}

TempFolder::TempFolder(const std::string& area)
{
  path_ = std::filesystem::temp_directory_path() /
          ("vtr-bench-" + area + "-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder()
{
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int64_t FileBytes(const std::string& path)
{
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<int64_t>(n);
}

std::string Thousands(int64_t n)
{
  const std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out = n < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string ProgramFile(const std::string& relative)
{
  return (std::filesystem::path(VTR_PROGRAM_DIR) / relative).string();
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
  const char* header[] = {"measured", "unit", "ours", "peer", "ratio", "target", "met"};
  std::vector<std::vector<std::string>> cells;
  bool all = true;
  for (const auto& r : rows_) {
    const double ratio = std::isnan(r.Peer) || std::isnan(r.Ours) || r.Peer == 0 || r.Ours == 0
                             ? NAN
                             : (r.Rate ? r.Peer / r.Ours : r.Ours / r.Peer);
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
  std::printf("\n%s\n(ratio: ours/peer for times, sizes and differences, peer/ours for rates "
              "(per second); below 1 is better for us)\n\n",
              title_.c_str());
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
