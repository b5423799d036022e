#pragma once
// Shared pieces of the benchmark areas: fixed random streams, timing with medians over
// repetitions (ours and the peer interleaved, so load from elsewhere hits both alike), and the
// comparison table every area prints.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vtrbench {

// Uniform doubles from a 64-bit Mersenne twister with a fixed start value; built by hand so
// the sequence does not depend on the standard library's distributions.
class Rng
{
public:
  explicit Rng(uint64_t start) : gen_(start) {}
  double Uniform(double lo, double hi) { return lo + (hi - lo) * ((gen_() >> 11) * 0x1.0p-53); }

private:
  std::mt19937_64 gen_;
};

// Keeps a result alive so the optimiser cannot drop the work that made it.
template <class T> inline void Keep(const T& value)
{
  asm volatile("" : : "r,m"(value) : "memory");
}

// Seconds of one call of run.
template <class F> double SecondsOf(F&& run)
{
  const auto t0 = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> values);

struct PairTiming
{
  double Ours = 0; // median seconds of one run
  double Peer = 0;
};

// Median seconds over repetitions of ours and of the peer, run in turns after one warm-up run
// of each.
template <class Ours, class Peer> PairTiming TimeBoth(int repetitions, Ours&& ours, Peer&& peer)
{
  ours();
  peer();
  std::vector<double> a, b;
  for (int i = 0; i < repetitions; ++i) {
    a.push_back(SecondsOf(ours));
    b.push_back(SecondsOf(peer));
  }
  return {Median(a), Median(b)};
}

// Repetitions from "--repetitions N" on the command line, else the default.
int Repetitions(int argc, char** argv, int byDefault);
// The positive number after name on the command line ("--name N"), else the default.
double Option(int argc, char** argv, const char* name, double byDefault);

// A private folder for an area's files, removed with everything in it when the object goes.
class TempFolder
{
public:
  explicit TempFolder(const std::string& area);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// n with a comma between groups of three digits, as the table's labels write counts.
std::string Thousands(int64_t n);

// Bytes of a file; 0 when it does not exist.
int64_t FileBytes(const std::string& path);

// A file of the benchmark build's program folder (laid out by the build, like the development
// build's build/bin), for example "GIS/WorldOutline.lyr".
std::string ProgramFile(const std::string& relative);

// One row per comparison: what was measured, ours, the peer's, their ratio and the target it
// is held against. The ratio is ours / peer, or peer / ours for rates (per second), so below 1
// is better for us in every row.
struct Row
{
  std::string Measured;
  std::string Unit;
  double Ours = 0;    // NaN: not measured (printed "-")
  double Peer = 0;    // NaN: no peer value (the peer is the reference)
  std::string Target; // empty: none
  bool Met = true;
  bool Rate = false; // higher is better: the ratio is peer / ours
};

class Table
{
public:
  // title names the area and the two sides.
  explicit Table(std::string title) : title_(std::move(title)) {}
  void Add(Row row) { rows_.push_back(std::move(row)); }
  // Prints the table to stdout; returns whether every target was met.
  bool Print() const;

private:
  std::string title_;
  std::vector<Row> rows_;
};

} // namespace vtrbench
