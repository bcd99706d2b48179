#pragma once
// Qt's own strings (the buttons of message boxes, the file dialogs) in the language of the interface.

#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace zelkor::widgets {

// Qt's translation "qtbase" from `folder` for the user's locale when that is a Chinese one, otherwise
// Simplified Chinese: the windows speak Chinese whatever the desktop's language, and the standard
// dialogs inside them should too. nullptr when no file could be loaded (Qt's strings stay English).
std::unique_ptr<QTranslator> LoadQtTranslations(const QLocale& userLocale, const QString& folder);

// Installs the above for the system locale from the translations folder of the Qt the program runs
// with. Needs the application object.
void InstallQtTranslations();

}  // namespace zelkor::widgets
