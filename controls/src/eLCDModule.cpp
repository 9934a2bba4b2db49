#include "lyx/controls/eLCDModule.h"

#include <QMetaProperty>
#include <QObject>
#include <QVariant>

namespace lyx::controls::eLCDModule {

bool setColourProperty(QObject *control, const char *name, OleColor colour) {
    if (!control) return false;
    // Only a declared property counts: setting an unknown name on a QObject would quietly
    // create a dynamic property instead.
    const QMetaObject *meta = control->metaObject();
    const int index = meta->indexOfProperty(name);
    if (index < 0 || !meta->property(index).isWritable()) return false;
    return meta->property(index).write(control, QVariant::fromValue(colour));
}

bool ApplyScheme(int row, QObject *control) {
    if (row < 0 || row >= kSchemeCount) return false;
    const SchemeColours &s = kSchemes[std::size_t(row)];
    setColourProperty(control, "BackColor", s.back);
    setColourProperty(control, "OffColor", s.off);
    setColourProperty(control, "OnColor", s.on);
    return true;
}

}  // namespace lyx::controls::eLCDModule
