#include "app/MainWindow.h"

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/ProgramFolder.h"
#include "app/Version.h"
#include "globe/GSpatialDatabase.h"
#include "mapview/MapView.h"
#include "scenario/ScenarioDocument.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <clocale>

namespace vtr {

namespace {

const QSize kClientSize(680, 530);
// In the current folder, not the program folder.
const char* const kDatabaseName = "temp.sdb";

// Renames the file (and a journal beside it) to the name + ".bad", replacing an older one.
void SetAsideDatabase(const std::string& name)
{
  const QString file = QString::fromStdString(name);
  for (const QString& suffix : {QString(), QStringLiteral(".TRN")}) {
    const QString from = file + suffix;
    const QString to = file + ".bad" + suffix;
    if (!QFile::exists(from)) continue;
    QFile::remove(to);
    if (!QFile::rename(from, to))
      throw std::runtime_error("Cannot set " + from.toStdString() + " aside as " +
                               to.toStdString());
  }
}
// The designed panel reaches 5 pixels past the client's right edge and 4 past its bottom,
// which cuts off the memos' scroll bars; it keeps a 2-pixel margin on every side instead.
const QRect kMainPanel(2, 45, 676, 483);

QStringList ToQt(const TextLines& lines)
{
  QStringList out;
  for (const auto& l : lines)
    out << QString::fromUtf8(l.data(), static_cast<qsizetype>(l.size()));
  return out;
}

TextLines FromQt(const QStringList& lines)
{
  TextLines out;
  for (const auto& l : lines)
    out.push_back(l.toUtf8().toStdString());
  return out;
}

QPlainTextEdit* MakeMemo(QWidget* parent)
{
  auto* m = new QPlainTextEdit(parent);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return m;
}

} // namespace

TfrmMockup03::TfrmMockup03(QWidget* parent) : QWidget(parent)
{
  setWindowTitle(QStringLiteral("Vantrel"));
  BuildLayout();
  // The store holds no state of its own; it exists before the views that call it.
  frmUnit1 = std::make_unique<TfrmUnit1>(*this);
  RunGuarded([this] { FormCreate(); });
}

TfrmMockup03::~TfrmMockup03()
{
  // The views go before the database they show and the logs and settings they read; nothing
  // is written on the way out.
  memNotes->removeEventFilter(this);
  delete pnlMain;
  stl.clear();
}

void TfrmMockup03::BuildLayout()
{
  // The 75-pixel buttons are designed for an 8-point face.
  QFont small = font();
  small.setPointSize(8);
  setFont(small);
  resize(kClientSize);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), kClientSize);
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }

  struct ButtonSpec
  {
    QPushButton** field;
    const char* name;
    int left;
    const char* caption;
    const char* hint;
  };
  const ButtonSpec buttons[] = {
      {&btnNew, "btnNew", 0, "New", "Start a new Scenario"},
      {&btnOpen1, "btnOpen1", 74, "Open", "Open a saved Scenario"},
      {&btnSave, "btnSave", 148, "Save", "Save current Scenario"},
      {&btnSaveAs, "btnSaveAs", 222, "Save As", "Save current Scenario\nwith a new name"},
      {&btnHelp, "btnHelp", 296, "Help", "Show the PDF Manual"},
      {&btnOptions, "btnOptions", 370, "Options", "Set global program options"},
      {&btnExit, "btnExit", 444, "Exit", "Close the Vantrel"},
  };
  for (const ButtonSpec& b : buttons) {
    auto* btn = new QPushButton(QString::fromUtf8(b.caption), this);
    btn->setObjectName(QString::fromUtf8(b.name));
    btn->setGeometry(b.left, 0, 75, 19);
    btn->setToolTip(QString::fromUtf8(b.hint));
    *b.field = btn;
  }

  lblTimeInc = new QLabel(QStringLiteral("Time Inc: "), this);
  lblTimeInc->setGeometry(0, 22, 56, 21);
  lblTimeInc->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edtTimeInc = new QLineEdit(QStringLiteral("15"), this);
  edtTimeInc->setObjectName(QStringLiteral("edtTimeInc"));
  edtTimeInc->setGeometry(56, 22, 59, 21);
  edtTimeInc->setToolTip(QStringLiteral("Time increment in seconds for each press of Move button"));
  lblTimeInc->setBuddy(edtTimeInc);
  btnMoveAll = new QPushButton(QStringLiteral("Move All Units"), this);
  btnMoveAll->setObjectName(QStringLiteral("btnMoveAll"));
  btnMoveAll->setGeometry(118, 22, 75, 21);

  pnlMain = new QWidget(this);
  pnlMain->setObjectName(QStringLiteral("pnlMain"));
  pnlMain->setGeometry(kMainPanel);
  auto* layout = new QVBoxLayout(pnlMain);
  layout->setContentsMargins(0, 0, 0, 0);
  splLog = new QSplitter(Qt::Vertical, pnlMain);
  splLog->setObjectName(QStringLiteral("splLog"));
  splLog->setHandleWidth(10);
  splLog->setChildrenCollapsible(false);
  layout->addWidget(splLog);

  pct1 = new QTabWidget(splLog);
  pct1->setObjectName(QStringLiteral("pct1"));
  pct1->setTabPosition(QTabWidget::South);
  pct1->setUsesScrollButtons(false);

  pct2 = new QTabWidget(splLog);
  pct2->setObjectName(QStringLiteral("pct2"));
  pct2->setMinimumHeight(115);
  memELog = MakeMemo(pct2);
  memELog->setObjectName(QStringLiteral("memELog"));
  memNotes = MakeMemo(pct2);
  memNotes->setObjectName(QStringLiteral("memNotes"));
  memNotes->setToolTip(QStringLiteral("Enter scenario notes here."));
  memNotes->installEventFilter(this);
  pct2->addTab(memELog, QStringLiteral("Event Log"));
  pct2->addTab(memNotes, QStringLiteral("Notes"));
  pct2->setCurrentIndex(0);

  splLog->addWidget(pct1);
  splLog->addWidget(pct2);
  splLog->setStretchFactor(0, 1);
  splLog->setStretchFactor(1, 0);
  splLog->setSizes({kMainPanel.height() - 114 - 10, 114});

  connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });
  connect(btnExit, &QPushButton::clicked, this, [this] { Exit1Click(); });
}

void TfrmMockup03::resizeEvent(QResizeEvent* event)
{
  QWidget::resizeEvent(event);
  // pnlMain keeps its distances to all four sides of the designed client area.
  const int right = kClientSize.width() - kMainPanel.right() - 1;
  const int bottom = kClientSize.height() - kMainPanel.bottom() - 1;
  pnlMain->setGeometry(kMainPanel.left(), kMainPanel.top(), width() - kMainPanel.left() - right,
                       height() - kMainPanel.top() - bottom);
}

bool TfrmMockup03::eventFilter(QObject* watched, QEvent* event)
{
  // Leaving the memo for another control; a pointer menu over it, a message box or another
  // application taking the focus is not leaving it.
  if (watched == memNotes && event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
      RunGuarded([this] { memNotesExit(); });
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMockup03::FormCreate()
{
  // Number text always uses "."; our own conversions never read the locale, and this keeps
  // any C library conversion in line with them.
  std::setlocale(LC_NUMERIC, "C");

  const QString folder = ProgramFolder();
  stlLogNotes = std::make_unique<TextLog>(folder + "LogNotes.txt", TextLog::Order::OldestFirst);
  stlLogNotes->Load();
  stlLogEvent = std::make_unique<TextLog>(folder + "LogEvent.txt", TextLog::Order::OldestFirst);
  stlLogEvent->Load();

  stlUnits.clear();
  xmlUnits.Clear();
  xmlUnits.SetReadable(true);

  setWindowTitle(QStringLiteral("Vantrel v.") + GetVersion());

  LoadOptGlobal(SettingsPath());

  OpenSpatialDatabase();
  CreateMapView();

  StartNewScenario();
}

void TfrmMockup03::OpenSpatialDatabase()
{
  SpatialDatabase1 = std::make_unique<TGSpatialDatabase>();
  TGSpatialDatabase& db = *SpatialDatabase1;
  db.SetPageCacheSize(1024);
  db.SetBlobCacheSize(64);
  db.SetReadOnly(false);
  db.SetDataSourceName(kDatabaseName);
  // The map layers only live for a run: a file that cannot be opened, or whose old layers
  // cannot be dropped and compacted (another program's file, or damaged), is kept for whoever
  // wants it, and the map starts on a new one.
  const auto openAndTidy = [&db] {
    db.Open();
    if (const TGSDBLayer* units = db.Layers().LayerByName("Units")) {
      db.DeleteLayer(units->LayerID());
      if (const TGSDBLayer* arrows = db.Layers().LayerByName("DirArrows"))
        db.DeleteLayer(arrows->LayerID());
    }
    db.Compact();
  };
  try {
    openAndTidy();
  } catch (const std::exception& e) {
    LogIt(QStringLiteral("temp.sdb cannot be used (") + e.what() + "); set aside as temp.sdb.bad");
    db.Close();
    SetAsideDatabase(kDatabaseName);
    openAndTidy();
  }
}

void TfrmMockup03::ReportError(const std::exception& e)
{
  ShowException(e);
}

TTSSFrame1& TfrmMockup03::CreateMapView()
{
  const int index = static_cast<int>(stl.size());
  auto* view = new TTSSFrame1(*this, pnlMain);
  view->setObjectName(QStringLiteral("Frame%1").arg(index));
  stl.emplace_back(QString::number(index), view);
  auto* page = new QWidget;
  page->setObjectName(view->objectName());
  const QString caption =
      pct1->count() == 0 ? QStringLiteral("Main Map") : QString::asprintf("New Map %02d", index);
  auto* fill = new QVBoxLayout(page);
  fill->setContentsMargins(0, 0, 0, 0);
  view->setParent(page);
  fill->addWidget(view);
  pct1->addTab(page, caption);
  view->show();
  return *view;
}

void TfrmMockup03::StartNewScenario()
{
  setWindowTitle(QStringLiteral("Vantrel v.") + GetVersion());
  // The document first: a log that cannot be written must not leave the store without units.
  BuildEmptyScenario(xmlUnits, GetVersion().toStdString());
  const QString entry = ScenarioFileName() + " New scenario " + EventStamp();
  LogNotes({entry});
  LogEvent(entry);
  LogIt(QStringLiteral("LoadScen New button pressed"));
}

QString TfrmMockup03::SettingsPath() const
{
  return ProgramFolder() + "Vantrel.ini";
}

QString TfrmMockup03::ScenarioFileName() const
{
  return QFileInfo(strScenFName).fileName();
}

void TfrmMockup03::LogIt(const QString& strLogItem)
{
  if (!stlDebugLog)
    stlDebugLog =
        std::make_unique<TextLog>(ProgramFolder() + "DebugLog.txt", TextLog::Order::NewestFirst);
  stlDebugLog->Add(DebugStamp() + strLogItem);
}

void TfrmMockup03::LogEvent(const QString& entry)
{
  stlLogEvent->Add(entry);
}

void TfrmMockup03::LogNotes(const QStringList& entries)
{
  stlLogNotes->Append(entries);
  stlLogNotes->Save();
}

QStringList TfrmMockup03::NotesLines() const
{
  return ToQt(SplitLines(memNotes->toPlainText().toUtf8().toStdString()));
}

void TfrmMockup03::SetNotesLines(const QStringList& lines)
{
  memNotes->setPlainText(lines.join(u'\n'));
}

void TfrmMockup03::memNotesExit()
{
  QStringList entries{ScenarioFileName() + " Notes exited " + EventStamp()};
  entries += NotesLines();
  LogNotes(entries);
}

void TfrmMockup03::PutNotesScen()
{
  XmlNode note = ScenarioNoteElement(xmlUnits);
  if (note) note.SetText(ToCommaText(FromQt(NotesLines())));
}

void TfrmMockup03::GetNotesScen()
{
  XmlNode note = ScenarioNoteElement(xmlUnits);
  if (note) SetNotesLines(ToQt(FromCommaText(note.Text())));
}

void TfrmMockup03::btnHelpClick()
{
  QDesktopServices::openUrl(QUrl::fromLocalFile(ProgramFolder() + "Vantrel.pdf"));
}

void TfrmMockup03::Exit1Click()
{
  if (intUnits != 0 && MessageDlg(QStringLiteral("Are you sure you want to exit?"),
                                  MsgIcon::Warning, MsgButtons::YesNo) != MsgResult::Yes)
    return;
  close();
}

} // namespace vtr
