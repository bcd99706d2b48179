#pragma once
// Builds the one experiment window an index names.

#include "experiment_table.h"

#include <QDialog>
#include <memory>

namespace zelkor::host {

// nullptr when the index builds nothing.
std::unique_ptr<QDialog> BuildExperimentDialog(int index, bool demo);

// Stands in for an experiment whose own window is not built yet: its title, and a way back.
class CPlaceholderExperimentDialog : public QDialog {
    Q_OBJECT
public:
    CPlaceholderExperimentDialog(const ExperimentEntry& entry, bool demo, QWidget* parent = nullptr);
};

}  // namespace zelkor::host
