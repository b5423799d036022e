#pragma once
// What a map view needs from the window that owns the scenario (the main window, or vtrtool's
// headless stand-in): the settings, the unit store and its document, the shared spatial
// database, the debug log, the unit counter and the change serials.

#include <QString>

#include <cstdint>
#include <exception>

namespace vtr {

struct GlobalSettings;
class TfrmUnit1;
class TGSpatialDatabase;
class XmlDocument;

class IMapViewHost
{
public:
  virtual ~IMapViewHost() = default;
  virtual const GlobalSettings& Settings() const = 0;
  virtual TfrmUnit1& UnitStore() = 0;
  virtual XmlDocument& ScenarioDocument() = 0;
  // Open for the whole life of every view.
  virtual TGSpatialDatabase& SpatialDatabase() = 0;
  virtual void LogIt(const QString& strLogItem) = 0;
  // `intUnits`: the identifier the next new unit receives.
  virtual uint32_t UnitCounter() const = 0;
  // `intUnitsSer`; Raise adds 1 and returns the new value.
  virtual int32_t UnitsSerial() const = 0;
  virtual int32_t RaiseUnitsSerial() = 0;
  // `intGlobMSUnitsSer`.
  virtual int32_t GlobMSUnitsSerial() const = 0;
  // A view met damaged input it can do without (an environment file, the world outline, a
  // background image) and goes on without it; the host tells the user (or, headless, fails).
  virtual void ReportError(const std::exception& e) = 0;
  // Whether the view may write files into the program folder (the environment file).
  virtual bool WritesProgramFolder() const { return true; }
};

} // namespace vtr
