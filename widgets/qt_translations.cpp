#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace zelkor::widgets {

std::unique_ptr<QTranslator> LoadQtTranslations(const QLocale& userLocale, const QString& folder)
{
    auto translator = std::make_unique<QTranslator>();
    const QLocale simplified(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    const QString name = QStringLiteral("qtbase");
    const QString separator = QStringLiteral("_");
    if (userLocale.language() == QLocale::Chinese && translator->load(userLocale, name, separator, folder))
        return translator;
    if (translator->load(simplified, name, separator, folder))
        return translator;
    return nullptr;
}

void InstallQtTranslations()
{
    auto translator = LoadQtTranslations(QLocale::system(), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (translator && QCoreApplication::installTranslator(translator.get()))
        translator.release()->setParent(QCoreApplication::instance());
}

}  // namespace zelkor::widgets
