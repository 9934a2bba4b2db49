#include "Accessibility.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDText.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <charconv>

namespace lyx::viewer::accessibility {

namespace {

using controls::eLCD;
using controls::eLCDBar;
using controls::eLCDText;
using controls::ImageButton;

constexpr const char *kRoleProperty = "lyxAccessibleRole";
constexpr const char *kLastNameProperty = "lyxAccessibleName";
constexpr const char *kLastStateProperty = "lyxAccessibleState";

class ButtonInterface : public QAccessibleWidget {
  public:
    explicit ButtonInterface(ImageButton *button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return widget()->accessibleName();
            case QAccessible::Description:
                return widget()->toolTip();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.disabled = !button()->buttonEnabled();
        s.focusable = false;
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override {
        if (name == pressAction() && button()->buttonEnabled()) Q_EMIT button()->Click();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

  private:
    ImageButton *button() const { return static_cast<ImageButton *>(widget()); }
};

class DisplayInterface : public QAccessibleWidget {
  public:
    explicit DisplayInterface(eLCD *display)
        : QAccessibleWidget(display, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return static_cast<eLCD *>(widget())->caption().trimmed();
            case QAccessible::Description:
                return widget()->accessibleDescription();
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

QAccessible::Role roleOf(const QWidget *w) {
    const QVariant r = w->property(kRoleProperty);
    return r.isValid() ? QAccessible::Role(r.toInt()) : QAccessible::StaticText;
}

class TextInterface : public QAccessibleWidget {
  public:
    explicit TextInterface(eLCDText *text) : QAccessibleWidget(text, roleOf(text)) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return label()->caption();
            case QAccessible::Description:
                return widget()->accessibleDescription();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = false;
        if (role() == QAccessible::CheckBox) {
            s.checkable = true;
            s.checked = label()->state();
        }
        return s;
    }
    QStringList actionNames() const override {
        if (role() == QAccessible::Button) return {pressAction()};
        return {};
    }
    void doAction(const QString &name) override {
        if (role() == QAccessible::Button && name == pressAction()) Q_EMIT label()->Click();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

  private:
    eLCDText *label() const { return static_cast<eLCDText *>(widget()); }
};

class BarInterface : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit BarInterface(eLCDBar *bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Description:
                return widget()->accessibleDescription();
            case QAccessible::Value:
                return QString::number(reportedPercent(*bar()));
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QVariant currentValue() const override { return reportedPercent(*bar()); }
    void setCurrentValue(const QVariant &) override {}  // the bar shows, the user sets nothing
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.0; }

  private:
    eLCDBar *bar() const { return static_cast<eLCDBar *>(widget()); }
};

QAccessibleInterface *factory(const QString &key, QObject *object) {
    // The main window and the module list are plain widgets; shown as frames, named by their
    // titles.
    if (key == QLatin1String("lyx::viewer::MainFrm") ||
        key == QLatin1String("lyx::viewer::ModulesWindow"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    if (key == QLatin1String("lyx::controls::ImageButton"))
        return new ButtonInterface(static_cast<ImageButton *>(object));
    if (key == QLatin1String("lyx::controls::eLCD"))
        return new DisplayInterface(static_cast<eLCD *>(object));
    if (key == QLatin1String("lyx::controls::eLCDText"))
        return new TextInterface(static_cast<eLCDText *>(object));
    if (key == QLatin1String("lyx::controls::eLCDBar"))
        return new BarInterface(static_cast<eLCDBar *>(object));
    return nullptr;
}

QString currentName(QWidget *w) {
    if (auto *d = qobject_cast<eLCD *>(w)) return d->caption().trimmed();
    if (auto *t = qobject_cast<eLCDText *>(w)) return t->caption();
    return w->accessibleName();
}

bool currentFlag(QWidget *w) {
    if (auto *t = qobject_cast<eLCDText *>(w)) return t->state();
    if (auto *b = qobject_cast<ImageButton *>(w)) return b->buttonEnabled();
    return false;
}

void announce(QWidget *w, const QString &property) {
    if (!QAccessible::isActive()) return;
    if (property == QLatin1String("Caption")) {
        const QString name = currentName(w);
        if (w->property(kLastNameProperty).toString() == name) return;
        w->setProperty(kLastNameProperty, name);
        QAccessibleEvent event(w, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    } else if (property == QLatin1String("State") || property == QLatin1String("Enabled")) {
        const bool flag = currentFlag(w);
        const QVariant last = w->property(kLastStateProperty);
        if (last.isValid() && last.toBool() == flag) return;
        w->setProperty(kLastStateProperty, flag);
        QAccessible::State changed;
        if (property == QLatin1String("State")) {
            changed.checked = true;
        } else {
            changed.disabled = true;
        }
        QAccessibleStateChangeEvent event(w, changed);
        QAccessible::updateAccessibility(&event);
    }
}

}  // namespace

void install() {
    QAccessible::installFactory(&factory);
}

void setRole(QWidget *control, QAccessible::Role role) {
    control->setProperty(kRoleProperty, int(role));
}

void watch(controls::HostedControl *control) {
    QPointer<QWidget> w(control);
    QObject::connect(control, &controls::HostedControl::propertyChanged, control,
                     [w](const QString &property) {
                         if (w) announce(w, property);
                     });
}

void valueChanged(controls::eLCDBar *bar) {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(bar, reportedPercent(*bar));
    QAccessible::updateAccessibility(&event);
}

double reportedPercent(const controls::eLCDBar &bar) {
    // The shortest decimal text of the single, read back as a double (locale-free both ways).
    char text[32];
    const float percent = bar.percent();
    const auto written = std::to_chars(text, text + sizeof text, percent);
    double value = percent;
    std::from_chars(text, written.ptr, value);
    return value;
}

}  // namespace lyx::viewer::accessibility
