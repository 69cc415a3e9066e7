#include "overview/ui/tristateicon.h"

#include <QCoreApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <map>

namespace varko {

using overview::Tri;

namespace {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

/// Paints the disc and its mark as paths, not from bitmaps: a style or theme may lack a
/// check or question icon, and a scaled bitmap blurs.
class TriIconEngine final : public QIconEngine {
public:
    TriIconEngine(Tri state, QColor fill, QColor mark) : state(state), fill(fill), mark(mark) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal side = std::min(rect.width(), rect.height());
        const QRectF box(rect.x() + (rect.width() - side) / 2,
                         rect.y() + (rect.height() - side) / 2, side, side);
        const auto at = [&](qreal x, qreal y) {
            return QPointF(box.left() + x * side, box.top() + y * side);
        };
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (mode == QIcon::Disabled) painter->setOpacity(0.4);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawEllipse(box.adjusted(side * 0.03, side * 0.03, -side * 0.03, -side * 0.03));
        painter->setPen(QPen(mark, side * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        QPainterPath path;
        switch (state) {
            case Tri::yes:
                path.moveTo(at(0.28, 0.52));
                path.lineTo(at(0.44, 0.68));
                path.lineTo(at(0.73, 0.35));
                break;
            case Tri::no:
                path.moveTo(at(0.34, 0.34));
                path.lineTo(at(0.66, 0.66));
                path.moveTo(at(0.66, 0.34));
                path.lineTo(at(0.34, 0.66));
                break;
            case Tri::unknown:
                path.moveTo(at(0.36, 0.38));
                path.arcTo(QRectF(at(0.36, 0.23), QSizeF(side * 0.28, side * 0.28)), 180, -270);
                path.lineTo(at(0.5, 0.58));
                painter->setBrush(mark);
                painter->drawEllipse(at(0.5, 0.75), side * 0.06, side * 0.06);
                painter->setBrush(Qt::NoBrush);
                break;
        }
        painter->drawPath(path);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State iconState) override {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(), size), mode, iconState);
        painter.end();
        return QPixmap::fromImage(std::move(image));
    }

    [[nodiscard]] QIconEngine* clone() const override { return new TriIconEngine(*this); }

private:
    Tri state;
    QColor fill;
    QColor mark;
};

}  // namespace

QColor triColor(Tri state, const QPalette& palette) {
    // Dark shades hold 7:1 on white and about 6:1 on the grey of a light window; light
    // ones the same on the near-black of dark themes.
    const bool dark = isDark(palette);
    switch (state) {
        case Tri::yes:
            return dark ? QColor(0x6f, 0xdd, 0x8b) : QColor(0x11, 0x63, 0x29);
        case Tri::no:
            return dark ? QColor(0xff, 0xa0, 0x98) : QColor(0xa4, 0x0e, 0x26);
        case Tri::unknown:
            break;
    }
    return dark ? QColor(0xf0, 0xc0, 0x5a) : QColor(0x7a, 0x4b, 0x00);
}

QIcon triIcon(Tri state, const QPalette& palette) {
    // The same few icons are asked for at every repaint of a view: keep them.
    static std::map<std::pair<int, bool>, QIcon> made;
    const bool dark = isDark(palette);
    QIcon& icon = made[{int(state), dark}];
    if (icon.isNull())
        icon = QIcon(new TriIconEngine(state, triColor(state, palette),
                                       dark ? QColor(0x1a, 0x1a, 0x1a) : QColor(Qt::white)));
    return icon;
}

QString triWords(Tri state) {
    switch (state) {
        case Tri::yes:
            return QCoreApplication::translate("Verdict", "Yes");
        case Tri::no:
            return QCoreApplication::translate("Verdict", "No");
        case Tri::unknown:
            break;
    }
    return QCoreApplication::translate("Verdict", "Can't tell");
}

QString verdictWords(overview::Verdict::State state) {
    switch (state) {
        case overview::Verdict::State::accepted:
            return QCoreApplication::translate("Verdict", "Accepted");
        case overview::Verdict::State::rejected:
            return QCoreApplication::translate("Verdict", "Rejected");
        case overview::Verdict::State::unknown:
            break;
    }
    return QCoreApplication::translate("Verdict", "Can't tell");
}

Tri verdictTri(overview::Verdict::State state) {
    switch (state) {
        case overview::Verdict::State::accepted:
            return Tri::yes;
        case overview::Verdict::State::rejected:
            return Tri::no;
        case overview::Verdict::State::unknown:
            break;
    }
    return Tri::unknown;
}

}  // namespace varko
