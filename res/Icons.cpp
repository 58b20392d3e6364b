#include "res/Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: register them before the first lookup.
static void EnsureResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(dravix);
        return true;
    }();
    (void)registered;
}

namespace dravix {

namespace {

QString IconPath(int id) {
    return QStringLiteral(":/icons/%1.svg").arg(id);
}

// Renders an SVG resource at a device-independent size, sharp at the screen's scale.
QPixmap Render(const QString& path, const QSize& size) {
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || size.isEmpty()) return {};
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

}  // namespace

QIcon LoadIcon(int id) {
    EnsureResources();
    const QString path = IconPath(id);
    if (!QFile::exists(path)) return {};
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(Render(path, QSize(size, size)));
    return icon;
}

QPixmap LoadIconPixmap(int id, int size) {
    EnsureResources();
    const QString path = IconPath(id);
    if (!QFile::exists(path)) return {};
    return Render(path, QSize(size, size));
}

QPixmap LoadBanner(const QSize& size) {
    EnsureResources();
    return Render(QStringLiteral(":/banner.svg"), size);
}

}  // namespace dravix
