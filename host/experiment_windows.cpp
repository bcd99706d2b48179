#include "experiment_windows.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelkor::host {

std::unique_ptr<QDialog> BuildExperimentDialog(int index, bool demo)
{
    const ExperimentEntry* entry = FindExperiment(index);
    if (!entry)
        return nullptr;
    return std::make_unique<CPlaceholderExperimentDialog>(*entry, demo);
}

CPlaceholderExperimentDialog::CPlaceholderExperimentDialog(const ExperimentEntry& entry, bool demo,
                                                           QWidget* parent)
    : QDialog(parent)
{
    const QString title = QString::fromUtf8(entry.title);
    setWindowTitle(title);
    setStyleSheet(QStringLiteral("QDialog { background: white; }"));

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(title, this);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(26);
    font.setBold(true);
    heading->setFont(font);
    heading->setStyleSheet(QStringLiteral("color: rgb(18, 0, 255);"));
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);

    if (demo) {
        auto* demoNote = new QLabel(QStringLiteral("演示模式"), this);
        demoNote->setObjectName(QStringLiteral("demoNote"));
        demoNote->setAlignment(Qt::AlignCenter);
        demoNote->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0); font-weight: bold;"));
        layout->addWidget(demoNote);
    }

    auto* back = new QPushButton(QStringLiteral("返回"), this);
    back->setProperty("ctrlId", 231);
    connect(back, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(back, 0, Qt::AlignCenter);

    resize(800, 600);
}

}  // namespace zelkor::host
