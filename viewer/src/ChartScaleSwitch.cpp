#include "ChartScaleSwitch.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QWidget>

namespace lyx::viewer {

ChartScaleSwitch::ChartScaleSwitch(QWidget *area)
    : QObject(area), area_(area), menu_(new QMenu(area)) {
    menu_->setObjectName(QStringLiteral("ChartMenu"));
    action_ = menu_->addAction(QStringLiteral("Auto scale"));
    action_->setObjectName(QStringLiteral("AutoScaleAction"));
    action_->setCheckable(true);
    action_->setToolTip(
        QStringLiteral("Scale the trend to the smallest and largest value in view"));
    connect(action_, &QAction::triggered, this, [this](bool on) {
        describe();
        Q_EMIT toggled(on);
    });
    area_->installEventFilter(this);
    describe();
}

bool ChartScaleSwitch::autoScale() const {
    return action_->isChecked();
}

void ChartScaleSwitch::setAutoScale(bool on) {
    action_->setChecked(on);
    describe();
}

bool ChartScaleSwitch::eventFilter(QObject *watched, QEvent *event) {
    if (watched == area_) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            action_->trigger();
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            menu_->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ChartScaleSwitch::describe() {
    area_->setToolTip(
        autoScale() ? QStringLiteral("Trend of the value, newest on the right, scaled to the "
                                     "smallest and largest value in view. Double-click for the "
                                     "fixed scale")
                    : QStringLiteral("Trend of the value, newest on the right. Double-click to "
                                     "scale it to the values in view"));
}

}  // namespace lyx::viewer
