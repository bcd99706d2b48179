#pragma once
// Builds the one experiment window an index names.

#include "acquisition/exp_base.h"
#include "experiment_table.h"

#include <QDialog>
#include <memory>

namespace zelkor::host {

// nullptr when the index builds nothing.
std::unique_ptr<acquisition::CDlgTdExpBase> BuildExperimentDialog(int index);

// The experiment window frame with the experiment's title, for an experiment whose own window is not
// built yet: banner, title, minimise, close, "返回" and the camera button.
class CExperimentFrameDialog : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    CExperimentFrameDialog(acquisition::CWindowKey key, const ExperimentEntry& entry, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace zelkor::host
