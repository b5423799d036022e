#pragma once
// The engine's log manager: components send debug, trace and error messages to one
// process-wide manager, which hands them to the registered loggers. With no logger registered
// (the program registers none) messages go nowhere and cost one empty loop. Plain C++ (no Qt).
// Single-threaded, like the rest of the engine.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

enum TGLogOption { gloDate, gloTime, gloTimeMS, gloType, gloLevel };
enum TGLogLevel { gllOne, gllTwo, gllThree, gllFour, gllFive, gllSix, gllSeven, gllEight };
enum class TGLogKind { Debug, Trace, Error };

// Sets as bit masks: bit n for option or level n.
using TGLogOptions = uint8_t;
using TGLogLevels = uint8_t;
inline constexpr TGLogOptions kAllLogOptions = 0x1F;
inline constexpr TGLogLevels kAllLogLevels = 0xFF;
constexpr uint8_t LogBit(int n)
{
  return static_cast<uint8_t>(1u << n);
}

// A receiver of log lines. Subclasses say where a line goes (WriteLine).
class TGLogger
{
public:
  explicit TGLogger(std::string name) : FName(std::move(name)) {}
  virtual ~TGLogger() = default;
  TGLogger(const TGLogger&) = delete;
  TGLogger& operator=(const TGLogger&) = delete;

  const std::string& Name() const { return FName; }
  TGLogOptions Options() const { return FOptions; }
  void SetOptions(TGLogOptions options) { FOptions = options; }
  // Levels passed for one kind; errors ignore them.
  TGLogLevels Levels(TGLogKind kind) const { return FLevels[static_cast<int>(kind)]; }
  void SetLevels(TGLogKind kind, TGLogLevels levels) { FLevels[static_cast<int>(kind)] = levels; }

  // Reads parameters "-<Name>:DEBUG=<n>", "-<Name>:TRACE=<n>", "-<Name>:ERROR=<n>" (name and
  // kind without regard to case; n the level set as a number, bit 0 for level one). Other and
  // malformed parameters are ignored.
  void ReadParameters(const std::vector<std::string>& parameters);

  // level 1..8. Formats and writes the line when the kind's level set lets it through.
  void Log(TGLogKind kind, int level, std::string_view message);
  // "yyyy-mm-dd hh:nn:ss.zzz  Trace [2] message", the parts as the options select.
  std::string FormatLine(TGLogKind kind, int level, std::string_view message,
                         std::chrono::system_clock::time_point when) const;

protected:
  virtual void WriteLine(const std::string& line) = 0;

private:
  std::string FName;
  TGLogOptions FOptions = kAllLogOptions;
  TGLogLevels FLevels[3] = {kAllLogLevels, kAllLogLevels, kAllLogLevels};
};

class TGLogManager
{
public:
  TGLogManager() = default;
  TGLogManager(const TGLogManager&) = delete;
  TGLogManager& operator=(const TGLogManager&) = delete;

  // Borrowed: a logger stays registered until UnRegisterLogger and must outlive that.
  void RegisterLogger(TGLogger* logger);
  void UnRegisterLogger(TGLogger* logger);

  void Debug(int level, std::string_view message) { Send(TGLogKind::Debug, level, message); }
  void Trace(int level, std::string_view message) { Send(TGLogKind::Trace, level, message); }
  void Error(std::string_view message, int level = 1) { Send(TGLogKind::Error, level, message); }

private:
  void Send(TGLogKind kind, int level, std::string_view message);
  std::vector<TGLogger*> FLoggers;
};

// The process-wide manager, created on first use.
TGLogManager& LogManager();

} // namespace vtr
