#pragma once

#include <QObject>

class QAction;
class QMenu;
class QWidget;

namespace lyx::viewer {

/// The trend chart's choice of scale, made on the chart itself: a double-click on its area
/// switches between the fixed scale and the auto scale, and so does the entry "Auto scale" of
/// its context menu, which carries a check mark while the auto scale is on. The area's
/// tooltip says which scale is shown and how to switch.
class ChartScaleSwitch : public QObject {
    Q_OBJECT
  public:
    /// Watches `area` (the chart's picture area) for double-clicks and context menu requests.
    explicit ChartScaleSwitch(QWidget *area);

    bool autoScale() const;
    /// Sets the choice without raising `toggled`.
    void setAutoScale(bool on);
    /// The context menu, for tests.
    QMenu *menu() const { return menu_; }

  Q_SIGNALS:
    /// The user switched the scale.
    void toggled(bool autoScale);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void describe();

    QWidget *area_;
    QMenu *menu_;
    QAction *action_;
};

}  // namespace lyx::viewer
