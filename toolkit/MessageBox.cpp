// Placeholder until the message boxes are built.
#include "toolkit/MessageBox.h"
namespace toolkit {
QString applicationTitle() { return QStringLiteral("infotest"); }
void ShowMessage(const QString&) {}
ModalResult MessageDlg(const QString&, MsgDlgButtons) { return ModalResult::None; }
void ShowErrorBox(const QString&) {}
void ShowException(const std::exception&) {}
QString errorBoxText(const QString& m) { return m; }
void ShowStartupError(const std::exception&) {}
QString startupErrorText(const std::exception&) { return {}; }
} // namespace toolkit
