#include "ui/applicationstyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QProxyStyle>
#include <functional>
#include <optional>

namespace varko {

namespace {

/// An icon that is made when it is first drawn or measured.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> make) : make(std::move(make)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    // Asked as the button is laid out; the style's icon is never null.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("varko.deferred"); }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    const QIcon& icon() {
        if (!made) made = make();
        return *made;
    }

    std::function<QIcon()> make;
    std::optional<QIcon> made;
};

class ApplicationStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        if (which != SP_ToolBarHorizontalExtensionButton)
            return QProxyStyle::standardIcon(which, option, widget);
        // The widget and option may be gone by the time it is drawn; the icon needs neither.
        return QIcon(new DeferredIconEngine([base = QPointer<QStyle>(baseStyle()), which] {
            return base ? base->standardIcon(which) : QIcon();
        }));
    }
};

}  // namespace

void useApplicationStyle() {
    // The proxy takes the current style over; the application then owns the proxy.
    QApplication::setStyle(new ApplicationStyle(QApplication::style()));
}

}  // namespace varko
