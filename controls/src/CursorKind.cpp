#include "CursorKind.h"

#include <QPixmap>

#include <array>

namespace lyx::controls::detail {

namespace {

// Kinds 1 to 15, in order: arrow, cross, I-beam, icon, size, size NE-SW, size N-S, size NW-SE,
// size W-E, up arrow, hourglass, no drop, arrow and hourglass, arrow and question mark,
// size all.
constexpr std::array<Qt::CursorShape, 15> kShapes{{
    Qt::ArrowCursor,
    Qt::CrossCursor,
    Qt::IBeamCursor,
    Qt::ArrowCursor,
    Qt::SizeAllCursor,
    Qt::SizeBDiagCursor,
    Qt::SizeVerCursor,
    Qt::SizeFDiagCursor,
    Qt::SizeHorCursor,
    Qt::UpArrowCursor,
    Qt::WaitCursor,
    Qt::ForbiddenCursor,
    Qt::BusyCursor,
    Qt::WhatsThisCursor,
    Qt::SizeAllCursor,
}};

}  // namespace

std::optional<QCursor> cursorFor(int kind, const Picture &icon) {
    if (kind >= 1 && kind <= int(kShapes.size())) return QCursor(kShapes[std::size_t(kind - 1)]);
    if (kind == kCustomCursor && !icon.isEmpty()) return QCursor(QPixmap::fromImage(icon.image()));
    return std::nullopt;
}

}  // namespace lyx::controls::detail
