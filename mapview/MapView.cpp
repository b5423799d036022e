#include "mapview/MapView.h"

#include "app/ProgramFolder.h"
#include "app/Settings.h"
#include "base/Convert.h"
#include "base/TextLists.h"
#include "globe/GGlobe.h"
#include "globe/GLYRReader.h"
#include "globe/GSpatialDatabase.h"
#include "mapview/MapViewHost.h"
#include "mapview/MapViewSetup.h"
#include "mapview/VTRPointPresenter.h"
#include "scenario/UnitStore.h"
#include "xml/XmlDocument.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vtr {

namespace {

struct UnitKind
{
  const char* presenter; // also the image's base name under icons/
  const char* menuEntry;
};
constexpr UnitKind kUnitKinds[6] = {{"uSpace", "Space"},
                                    {"uAir", "Air"},
                                    {"uSurface", "Surface"},
                                    {"uLand", "Land"},
                                    {"uSubsurface", "Sub Surface"},
                                    {"uOrdnance", "Ordnance"}};

struct ProjectionEntry
{
  const char* name;
  const char* caption;
  bool enabled;
};
constexpr ProjectionEntry kProjections[12] = {
    {"mniProjMerc", "Mercator", true},
    {"mniProjSpher", "Spherical", true},
    {"mniProjCart", "Cartesian", true},
    {"mniProjAEQ2", "Azimuthal Equidistant 2", false},
    {"mniProjAEQ", "Azimuthal Equidistant", false},
    {"mniProjBCEA", "Behrmann Cylindrical Equal Area", false},
    {"mniProjBonn", "Bonne", false},
    {"mniProjCEA", "Cylindrical Equal Area", false},
    {"mniProjEqui", "Equidistant", false},
    {"mniProjPete", "Peters", false},
    {"mniProjSinu", "Sinusoidal", false},
    {"mniProjGnom", "Gnomonic", false}};

// Row hints of the sensor grid, in kSensorTypes order.
constexpr const char* kSensorHints[10] = {"Air (search) Radar",
                                          "Surface (search) Radar",
                                          "Active Sonar",
                                          "Passive Sonar",
                                          "Towed Array Sonar",
                                          "Electronic Support Measures",
                                          "Visual",
                                          "Infrared",
                                          "Magnetic Anomoly Detector",
                                          "Other"};

constexpr int kInfoWidth = 175;
constexpr int kUnitPanelWidth = 160;

TColor ToTColor(const QColor& c)
{
  return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

std::string Std(const QString& s)
{
  return s.toStdString();
}

QString Q(const std::string& s)
{
  return QString::fromStdString(s);
}

// "Arrow" and the heading as three digits; headings outside 0..359 turn into it first.
std::string ArrowName(int32_t heading)
{
  const int32_t h = ((heading % 360) + 360) % 360;
  return QString::asprintf("Arrow%03d", h).toStdString();
}

QLabel* Caption(const char* text, QWidget* parent)
{
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  return l;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TUpDown

TUpDown::TUpDown(QWidget* parent) : QWidget(parent)
{
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setFixedSize(17, 12);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { Step(true); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(false); });
  setFixedSize(17, 24);
}

void TUpDown::SetRange(int min, int max)
{
  min_ = min;
  max_ = std::max(min, max);
  SetPosition(position_);
}

void TUpDown::SetPosition(int value)
{
  position_ = std::clamp(value, min_, max_);
}

void TUpDown::Step(bool up)
{
  SetPosition(position_ + (up ? 1 : -1));
  emit Clicked(up);
}

// ---------------------------------------------------------------------------------------------
// TTSSFrame1

TTSSFrame1::TTSSFrame1(IMapViewHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
  RegisterMapViewClasses();
  BuildLayout();
  BuildPointerMenu();
  tmrUnitsChg = new QTimer(this);
  tmrUnitsChg->setObjectName(QStringLiteral("tmrUnitsChg"));
  tmrUnitsChg->setInterval(25);
  Globe->OnZoomed = [this](TGGlobe&) { GlobeZoomed(); };
  Globe->SetSpatialDatabase(&host_.SpatialDatabase());
  FormCreate();
}

TTSSFrame1::~TTSSFrame1() = default;

void TTSSFrame1::BuildLayout()
{
  setWindowFlags(Qt::FramelessWindowHint);
  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setChildrenCollapsible(false);
  outer->addWidget(splitter);

  // Information panel.
  auto* pnlInfo = new QWidget(splitter);
  pnlInfo->setObjectName(QStringLiteral("pnlInfo"));
  auto* info = new QVBoxLayout(pnlInfo);
  info->setContentsMargins(2, 2, 2, 2);
  chkFollowAct = new QCheckBox(QStringLiteral("Track Selected Unit"), pnlInfo);
  chkFollowAct->setObjectName(QStringLiteral("chkFollowAct"));
  info->addWidget(chkFollowAct);
  auto* infoRow = new QHBoxLayout;
  infoRow->addWidget(Caption("Information:", pnlInfo));
  btnClrInfo = new QPushButton(QStringLiteral("Clear Info"), pnlInfo);
  btnClrInfo->setObjectName(QStringLiteral("btnClrInfo"));
  infoRow->addWidget(btnClrInfo);
  info->addLayout(infoRow);
  memInfo = new QPlainTextEdit(pnlInfo);
  memInfo->setObjectName(QStringLiteral("memInfo"));
  memInfo->setReadOnly(true);
  memInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  info->addWidget(memInfo, 1);

  // Globe panel: the globe, the zoom spinner over its lower left corner, the status bar.
  pnlGlobe = new QWidget(splitter);
  pnlGlobe->setObjectName(QStringLiteral("pnlGlobe"));
  auto* globeBox = new QVBoxLayout(pnlGlobe);
  globeBox->setContentsMargins(0, 0, 0, 0);
  globeBox->setSpacing(0);
  Globe = new TGGlobe(pnlGlobe);
  Globe->setObjectName(QStringLiteral("Globe"));
  ApplyMapViewConfiguration(*Globe);
  globeBox->addWidget(Globe, 1);
  stbMap = new QStatusBar(pnlGlobe);
  stbMap->setObjectName(QStringLiteral("stbMap"));
  stbMap->setSizeGripEnabled(false);
  pnlLoc = new QLabel(stbMap);
  pnlLoc->setObjectName(QStringLiteral("pnlLoc"));
  pnlLoc->setFixedWidth(325);
  pnlDist = new QLabel(QStringLiteral("pnlDist"), stbMap);
  pnlDist->setObjectName(QStringLiteral("pnlDist"));
  pnlDist->setFixedWidth(150);
  stbMap->addWidget(pnlLoc);
  stbMap->addWidget(pnlDist);
  globeBox->addWidget(stbMap);
  UpDown1 = new TUpDown(pnlGlobe);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setToolTip(QStringLiteral("Zoom In/Out"));
  UpDown1->SetRange(0, 5000);
  UpDown1->SetPosition(2500);
  pnlGlobe->installEventFilter(this);

  // Selected-unit panel; it scrolls when the view is too low to show it whole.
  auto* unitScroll = new QScrollArea(splitter);
  unitScroll->setObjectName(QStringLiteral("sbxUnitInfo"));
  unitScroll->setWidgetResizable(true);
  unitScroll->setFrameShape(QFrame::NoFrame);
  unitScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  pnlUnitInfo = new QWidget;
  pnlUnitInfo->setObjectName(QStringLiteral("pnlUnitInfo"));
  auto* unit = new QVBoxLayout(pnlUnitInfo);
  unit->setContentsMargins(2, 2, 2, 2);
  unit->setSpacing(2);
  unit->addWidget(Caption("Selected Unit", pnlUnitInfo));
  auto* edits = new QGridLayout;
  edits->setSpacing(2);
  const struct
  {
    QLineEdit** field;
    const char* name;
    const char* caption;
    const char* hint;
  } editSpecs[] = {{&edtName, "edtName", "Name: ", nullptr},
                   {&edtLat, "edtLat", "Lat: ", nullptr},
                   {&edtLon, "edtLon", "Lon: ", nullptr},
                   {&edtAlt, "edtAlt", "Alt: ", "Value in Meters"},
                   {&edtHdg, "edtHdg", "Hdg: ", "Heading in degrees"},
                   {&edtSpeed, "edtSpeed", "Speed: ", "Speed in Knots"}};
  int row = 0;
  for (const auto& e : editSpecs) {
    auto* edit = new QLineEdit(pnlUnitInfo);
    edit->setObjectName(QString::fromUtf8(e.name));
    edit->setFixedHeight(18);
    if (e.hint) edit->setToolTip(QString::fromUtf8(e.hint));
    QLabel* label = Caption(e.caption, pnlUnitInfo);
    label->setBuddy(edit);
    edits->addWidget(label, row, 0);
    edits->addWidget(edit, row, 1);
    *e.field = edit;
    ++row;
  }
  unit->addLayout(edits);

  // The ten sensor rows in two columns of five, so the panel fits the window's height.
  auto* sensors = new QGridLayout;
  sensors->setHorizontalSpacing(2);
  sensors->setVerticalSpacing(0);
  for (int group = 0; group < 2; ++group) {
    QLabel* d = Caption("D", pnlUnitInfo);
    d->setToolTip(QStringLiteral("Detected By..."));
    QLabel* e = Caption("E", pnlUnitInfo);
    e->setToolTip(QStringLiteral("Emitting or Using..."));
    sensors->addWidget(d, 0, group * 3 + 1, Qt::AlignHCenter);
    sensors->addWidget(e, 0, group * 3 + 2, Qt::AlignHCenter);
  }
  for (int i = 0; i < 10; ++i) {
    const QString kind = QString::fromUtf8(kSensorTypes[i]);
    const int row = i % 5 + 1, column = i / 5 * 3;
    QLabel* label = Caption(kSensorTypes[i], pnlUnitInfo);
    label->setToolTip(QString::fromUtf8(kSensorHints[i]));
    chkSd[i] = new QCheckBox(pnlUnitInfo);
    chkSd[i]->setObjectName("chkSd" + kind);
    chkSe[i] = new QCheckBox(pnlUnitInfo);
    chkSe[i]->setObjectName("chkSe" + kind);
    chkSe[i]->setTristate(true);
    sensors->addWidget(label, row, column);
    sensors->addWidget(chkSd[i], row, column + 1, Qt::AlignHCenter);
    sensors->addWidget(chkSe[i], row, column + 2, Qt::AlignHCenter);
  }
  unit->addLayout(sensors);

  ckbEnHdgArrow = new QCheckBox(QStringLiteral("Hdg Arrow"), pnlUnitInfo);
  ckbEnHdgArrow->setObjectName(QStringLiteral("ckbEnHdgArrow"));
  ckbEnHdgArrow->setToolTip(QStringLiteral("Show Heading Arrow for this unit?"));
  unit->addWidget(ckbEnHdgArrow);
  unit->addWidget(Caption("Notes:", pnlUnitInfo));
  memNotes = new QPlainTextEdit(pnlUnitInfo);
  memNotes->setObjectName(QStringLiteral("memNotes"));
  memNotes->setMinimumHeight(36);
  unit->addWidget(memNotes, 1);
  btnUnitMove = new QPushButton(QStringLiteral("Move Unit"), pnlUnitInfo);
  btnUnitMove->setObjectName(QStringLiteral("btnUnitMove"));
  unit->addWidget(btnUnitMove);

  unitScroll->setWidget(pnlUnitInfo);
  unitScroll->setMinimumWidth(kUnitPanelWidth);
  splitter->addWidget(pnlInfo);
  splitter->addWidget(pnlGlobe);
  splitter->addWidget(unitScroll);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setStretchFactor(2, 0);
  splitter->setSizes({kInfoWidth, 400, kUnitPanelWidth});
}

void TTSSFrame1::BuildPointerMenu()
{
  pmnGlbOpt = new QMenu(this);
  pmnGlbOpt->setObjectName(QStringLiteral("pmnGlbOpt"));

  mniAddUnit = pmnGlbOpt->addMenu(QStringLiteral("Add Unit"));
  for (const UnitKind& k : kUnitKinds)
    mniAddUnit->addAction(QString::fromUtf8(k.menuEntry))
        ->setObjectName(QStringLiteral("mniAdd") + QString::fromUtf8(k.presenter));

  QMenu* textures = pmnGlbOpt->addMenu(QStringLiteral("Textured Map"));
  auto* textureGroup = new QActionGroup(textures);
  textureGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  N81928bit1 = textures->addAction(QStringLiteral("8192-8bit"));
  N81928bit1->setObjectName(QStringLiteral("N81928bit1"));
  N204816bit1 = textures->addAction(QStringLiteral("2048-16bit"));
  N204816bit1->setObjectName(QStringLiteral("N204816bit1"));
  for (QAction* a : {N81928bit1, N204816bit1}) {
    a->setCheckable(true);
    textureGroup->addAction(a);
  }

  mniDayNight = pmnGlbOpt->addAction(QStringLiteral("Day/Night Shadow"));
  mniDayNight->setObjectName(QStringLiteral("mniDayNight"));
  mniDayNight->setCheckable(true);

  mniProjection = pmnGlbOpt->addMenu(QStringLiteral("Map Projection"));
  for (const ProjectionEntry& p : kProjections) {
    QAction* a = mniProjection->addAction(QString::fromUtf8(p.caption));
    a->setObjectName(QString::fromUtf8(p.name));
    a->setCheckable(true);
    a->setEnabled(p.enabled);
    a->setChecked(std::string_view(p.name) == "mniProjSpher");
  }

  mniMapScale = pmnGlbOpt->addMenu(QStringLiteral("Map Scale"));
  auto* scaleGroup = new QActionGroup(mniMapScale);
  for (const MapScaleKey& k : kMapScaleKeys) {
    QAction* a = mniMapScale->addAction(QString::fromUtf8(k.entry));
    a->setObjectName(QString::fromUtf8(k.key));
    a->setCheckable(true);
    a->setChecked(std::string_view(k.key) == "mniMSnm");
    scaleGroup->addAction(a);
  }

  pmnGlbOpt->addSeparator();
  mniUnitDel = pmnGlbOpt->addAction(QStringLiteral("Delete Unit"));
  mniUnitDel->setObjectName(QStringLiteral("mniUnitDel"));
  mniUnitDel->setVisible(false);
}

bool TTSSFrame1::eventFilter(QObject* watched, QEvent* event)
{
  // The zoom spinner sits over the globe's lower left corner, above the status bar.
  if (watched == pnlGlobe && event->type() == QEvent::Resize) {
    UpDown1->move(2, pnlGlobe->height() - stbMap->height() - UpDown1->height() - 2);
    UpDown1->raise();
  }
  return QWidget::eventFilter(watched, event);
}

void TTSSFrame1::FormCreate()
{
  pnlGlobe->setMinimumSize(25, 75);
  const QString folder = ProgramFolder();
  // Optional files that turn out damaged are reported and done without: the view is built all
  // the same.
  const auto optional = [this](const char* step, auto&& load) {
    try {
      load();
    } catch (const std::exception& e) {
      host_.LogIt(QStringLiteral("TTSSFrame1.FormCreate ") + step + ": " + e.what());
      host_.ReportError(e);
    }
  };

  // The environment file is rewritten in the program's current form, never created here.
  const QString env = folder + "temp.env";
  optional("temp.env", [&] {
    if (QFile::exists(env)) Globe->LoadEnvironmentFromFile(Std(env));
    if (QFile::exists(env) && host_.WritesProgramFolder()) Globe->SaveEnvironmentToFile(Std(env));
  });

  Globe->Renderer().SelectedBrush().SetStyle(gbsClear);
  Globe->Renderer().SelectedPen().SetWidth(2);

  const QString background = folder + "icons/vtrsmall.bmp";
  optional("icons/vtrsmall.bmp", [&] {
    if (QFile::exists(background)) Globe->BackgroundImage().LoadFromFile(Std(background));
  });

  N81928bit1->setEnabled(QFile::exists(folder + "Textures/8192-8bit.bmp"));
  N204816bit1->setEnabled(QFile::exists(folder + "Textures/2048-16bit.bmp"));

  optional("GIS/WorldOutline.lyr", [&] { ImportWorldOutline(); });
  ApplyMapScaleSetting();

  EnsureDatabaseLayer("Units");
  TGLayer& arrows = EnsureDatabaseLayer("DirArrows");
  arrows.SetSelectable(false);
  arrows.SetEnabled(false);

  MakeUnitPresenters();
  MakeArrowPresenters();
  EditsEnable(false);
}

void TTSSFrame1::ImportWorldOutline()
{
  const QString file = ProgramFolder() + "GIS/WorldOutline.lyr";
  if (!QFile::exists(file)) return;
  TGSpatialDatabase& db = host_.SpatialDatabase();
  if (TGLayer* old = Globe->Layers().LayerByName("WorldOutline"))
    db.DeleteLayer(old->ObjectSource().UniqueID());
  std::unique_ptr<TGFileDataReader> reader = DataReaderForFile(Globe, Std(file));
  if (reader) db.ImportLayer(reader.get());
}

TGLayer& TTSSFrame1::EnsureDatabaseLayer(const std::string& name)
{
  if (TGLayer* layer = Globe->Layers().LayerByName(name)) return *layer;
  const TGUID id = host_.SpatialDatabase().CreateLayer(name);
  TGLayer* layer = Globe->Layers().LayerByID(id);
  if (!layer) throw EGException("TTSSFrame1: database layer " + name + " did not reach the globe");
  layer->Post();
  return *layer;
}

TGLayer* TTSSFrame1::UnitsLayer() const
{
  return Globe->Layers().LayerByName("Units");
}

TGLayer* TTSSFrame1::ArrowsLayer() const
{
  return Globe->Layers().LayerByName("DirArrows");
}

void TTSSFrame1::MakeUnitPresenters()
{
  TGLayer* units = UnitsLayer();
  if (!units) return;
  TGPresenterStore& store = units->Presenters();
  if (store.Count() > 3) store.Clear();
  const GlobalSettings& settings = host_.Settings();
  const QString folder = ProgramFolder();
  for (const UnitKind& k : kUnitKinds) {
    auto p = std::make_unique<TGVTRPointPresenter>(Globe);
    p->SetName(k.presenter);
    p->SetPointType(TGVTRPointPresenterType::ppImage);
    p->SetPointUnit(guPixel);
    auto image = std::make_shared<TGBitmap>();
    const QString file = folder + "icons/" + k.presenter + ".bmp";
    // A missing or unreadable symbol leaves an empty image, which draws nothing.
    if (QFile::exists(file)) {
      try {
        image->LoadFromFile(Std(file));
      } catch (const std::exception& e) {
        host_.LogIt(QStringLiteral("TTSSFrame1.MakeUnitPresenters ") + e.what());
      }
    }
    image->SetTransparentColor(clWhite);
    image->SetAlphaBlend(254);
    p->SetImage(image);
    p->SetPointSize(image->Width());
    p->SetMaxPointSize(image->Width());
    TGFont& font = p->TitleFont();
    font.SetColor(ToTColor(settings.OptGlobUDBInactiveClr));
    font.SetStyle(FontStyleBit(gfsBold));
    font.SetSizeUnit(guPixel);
    p->SetTitleAlignment(taTop);
    store.Add(std::move(p));
    SizeUnitPresenter(k.presenter, Globe->Projector().GUPerPixel());
  }
}

void TTSSFrame1::MakeArrowPresenters()
{
  TGLayer* arrows = ArrowsLayer();
  if (!arrows) return;
  TGPresenterStore& store = arrows->Presenters();
  if (store.Count() >= 360) store.Clear();
  const GlobalSettings& settings = host_.Settings();
  const TColor color = ToTColor(settings.OptGlobHdgArrowClr);
  const bool shown = settings.OptGlobHdgArrowEn == 1;
  for (int16_t i = 0; i < 360; ++i) {
    auto p = std::make_unique<TGVTRPointPresenter>(Globe);
    p->SetName(ArrowName(i));
    p->SetPointType(TGVTRPointPresenterType::ppArrow);
    p->SetPointUnit(guPixel);
    p->SetAngleDeg(i);
    p->SetPointSize(settings.OptGlobHdgArrowLen);
    p->SetMaxPointSize(settings.OptGlobHdgArrowLen);
    p->PointPen().Define(color, shown ? gpsSolid : gpsClear, 2, guPixel);
    p->PointBrush().Define(color, color, shown ? gbsSolid : gbsClear);
    store.Add(std::move(p));
  }
  SizeArrowPresenters(Globe->Projector().GUPerPixel());
}

namespace {

void SizePresenter(TGPresenter* presenter, int32_t size)
{
  auto* p = dynamic_cast<TGPointPresenter*>(presenter);
  if (!p) return;
  p->SetPointSize(size);
  p->SetTitleOffset(size / 2);
  p->TitleFont().SetSize(size / 2);
}

} // namespace

void TTSSFrame1::SizeUnitPresenter(const QString& PresenterName, int32_t GUPerPixel)
{
  TGLayer* units = UnitsLayer();
  if (!units) return;
  SizePresenter(units->Presenters().ByName(Std(PresenterName)), UnitSymbolSize(GUPerPixel));
}

void TTSSFrame1::SizeArrowPresenters(int32_t GUPerPixel)
{
  TGLayer* arrows = ArrowsLayer();
  if (!arrows) return;
  const int32_t size = ArrowSize(GUPerPixel, host_.Settings().OptGlobHdgArrowLen);
  TGPresenterStore& store = arrows->Presenters();
  for (int32_t i = 0; i < store.Count(); ++i)
    SizePresenter(&store.GetPresenter(i), size);
}

void TTSSFrame1::GlobeZoomed()
{
  const int32_t g = Globe->Projector().GUPerPixel();
  for (const UnitKind& k : kUnitKinds)
    SizeUnitPresenter(k.presenter, g);
  SizeArrowPresenters(g);
}

void TTSSFrame1::ApplyMapScaleSetting()
{
  const QString key = host_.Settings().OptGlobMSUnits;
  QAction* chosen = nullptr;
  QAction* meter = nullptr;
  for (QAction* a : mniMapScale->actions()) {
    if (a->objectName() == key) chosen = a;
    if (a->objectName() == QLatin1String("mniMSm")) meter = a;
  }
  (chosen ? chosen : meter)->setChecked(true);
  intGlobMSUnitsSer = host_.GlobMSUnitsSerial();
  Globe->viewport()->update();
  Globe->RedrawLayers();
}

void TTSSFrame1::EditsEnable(bool blnEnable)
{
  for (QWidget* w : pnlUnitInfo->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    w->setEnabled(blnEnable);
}

void TTSSFrame1::DispActUnitInfo(uint32_t intUnitID)
{
  TfrmUnit1& store = host_.UnitStore();
  if (intUnitID == kNoUnit) {
    for (QLineEdit* e : {edtName, edtLat, edtLon, edtAlt, edtHdg, edtSpeed})
      e->clear();
    memNotes->clear();
    for (int i = 0; i < 10; ++i) {
      chkSd[i]->setCheckState(Qt::Unchecked);
      chkSe[i]->setCheckState(Qt::Unchecked);
    }
    ckbEnHdgArrow->setCheckState(Qt::Unchecked);
    EditsEnable(false);
  } else {
    const auto item = [&](const char* name) { return store.GetUnit(intUnitID, name); };
    edtName->setText(item("Name"));
    edtLat->setText(Q(LLToStr(DDToGU(StrToFloat(Std(item("Lat")))), "%D.%M.%S%N")));
    edtLon->setText(Q(LLToStr(DDToGU(StrToFloat(Std(item("Lon")))), "%D.%M.%S%E")));
    edtAlt->setText(item("Alt"));
    edtHdg->setText(item("Hdg"));
    edtSpeed->setText(item("Speed"));
    QStringList notes;
    for (const std::string& line : FromCommaText(Std(item("Notes"))))
      notes << Q(line);
    memNotes->setPlainText(notes.join(u'\n'));
    const auto state = [](TCheckBoxState s) {
      return s == cbChecked ? Qt::Checked : s == cbGrayed ? Qt::PartiallyChecked : Qt::Unchecked;
    };
    for (int i = 0; i < 10; ++i) {
      chkSd[i]->setCheckState(state(store.GetUnitSens(intUnitID, QString("d") + kSensorTypes[i])));
      chkSe[i]->setCheckState(state(store.GetUnitSens(intUnitID, QString("e") + kSensorTypes[i])));
    }
    ckbEnHdgArrow->setCheckState(state(store.GetUnitHdgArrow(intUnitID)));
    EditsEnable(true);
  }
  ckbEnHdgArrow->setEnabled(intUnitID != kNoUnit && host_.Settings().OptGlobHdgArrowEn == 1);
}

void TTSSFrame1::AddObject(const QString& LayerName, const QString& ObjectName,
                           const QString& ObjType, uint32_t intUnitID, bool blnMakeActive)
{
  TGLayer* layer = Globe->Layers().LayerByName(Std(LayerName));
  TGLayer* arrows = ArrowsLayer();
  if (!layer || !arrows) throw EGException("TTSSFrame1.AddObject: no layer " + Std(LayerName));
  TGPresenter* presenter = layer->Presenters().ByName(Std(ObjType));
  TfrmUnit1& store = host_.UnitStore();
  const bool isNew = intUnitID == kNoUnit;

  // Where the unit stands: the pointer's last press for a new unit, else the store's values.
  const auto position = [&]() {
    if (isNew) return pntSel;
    TGPointLL pt;
    pt.iLongX = DDToGU(StrToFloat(Std(store.GetUnit(intUnitID, "Lon"))));
    pt.iLatY = DDToGU(StrToFloat(Std(store.GetUnit(intUnitID, "Lat"))));
    pt.iHeightZ = UnitsToGU(guMeter, StrToFloat(Std(store.GetUnit(intUnitID, "Alt"))));
    return pt;
  };
  const uint32_t id = isNew ? host_.UnitCounter() : intUnitID;
  const std::string userID = std::to_string(id);

  auto unit = std::make_shared<TGMapPoint>();
  unit->SetCentroid(position());
  unit->SetAttribute(0, Std(ObjectName));
  unit->SetPresenterID(presenter ? presenter->PresenterID() : 0);
  unit->SetUserID(userID);
  unit->Invalidate();
  layer->ObjectSource().Add(unit);

  auto arrow = std::make_shared<TGMapPoint>();
  arrow->SetCentroid(position());
  const std::string arrowName =
      isNew ? "Arrow000" : ArrowName(StrToInt(Std(store.GetUnit(intUnitID, "Hdg"))));
  TGPresenter* arrowPresenter = arrows->Presenters().ByName(arrowName);
  arrow->SetPresenterID(arrowPresenter ? arrowPresenter->PresenterID() : 0);
  if (store.GetUnitHdgArrow(id) == cbUnchecked) arrow->SetPresenterID(0);
  arrow->SetUserID(userID);
  arrow->Invalidate();
  arrows->ObjectSource().Add(arrow);

  if (blnMakeActive) {
    Globe->ClearSelected();
    layer->SelectObjects(unit->ObjectMER(), false, true, true);
  }

  if (LayerName == QLatin1String("Units") && isNew) {
    const XmlNode units = host_.ScenarioDocument().Root().ChildByName("units");
    // The scenario's start time is asked for when its first unit is placed.
    if (!units || units.ChildCount() == 0)
      if (store.OnShowScenarioOptions) store.OnShowScenarioOptions();
    store.UnitAdd(ObjType, ObjectName, Q(FloatToStrDot(GUToDD(pntSel.iLatY))),
                  Q(FloatToStrDot(GUToDD(pntSel.iLongX))));
  }

  if (blnMakeActive) {
    host_.LogIt("TTSSFrame1.AddObject DispActUnitInfo " + Q(userID));
    DispActUnitInfo(id);
    objLast.reset();
    Globe->RedrawLayers();
  }
  intUnitsSer = host_.RaiseUnitsSerial();
}

} // namespace vtr
