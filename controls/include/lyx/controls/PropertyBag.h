#pragma once

#include "lyx/controls/Colour.h"
#include "lyx/controls/Picture.h"

#include <QFont>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace lyx::controls {

/// One stored property value. Colours (`OleColor`) are kept apart from plain integers.
using PropertyValue = std::variant<bool, qint32, OleColor, QString, QFont, Picture>;

/// The host's key/value store for the properties of one control.
///
/// Keys are matched without regard to case; entries keep the order in which their keys were
/// first written, so a host can persist them in the order a control saves them.
///
/// Controls save with `HostedControl::writeProperties(bag)` and load with
/// `HostedControl::readProperties(bag)`, using the typed helpers below. A helper given a
/// default does not store a value equal to it, and removes an older entry of that key, so that
/// loading (which falls back to the same default) gives the value back.
///
/// The bag keeps its entries in memory. A host with a store of its own may derive from it and
/// override `value` and `setValue`, the only two calls through which the helpers reach the
/// entries (`setValue` with no value removes the key).
class PropertyBag {
  public:
    PropertyBag() = default;
    PropertyBag(const PropertyBag &) = default;
    PropertyBag &operator=(const PropertyBag &) = default;
    virtual ~PropertyBag() = default;

    /// The value stored under `key`, if any.
    virtual std::optional<PropertyValue> value(QStringView key) const;
    /// Stores `value` under `key` (replacing the entry of a key equal but for case, whose
    /// spelling and place are kept), or removes the key when `value` is empty.
    virtual void setValue(QStringView key, std::optional<PropertyValue> value);

    bool contains(QStringView key) const { return value(key).has_value(); }
    /// The keys of the in-memory entries, in order of first writing.
    QStringList keys() const;
    qsizetype size() const { return qsizetype(entries_.size()); }

    // Typed reads: the stored value converted to the asked type (numbers and booleans convert
    // into one another), else `fallback` when the key is absent or holds another kind of value.
    bool readBool(QStringView key, bool fallback) const;
    qint32 readInt(QStringView key, qint32 fallback) const;
    OleColor readColour(QStringView key, OleColor fallback) const;
    QString readText(QStringView key, const QString &fallback) const;
    QFont readFont(QStringView key, const QFont &fallback) const;
    /// An empty picture when the key is absent.
    Picture readPicture(QStringView key) const;

    // Typed writes: always stored when no default is given.
    void writeBool(QStringView key, bool v, std::optional<bool> byDefault = std::nullopt);
    void writeInt(QStringView key, qint32 v, std::optional<qint32> byDefault = std::nullopt);
    void writeColour(QStringView key, OleColor v, std::optional<OleColor> byDefault = std::nullopt);
    void writeText(QStringView key, const QString &v,
                   const std::optional<QString> &byDefault = std::nullopt);
    void writeFont(QStringView key, const QFont &v);
    /// With `keepEmpty` false an empty picture counts as the default and is not stored.
    void writePicture(QStringView key, const Picture &v, bool keepEmpty = true);

  private:
    std::vector<std::pair<QString, PropertyValue>> entries_;
};

}  // namespace lyx::controls
