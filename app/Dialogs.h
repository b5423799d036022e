#pragma once
// Message boxes with fixed texts, and the default error box. They all go through one handler
// so that tests can answer them without a person.

#include <QString>

#include <functional>

namespace vtr {

enum class MsgIcon { Warning, Error, Information, Confirmation };
enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgResult { Ok, Yes, No, Cancel };

MsgResult MessageDlg(const QString& text, MsgIcon icon, MsgButtons buttons);

// The application's default error box: the exception's message with an error icon.
void ShowErrorBox(const QString& message);

using MessageHandler = std::function<MsgResult(const QString& text, MsgIcon, MsgButtons)>;
// Replaces the windows by a handler (empty restores them); returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

} // namespace vtr
