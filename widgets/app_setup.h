#pragma once
// Set-up that both programs share: the application name used as message-box title, and the font
// substitutions that map the faces the windows ask for onto the fonts a Debian desktop has, and Qt's
// own strings in Chinese.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace zelkor::widgets {

void SetUpApplication(const QString& programName);

// A message box with an OK button, titled with the program's name.
void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon);

}  // namespace zelkor::widgets
