#include "app/Dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace vtr {

namespace {

MessageHandler& Handler()
{
  static MessageHandler h;
  return h;
}

MsgResult ShowBox(const QString& text, MsgIcon icon, MsgButtons buttons)
{
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QApplication::applicationName());
  box.setText(text);
  switch (icon) {
  case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
  case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
  case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
  case MsgIcon::Confirmation: box.setIcon(QMessageBox::Question); break;
  }
  switch (buttons) {
  case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
  case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
  }
  switch (box.exec()) {
  case QMessageBox::Yes: return MsgResult::Yes;
  case QMessageBox::No: return MsgResult::No;
  case QMessageBox::Cancel: return MsgResult::Cancel;
  default: return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  }
}

} // namespace

MsgResult MessageDlg(const QString& text, MsgIcon icon, MsgButtons buttons)
{
  if (Handler())
    return Handler()(text, icon, buttons);
  return ShowBox(text, icon, buttons);
}

void ShowErrorBox(const QString& message) { MessageDlg(message, MsgIcon::Error, MsgButtons::Ok); }

MessageHandler SetMessageHandler(MessageHandler handler)
{
  MessageHandler old = std::move(Handler());
  Handler() = std::move(handler);
  return old;
}

} // namespace vtr
