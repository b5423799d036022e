#pragma once
// The main window: scenario state, global settings, the three logs, the command buttons, the
// map tabs and the event log and notes memos.

#include "app/Logs.h"
#include "app/Settings.h"
#include "base/TextLists.h"
#include "mapview/MapViewHost.h"
#include "scenario/UnitStore.h"
#include "xml/XmlDocument.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;

namespace vtr {

class TGSpatialDatabase;
class TTSSFrame1;

class TfrmMockup03 : public QWidget,
                     public GlobalSettings,
                     public IUnitStoreHost,
                     public IMapViewHost
{
  Q_OBJECT

public:
  explicit TfrmMockup03(QWidget* parent = nullptr);
  ~TfrmMockup03() override;

  // ---- Scenario state
  QString strScenFName;
  uint32_t intUnits = 0;
  int32_t intUnitsSer = 0;
  int32_t intGlobMSUnitsSer = 0;
  XmlDocument xmlUnits;
  TextLines stlUnits;
  bool blnAutoUpdRan = false;

  std::unique_ptr<TfrmUnit1> frmUnit1;
  // The map layers' backing store, "temp.sdb" in the current folder.
  std::unique_ptr<TGSpatialDatabase> SpatialDatabase1;
  // The map views in creation order, each with the decimal text of its index.
  std::vector<std::pair<QString, TTSSFrame1*>> stl;

  // A map view on a new tab of pct1: "Main Map" for the first, "New Map 01" and so on after.
  TTSSFrame1& CreateMapView();

  // ---- Logs
  void LogIt(const QString& strLogItem) override;
  // Adds one entry to the event log and writes "LogEvent.txt".
  void LogEvent(const QString& entry);
  // Adds entries to the notes log and writes "LogNotes.txt".
  void LogNotes(const QStringList& entries);
  const TextLog* DebugLog() const { return stlDebugLog.get(); }
  const TextLog& EventLog() const { return *stlLogEvent; }
  const TextLog& NotesLog() const { return *stlLogNotes; }
  // The file-name part of strScenFName (empty for a new scenario).
  QString ScenarioFileName() const;

  // ---- Notes
  void PutNotesScen();
  void GetNotesScen();
  QStringList NotesLines() const;
  void SetNotesLines(const QStringList& lines);

  // ---- Handlers
  void memNotesExit();
  void btnHelpClick();
  void Exit1Click();

  // ---- Settings
  QString SettingsPath() const;

  // ---- IUnitStoreHost, IMapViewHost
  XmlDocument& ScenarioDocument() override { return xmlUnits; }
  uint32_t UnitCounter() const override { return intUnits; }
  int8_t HdgArrowDefault() const override { return OptGlobHdgArrowEn; }
  const GlobalSettings& Settings() const override { return *this; }
  TfrmUnit1& UnitStore() override { return *frmUnit1; }
  TGSpatialDatabase& SpatialDatabase() override { return *SpatialDatabase1; }
  int32_t UnitsSerial() const override { return intUnitsSer; }
  int32_t RaiseUnitsSerial() override { return ++intUnitsSer; }
  int32_t GlobMSUnitsSerial() const override { return intGlobMSUnitsSer; }
  // The default error box.
  void ReportError(const std::exception& e) override;

  // ---- Controls
  QPushButton* btnNew = nullptr;
  QPushButton* btnOpen1 = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnSaveAs = nullptr;
  QPushButton* btnHelp = nullptr;
  QPushButton* btnOptions = nullptr;
  QPushButton* btnExit = nullptr;
  QLabel* lblTimeInc = nullptr;
  QLineEdit* edtTimeInc = nullptr;
  QPushButton* btnMoveAll = nullptr;
  QWidget* pnlMain = nullptr;
  QSplitter* splLog = nullptr;
  QTabWidget* pct1 = nullptr;
  QTabWidget* pct2 = nullptr;
  QPlainTextEdit* memELog = nullptr;
  QPlainTextEdit* memNotes = nullptr;

protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void BuildLayout();
  // Opens "temp.sdb", setting a file that is no database aside, and drops the unit layers of
  // a previous run.
  void OpenSpatialDatabase();
  // The new-scenario branch of loading: title, log entries, the empty document.
  void StartNewScenario();

  std::unique_ptr<TextLog> stlDebugLog;
  std::unique_ptr<TextLog> stlLogEvent;
  std::unique_ptr<TextLog> stlLogNotes;
};

} // namespace vtr
