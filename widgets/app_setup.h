#pragma once
// Set-up that both programs share: the application name used as message-box title, and the font
// substitutions that map the faces the windows ask for onto the fonts a Debian desktop has, and Qt's
// own strings in Chinese.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace zelkor::widgets {

void SetUpApplication(const QString& programName);

// Called before the application object connects to the display. On X, a window drawn through a
// shared-memory image waits for the server's reply before each paint that overlaps the last one sent,
// and a live window paints the same marker and readouts 50 times a second: plain image transfers
// spare those round trips (about half of an idle free-fall window's CPU). A setting the user made
// stands.
void PrepareDisplayConnection();

// A message box with an OK button, titled with the program's name.
void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon);

}  // namespace zelkor::widgets
