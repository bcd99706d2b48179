#pragma once
// The "演示模式" mark on an experiment window's banner, so that nobody takes simulated data for a
// measurement. While a demo sensor is live it shows the words, a hand cursor and a tooltip; a click
// opens the menu of what the helper at the apparatus can be asked to do (bring the object to a
// calibration point, put it back). The choice goes to the demo sensor as a cue, like the pupil's own
// actions; the window knows nothing of the scenario. Without a demo sensor it is invisible and inert.

#include <QWidget>

class QMenu;

namespace zelkor::acquisition {

class CDemoMark : public QWidget {
    Q_OBJECT
public:
    // On `frame`'s banner of `bannerSize`, ending 10 pixels left of `rightNeighbour` (it follows the
    // neighbour and the frame when they move or resize).
    CDemoMark(QWidget* frame, QWidget* rightNeighbour, QSize bannerSize);

    QMenu* Menu() const { return menu_; }
    // Fills the menu with the current helper actions and opens it below the mark.
    void OpenMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Place();
    void ShowActive(bool active);

    QWidget* rightNeighbour_;
    QSize bannerSize_;
    QMenu* menu_;
    bool active_ = false;
};

}  // namespace zelkor::acquisition
