#include "experiment_windows.h"

#include "experiments/free_fall.h"
#include "widgets/picture_button.h"

namespace zelkor::host {

std::unique_ptr<QDialog> BuildExperimentDialog(int index)
{
    const ExperimentEntry* entry = FindExperiment(index);
    if (!entry)
        return nullptr;
    if (index == experiments::kFreeFallIndex)
        return std::make_unique<experiments::CDlgTdFreelyFall>();
    return std::make_unique<CExperimentFrameDialog>(*entry);
}

CExperimentFrameDialog::CExperimentFrameDialog(const ExperimentEntry& entry, QWidget* parent)
    : CDlgTdExpBase(entry.index, parent)
{
    // No experiment of its own yet, so no start and stop commands.
    FrameButton(acquisition::kIdStart)->hide();
    FrameButton(acquisition::kIdStop)->hide();
    InitFrame(QString::fromUtf8(entry.title));
}

void CExperimentFrameDialog::resizeEvent(QResizeEvent* event)
{
    CDlgTdExpBase::resizeEvent(event);
    LayoutBottomButtonBar({});
}

}  // namespace zelkor::host
