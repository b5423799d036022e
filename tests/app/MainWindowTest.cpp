#include "AppFixture.h"
#include "TestSupport.h"

#include "app/Logs.h"
#include "app/MainWindow.h"
#include "app/Version.h"
#include "base/Convert.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include <memory>

using namespace vtr;
using vtrtest::AppFixture;

namespace {

class MainWindow : public AppFixture
{
protected:
  QStringList FileLines(const QString& name)
  {
    QString text = QString::fromLocal8Bit(vtrtest::ReadFile(Path(name)));
    QStringList lines = text.split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
      lines.removeLast();
    return lines;
  }
  // Leaves the notes memo the way the user does: focus elsewhere.
  static void LeaveNotes(TfrmMockup03& w)
  {
    w.memNotes->setFocus();
    QApplication::processEvents();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w.memNotes, &out);
  }
};

const QRegularExpression kDebugStamp(R"(^\d{8} \d\d.\d\d.\d\d\.\d{3} )");

} // namespace

TEST_F(MainWindow, LayoutCaptionsAndHints)
{
  TfrmMockup03 w;
  EXPECT_EQ(w.windowTitle(), "Vantrel v." + GetVersion());
  EXPECT_TRUE(QRegularExpression(R"(^\d+\.\d+\.\d+\.\d+$)").match(GetVersion()).hasMatch());
  EXPECT_EQ(w.size(), QSize(680, 530));
  const struct
  {
    QPushButton* b;
    const char* caption;
    const char* hint;
    QRect where;
  } buttons[] = {
      {w.btnNew, "New", "Start a new Scenario", {0, 0, 75, 19}},
      {w.btnOpen1, "Open", "Open a saved Scenario", {74, 0, 75, 19}},
      {w.btnSave, "Save", "Save current Scenario", {148, 0, 75, 19}},
      {w.btnSaveAs, "Save As", "Save current Scenario\nwith a new name", {222, 0, 75, 19}},
      {w.btnHelp, "Help", "Show the PDF Manual", {296, 0, 75, 19}},
      {w.btnOptions, "Options", "Set global program options", {370, 0, 75, 19}},
      {w.btnExit, "Exit", "Close the Vantrel", {444, 0, 75, 19}},
      {w.btnMoveAll, "Move All Units", "", {118, 22, 75, 21}},
  };
  for (const auto& b : buttons) {
    EXPECT_EQ(b.b->text(), b.caption);
    EXPECT_EQ(b.b->toolTip(), b.hint);
    EXPECT_EQ(b.b->geometry(), b.where) << b.caption;
  }
  EXPECT_EQ(w.edtTimeInc->text(), "15");
  EXPECT_EQ(w.edtTimeInc->toolTip(), "Time increment in seconds for each press of Move button");
  EXPECT_EQ(w.pct2->tabText(0), "Event Log");
  EXPECT_EQ(w.pct2->tabText(1), "Notes");
  EXPECT_EQ(w.pct2->currentIndex(), 0);
  EXPECT_EQ(w.pct1->tabPosition(), QTabWidget::South);
  EXPECT_EQ(w.memNotes->toolTip(), "Enter scenario notes here.");
  EXPECT_EQ(w.memNotes->lineWrapMode(), QPlainTextEdit::NoWrap);

  // pnlMain follows all four sides.
  w.show();
  w.resize(800, 600);
  QApplication::processEvents();
  EXPECT_EQ(w.pnlMain->geometry(), QRect(2, 45, 796, 553));
}

TEST_F(MainWindow, StartsWithDefaultsAndAnEmptyScenario)
{
  TfrmMockup03 w;
  EXPECT_EQ(w.OptGlobHdgArrowLen, 75);
  EXPECT_EQ(w.OptGlobMSUnits, "mniMSnm");
  EXPECT_EQ(w.intUnits, 0u);
  EXPECT_TRUE(w.xmlUnits.Root().ChildByName("units"));
  EXPECT_TRUE(w.xmlUnits.Readable());
  EXPECT_TRUE(messages.isEmpty());

  // The unit store works on the window's document.
  w.frmUnit1->UnitAdd("uAir", "Hawk", "10", "20");
  EXPECT_EQ(w.frmUnit1->GetUnit(0, "Name", 0), "Hawk");
}

TEST_F(MainWindow, TwoStartsKeepEventAndNotesLogsAndReplaceTheDebugLog)
{
  {
    TfrmMockup03 w;
    w.LogIt("first run one");
    w.LogIt("first run two");
    w.LogEvent("first event");
    w.memNotes->setPlainText("note A\nnote B");
    LeaveNotes(w);
  }
  ASSERT_EQ(FileLines("DebugLog.txt").size(), 3);
  {
    TfrmMockup03 w;
    EXPECT_EQ(w.EventLog().Lines().size(), 3);
    EXPECT_EQ(w.NotesLog().Lines().size(), 5);
    w.LogIt("second run one");
    w.LogIt("second run two");
    w.LogEvent("second event");
    w.memNotes->setPlainText("note C");
    LeaveNotes(w);
    LeaveNotes(w);
  }
  // Only the second run's debug lines, newest first.
  const QStringList debug = FileLines("DebugLog.txt");
  ASSERT_EQ(debug.size(), 3);
  EXPECT_TRUE(debug[0].endsWith("second run two"));
  EXPECT_TRUE(debug[1].endsWith("second run one"));
  EXPECT_TRUE(debug[2].endsWith("LoadScen New button pressed"));
  EXPECT_TRUE(kDebugStamp.match(debug[0]).hasMatch()) << debug[0].toStdString();

  const QRegularExpression stamp(R"(\d{4}.\d\d.\d\d \d\d.\d\d.\d\d$)");
  const QStringList events = FileLines("LogEvent.txt");
  ASSERT_EQ(events.size(), 4);
  EXPECT_TRUE(events[0].startsWith(" New scenario "));
  EXPECT_EQ(events[1], "first event");
  EXPECT_TRUE(events[2].startsWith(" New scenario "));
  EXPECT_TRUE(stamp.match(events[2]).hasMatch());
  EXPECT_EQ(events[3], "second event");

  const QStringList notes = FileLines("LogNotes.txt");
  ASSERT_EQ(notes.size(), 1 + 3 + 1 + 2 + 2);
  for (int i : {0, 4})
    EXPECT_TRUE(notes[i].startsWith(" New scenario ")) << notes[i].toStdString();
  for (int i : {1, 5, 7})
    EXPECT_TRUE(notes[i].startsWith(" Notes exited ") && stamp.match(notes[i]).hasMatch())
        << notes[i].toStdString();
  EXPECT_EQ(notes[2], "note A");
  EXPECT_EQ(notes[3], "note B");
  EXPECT_EQ(notes[6], "note C");
  EXPECT_EQ(notes[8], "note C");
}

TEST_F(MainWindow, FirstStartInAnEmptyFolderStartsANewScenario)
{
  TfrmMockup03 w;
  EXPECT_TRUE(QFile::exists(Path("DebugLog.txt")));
  for (const char* log : {"LogEvent.txt", "LogNotes.txt"}) {
    const QStringList lines = FileLines(log);
    ASSERT_EQ(lines.size(), 1) << log;
    EXPECT_TRUE(lines[0].startsWith(" New scenario ")) << log;
  }
  EXPECT_FALSE(QFile::exists(Path("Vantrel.ini"))); // settings are only written by the dialog
}

TEST_F(MainWindow, NotesAreLeftOnlyForAnotherControl)
{
  TfrmMockup03 w;
  w.memNotes->setPlainText("x");
  const qsizetype before = w.NotesLog().Lines().size();
  // A pointer menu over the memo, a message box or another application takes the focus for
  // a while; none of them is leaving the memo.
  for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(w.memNotes, &out);
  }
  EXPECT_EQ(w.NotesLog().Lines().size(), before);
  for (Qt::FocusReason reason : {Qt::MouseFocusReason, Qt::TabFocusReason}) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(w.memNotes, &out);
  }
  EXPECT_EQ(w.NotesLog().Lines().size(), before + 4); // each its entry and the memo's line
}

TEST_F(MainWindow, UnwritableNotesLogAtStartStillLeavesAScenarioToAddUnitsTo)
{
  ASSERT_TRUE(QDir(dir.path()).mkdir("LogNotes.txt"));
  TfrmMockup03 w;
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith("Cannot create file")) << messages[0].toStdString();
  w.frmUnit1->UnitAdd("uAir", "Hawk", "1", "2");
  EXPECT_EQ(w.frmUnit1->GetUnit(0, "Name"), "Hawk");
}

TEST_F(MainWindow, UnwritableLogStopsTheActionAndKeepsTheEntry)
{
  TfrmMockup03 w;
  QFile::remove(Path("DebugLog.txt"));
  ASSERT_TRUE(QDir(dir.path()).mkdir("DebugLog.txt")); // a folder where the file should be
  try {
    w.LogIt("kept");
    FAIL();
  } catch (const EFCreateError& e) {
    const QString msg = QString::fromUtf8(e.what());
    EXPECT_TRUE(msg.startsWith("Cannot create file \"" + Path("DebugLog.txt") + "\". ")) << e.what();
    EXPECT_GT(msg.size(), QString("Cannot create file \"" + Path("DebugLog.txt") + "\". ").size());
  }
  QDir(dir.path()).rmdir("DebugLog.txt");
  w.LogIt("next");
  const QStringList lines = FileLines("DebugLog.txt");
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].endsWith("next"));
  EXPECT_TRUE(lines[1].endsWith("kept"));
}

TEST_F(MainWindow, ExceptionsInHandlersReachTheErrorBoxAndTheProgramGoesOn)
{
  TfrmMockup03 w;
  w.show();
  QObject::connect(w.btnMoveAll, &QPushButton::clicked, [] { StrToInt("90.0"); });
  QTest::mouseClick(w.btnMoveAll, Qt::LeftButton);
  ASSERT_EQ(messages, QStringList{"'90.0' is not a valid integer value"});
  QFile::remove(Path("LogNotes.txt"));
  ASSERT_TRUE(QDir(dir.path()).mkdir("LogNotes.txt"));
  LeaveNotes(w);
  ASSERT_EQ(messages.size(), 2);
  EXPECT_TRUE(messages[1].startsWith("Cannot create file \"" + Path("LogNotes.txt") + "\". "));
  EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindow, ExitAsksOnlyWhenTheScenarioHasHadUnits)
{
  TfrmMockup03 w;
  w.show();
  w.Exit1Click();
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_FALSE(w.isVisible());

  w.show();
  w.intUnits = 1;
  answer = MsgResult::No;
  QTest::mouseClick(w.btnExit, Qt::LeftButton);
  EXPECT_EQ(messages, QStringList{"Are you sure you want to exit?"});
  EXPECT_TRUE(w.isVisible());
  answer = MsgResult::Yes;
  w.Exit1Click();
  EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindow, NotesGoIntoTheDocumentAsCommaText)
{
  TfrmMockup03 w;
  w.memNotes->setPlainText("Convoy sails at dawn\nweather: \"fair\", wind 5");
  w.PutNotesScen();
  XmlNode note = w.xmlUnits.Root().ChildByName("notes").ChildByName("note");
  EXPECT_EQ(note.Text(), "\"Convoy sails at dawn\",\"weather: \"\"fair\"\", wind 5\"");
  w.memNotes->clear();
  w.GetNotesScen();
  EXPECT_EQ(w.memNotes->toPlainText(), "Convoy sails at dawn\nweather: \"fair\", wind 5");

  // Without a note whose timestamp is "0.0" both do nothing.
  note.SetAttribute("timestamp", "1.0");
  w.memNotes->setPlainText("other");
  w.PutNotesScen();
  w.GetNotesScen();
  EXPECT_EQ(w.memNotes->toPlainText(), "other");
  EXPECT_EQ(note.Text(), "\"Convoy sails at dawn\",\"weather: \"\"fair\"\", wind 5\"");
}

TEST_F(MainWindow, StampsUseTheirPatterns)
{
  // 2013-12-26 20:47:05.123
  const double when = 41634.0 + (20 * 3600 + 47 * 60 + 5.123) / 86400.0;
  EXPECT_TRUE(QRegularExpression(R"(^20131226 20.47.05\.123 $)").match(DebugStamp(when)).hasMatch())
      << DebugStamp(when).toStdString();
  EXPECT_TRUE(QRegularExpression(R"(^2013.12.26 20.47.05$)").match(EventStamp(when)).hasMatch())
      << EventStamp(when).toStdString();
}

TEST_F(MainWindow, NumbersTypedWithAPointConvertUnderADecimalCommaLocale)
{
  vtrtest::CommaDecimalLocale locale;
  if (!locale.Active())
    GTEST_SKIP() << "no locale with a decimal comma: " << locale.Why();
  TfrmMockup03 w;
  w.frmUnit1->UnitAdd("uAir", "Hawk", "51.123456789", "-0.5");
  EXPECT_EQ(w.frmUnit1->GetUnit(0, "Lat", 0), "51.1235");
  EXPECT_EQ(w.frmUnit1->GetUnit(0, "Lon", 0), "-.5");
}
