#include "globe/GLogger.h"

#include "base/Convert.h"
#include "base/TextLists.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace vtr {

namespace {

const char* KindWord(TGLogKind kind)
{
  switch (kind) {
  case TGLogKind::Debug:
    return "Debug";
  case TGLogKind::Trace:
    return "Trace";
  case TGLogKind::Error:
    return "Error";
  }
  return "";
}

bool Has(TGLogOptions options, TGLogOption option)
{
  return (options & LogBit(option)) != 0;
}

} // namespace

void TGLogger::ReadParameters(const std::vector<std::string>& parameters)
{
  const std::string prefix = "-" + FName + ":";
  for (const std::string& p : parameters) {
    if (p.size() <= prefix.size() || !SameText(p.substr(0, prefix.size()), prefix)) continue;
    const std::string rest = p.substr(prefix.size());
    const size_t eq = rest.find('=');
    if (eq == std::string::npos) continue;
    const std::string kind = rest.substr(0, eq);
    const std::optional<int32_t> n = TryStrToInt(rest.substr(eq + 1));
    if (!n || *n < 0 || *n > kAllLogLevels) continue;
    const auto levels = static_cast<TGLogLevels>(*n);
    if (SameText(kind, "DEBUG"))
      SetLevels(TGLogKind::Debug, levels);
    else if (SameText(kind, "TRACE"))
      SetLevels(TGLogKind::Trace, levels);
    else if (SameText(kind, "ERROR"))
      SetLevels(TGLogKind::Error, levels);
  }
}

void TGLogger::Log(TGLogKind kind, int level, std::string_view message)
{
  level = std::clamp(level, 1, 8);
  if (kind != TGLogKind::Error && (Levels(kind) & LogBit(level - 1)) == 0) return;
  WriteLine(FormatLine(kind, level, message, std::chrono::system_clock::now()));
}

std::string TGLogger::FormatLine(TGLogKind kind, int level, std::string_view message,
                                 std::chrono::system_clock::time_point when) const
{
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
  const int millis = static_cast<int>(((ms.count() % 1000) + 1000) % 1000);

  std::string line;
  char buf[32];
  if (Has(FOptions, gloDate)) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d ", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    line += buf;
  }
  if (Has(FOptions, gloTime)) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    line += buf;
  }
  if (Has(FOptions, gloTimeMS)) {
    std::snprintf(buf, sizeof buf, ".%03d", millis);
    line += buf;
  }
  if (!line.empty()) line += "  ";
  if (Has(FOptions, gloType)) {
    line += KindWord(kind);
    line += ' ';
  }
  if (Has(FOptions, gloLevel)) line += "[" + std::to_string(std::clamp(level, 1, 8)) + "] ";
  line += message;
  return line;
}

void TGLogManager::RegisterLogger(TGLogger* logger)
{
  if (logger && std::find(FLoggers.begin(), FLoggers.end(), logger) == FLoggers.end())
    FLoggers.push_back(logger);
}

void TGLogManager::UnRegisterLogger(TGLogger* logger)
{
  std::erase(FLoggers, logger);
}

void TGLogManager::Send(TGLogKind kind, int level, std::string_view message)
{
  // A copy: a logger may unregister itself while writing.
  const std::vector<TGLogger*> loggers = FLoggers;
  for (TGLogger* logger : loggers)
    logger->Log(kind, level, message);
}

TGLogManager& LogManager()
{
  static TGLogManager manager;
  return manager;
}

} // namespace vtr
