#include "app_setup.h"

#include "qt_translations.h"

#include <QCoreApplication>
#include <QFont>

namespace zelkor::widgets {

void PrepareDisplayConnection()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

void SetUpApplication(const QString& programName)
{
    QCoreApplication::setApplicationName(programName);
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("Noto Serif CJK SC"));
    QFont::insertSubstitution(QStringLiteral("黑体"), QStringLiteral("Noto Sans CJK SC"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Shell Dlg"), QStringLiteral("Liberation Sans"));
    InstallQtTranslations();
}

void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace zelkor::widgets
