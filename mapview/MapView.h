#pragma once
// A map view: one tactical display on a map tab. A globe control over the shared spatial
// database with the scenario's units in layer "Units" (symbol and name) and their heading
// arrows in "DirArrows", the world outline beneath; an information panel on the left, the
// selected-unit panel on the right and a status bar. Every view shows the same layers and map
// objects with presenters, projection, zoom and selection of its own.

#include "globe/GMapObject.h"
#include "globe/GSysUtils.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTimer;
class QToolButton;

namespace vtr {

class IMapViewHost;
class TGGlobe;
class TGLayer;

// A pair of arrow buttons holding a position in [Min, Max] (the zoom spinner).
class TUpDown : public QWidget
{
  Q_OBJECT

public:
  explicit TUpDown(QWidget* parent = nullptr);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  void SetRange(int min, int max);
  void SetPosition(int value);

signals:
  // After the position moved by one; up is the upper button.
  void Clicked(bool up);

private:
  void Step(bool up);
  QToolButton* up_;
  QToolButton* down_;
  int min_ = 0, max_ = 100, position_ = 0;
};

class TTSSFrame1 : public QWidget
{
  Q_OBJECT

public:
  // Builds the view (FormCreate runs now). The host is borrowed and outlives the view.
  explicit TTSSFrame1(IMapViewHost& host, QWidget* parent = nullptr);
  ~TTSSFrame1() override;

  void FormCreate();
  void MakeUnitPresenters();
  void MakeArrowPresenters();
  // A unit's symbol point in LayerName and its arrow point in "DirArrows". intUnitID = kNoUnit
  // places a new unit at pntSel and adds it to the store; any other value shows a unit of the
  // store.
  void AddObject(const QString& LayerName, const QString& ObjectName, const QString& ObjType,
                 uint32_t intUnitID, bool blnMakeActive);
  void SizeUnitPresenter(const QString& PresenterName, int32_t GUPerPixel);
  void SizeArrowPresenters(int32_t GUPerPixel);
  void GlobeZoomed();
  // Checks the map-scale entry named by the global setting and redraws.
  void ApplyMapScaleSetting();
  // Enables or disables every control of the selected-unit panel.
  void EditsEnable(bool blnEnable);
  // Shows the unit in the selected-unit panel; kNoUnit empties and disables it.
  void DispActUnitInfo(uint32_t intUnitID);

  // The view's layers; null when absent.
  TGLayer* UnitsLayer() const;
  TGLayer* ArrowsLayer() const;

  // ---- State
  TGPointLL ptLast;
  TGPointLL ptClick;
  TGPointLL ptPrevClick;
  std::shared_ptr<IGMapPoint> objLast;
  int32_t intUnitsSer = 0;
  int32_t intGlobMSUnitsSer = 0;
  TGPointLL pntSel;

  // ---- Controls
  QCheckBox* chkFollowAct = nullptr;
  QPushButton* btnClrInfo = nullptr;
  QPlainTextEdit* memInfo = nullptr;
  QSplitter* splitter = nullptr;
  QWidget* pnlGlobe = nullptr;
  TGGlobe* Globe = nullptr;
  TUpDown* UpDown1 = nullptr;
  QStatusBar* stbMap = nullptr;
  QLabel* pnlLoc = nullptr;
  QLabel* pnlDist = nullptr;
  QWidget* pnlUnitInfo = nullptr;
  QLineEdit* edtName = nullptr;
  QLineEdit* edtLat = nullptr;
  QLineEdit* edtLon = nullptr;
  QLineEdit* edtAlt = nullptr;
  QLineEdit* edtHdg = nullptr;
  QLineEdit* edtSpeed = nullptr;
  // Per sensor kind (kSensorTypes order): detected-by (two states) and emitting (three).
  std::array<QCheckBox*, 10> chkSd{};
  std::array<QCheckBox*, 10> chkSe{};
  QCheckBox* ckbEnHdgArrow = nullptr;
  QPlainTextEdit* memNotes = nullptr;
  QPushButton* btnUnitMove = nullptr;

  // ---- Pointer menu and timer
  QMenu* pmnGlbOpt = nullptr;
  QMenu* mniAddUnit = nullptr;
  QAction* N81928bit1 = nullptr;
  QAction* N204816bit1 = nullptr;
  QAction* mniDayNight = nullptr;
  QMenu* mniProjection = nullptr;
  QMenu* mniMapScale = nullptr;
  QAction* mniUnitDel = nullptr;
  // Display refresh every 25 ms.
  QTimer* tmrUnitsChg = nullptr;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildLayout();
  void BuildPointerMenu();
  void ImportWorldOutline();
  // The layer of that name in the globe, created in the database when missing.
  TGLayer& EnsureDatabaseLayer(const std::string& name);

  IMapViewHost& host_;
};

} // namespace vtr
