#pragma once

#include "lyx/controls/PropertyBag.h"

#include <QFrame>
#include <QString>

namespace lyx::controls {

/// What every control offers its host (the form that places it).
///
/// - Persistence: the host calls `writeProperties` to save the control's properties into its
///   store and `readProperties` to load them; a freshly constructed control holds the values
///   of a newly placed one. Each control saves and loads a fixed list of keys in a fixed order
///   (see its header).
/// - Change notification: after every property set the control emits `propertyChanged` with
///   the property's name, so the host knows its stored state is out of date.
///
/// All calls belong to the GUI thread.
class HostedControl : public QFrame {
    Q_OBJECT
  public:
    /// Loads the control's properties from `bag`; absent keys take their load defaults.
    virtual void readProperties(const PropertyBag &bag) = 0;
    /// Saves the control's properties into `bag`.
    virtual void writeProperties(PropertyBag &bag) const = 0;

    /// The control's native window handle. The first call makes the widget a native window.
    WId hWnd() const { return winId(); }

  Q_SIGNALS:
    /// A property was set; `name` is the property's name (for example "BackColor").
    void propertyChanged(const QString &name);

  protected:
    explicit HostedControl(QWidget *parent = nullptr);
    void reportChange(const QString &name) { Q_EMIT propertyChanged(name); }
};

}  // namespace lyx::controls
