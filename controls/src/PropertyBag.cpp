#include "lyx/controls/PropertyBag.h"

#include <algorithm>
#include <type_traits>

namespace lyx::controls {

namespace {

bool sameKey(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Numbers and booleans stored by one control kind may be read back as another.
template <typename T>
std::optional<T> numeric(const PropertyValue &v) {
    return std::visit(
        [](const auto &x) -> std::optional<T> {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, bool>) {
                if constexpr (std::is_same_v<T, bool>)
                    return x;
                else
                    return T(x ? -1 : 0);  // a true flag as a number is all bits set
            } else if constexpr (std::is_integral_v<X>) {
                if constexpr (std::is_same_v<T, bool>)
                    return x != 0;
                else
                    return T(x);
            } else {
                return std::nullopt;
            }
        },
        v);
}

template <typename T>
void writeWithDefault(PropertyBag &bag, QStringView key, const T &v,
                      const std::optional<T> &byDefault) {
    if (byDefault && *byDefault == v)
        bag.setValue(key, std::nullopt);
    else
        bag.setValue(key, PropertyValue(v));
}

}  // namespace

std::optional<PropertyValue> PropertyBag::value(QStringView key) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [key](const auto &e) { return sameKey(e.first, key); });
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

void PropertyBag::setValue(QStringView key, std::optional<PropertyValue> value) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [key](const auto &e) { return sameKey(e.first, key); });
    if (!value) {
        if (it != entries_.end()) entries_.erase(it);
        return;
    }
    if (it != entries_.end())
        it->second = std::move(*value);
    else
        entries_.emplace_back(key.toString(), std::move(*value));
}

QStringList PropertyBag::keys() const {
    QStringList list;
    list.reserve(qsizetype(entries_.size()));
    for (const auto &e : entries_)
        list.append(e.first);
    return list;
}

bool PropertyBag::readBool(QStringView key, bool fallback) const {
    const auto v = value(key);
    return v ? numeric<bool>(*v).value_or(fallback) : fallback;
}

qint32 PropertyBag::readInt(QStringView key, qint32 fallback) const {
    const auto v = value(key);
    return v ? numeric<qint32>(*v).value_or(fallback) : fallback;
}

OleColor PropertyBag::readColour(QStringView key, OleColor fallback) const {
    const auto v = value(key);
    return v ? numeric<OleColor>(*v).value_or(fallback) : fallback;
}

QString PropertyBag::readText(QStringView key, const QString &fallback) const {
    const auto v = value(key);
    if (const QString *s = v ? std::get_if<QString>(&*v) : nullptr) return *s;
    return fallback;
}

QFont PropertyBag::readFont(QStringView key, const QFont &fallback) const {
    const auto v = value(key);
    if (const QFont *f = v ? std::get_if<QFont>(&*v) : nullptr) return *f;
    return fallback;
}

Picture PropertyBag::readPicture(QStringView key) const {
    const auto v = value(key);
    if (const Picture *p = v ? std::get_if<Picture>(&*v) : nullptr) return *p;
    return {};
}

void PropertyBag::writeBool(QStringView key, bool v, std::optional<bool> byDefault) {
    writeWithDefault(*this, key, v, byDefault);
}

void PropertyBag::writeInt(QStringView key, qint32 v, std::optional<qint32> byDefault) {
    writeWithDefault(*this, key, v, byDefault);
}

void PropertyBag::writeColour(QStringView key, OleColor v, std::optional<OleColor> byDefault) {
    writeWithDefault(*this, key, v, byDefault);
}

void PropertyBag::writeText(QStringView key, const QString &v,
                            const std::optional<QString> &byDefault) {
    writeWithDefault(*this, key, v, byDefault);
}

void PropertyBag::writeFont(QStringView key, const QFont &v) {
    setValue(key, PropertyValue(v));
}

void PropertyBag::writePicture(QStringView key, const Picture &v, bool keepEmpty) {
    if (v.isEmpty() && !keepEmpty)
        setValue(key, std::nullopt);
    else
        setValue(key, PropertyValue(v));
}

}  // namespace lyx::controls
