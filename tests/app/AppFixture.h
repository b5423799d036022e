#pragma once
// A program folder of the test's own, which is also the current folder (where the program keeps
// its spatial database), and a recorder for the message boxes.

#include "app/Dialogs.h"
#include "app/ProgramFolder.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vtrtest {

class AppFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(dir.isValid());
    vtr::SetProgramFolderForTests(dir.path());
    oldCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path());
    previous = vtr::SetMessageHandler([this](const QString& text, vtr::MsgIcon, vtr::MsgButtons) {
      messages << text;
      return answer;
    });
  }
  void TearDown() override
  {
    vtr::SetMessageHandler(previous);
    vtr::SetProgramFolderForTests(QString());
    QDir::setCurrent(oldCurrent);
  }

  QString Path(const QString& name) const { return dir.path() + "/" + name; }

  QTemporaryDir dir;
  QStringList messages;
  vtr::MsgResult answer = vtr::MsgResult::Yes;
  vtr::MessageHandler previous;
  QString oldCurrent;
};

} // namespace vtrtest
