#include "ui/message_box.h"

#include <QMessageBox>

#include "ui/main_window.h"
#include "ui/text_1252.h"

namespace {

void ShowModalBox(std::string_view title, std::string_view text) {
  QMessageBox box(QMessageBox::Critical, QStringFrom1252(title), QStringFrom1252(text), QMessageBox::Ok,
                  MainWindowWidget());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

MessageBoxFunction messageBoxFunction = ShowModalBox;

}  // namespace

void ShowErrorBox(std::string_view title, std::string_view text) { messageBoxFunction(title, text); }

void SetMessageBoxFunction(MessageBoxFunction function) {
  messageBoxFunction = function != nullptr ? function : ShowModalBox;
}
