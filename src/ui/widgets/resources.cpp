#include "widgets/resources.h"

namespace mc {

namespace {

QIcon loadIcon(const QString& name) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1-16.png").arg(name), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/%1-32.png").arg(name), QSize(32, 32));
    return icon;
}

} // namespace

QIcon applicationIcon() {
    return loadIcon(QStringLiteral("application"));
}

QIcon openPortIcon() {
    return loadIcon(QStringLiteral("port-open"));
}

QIcon closedPortIcon() {
    return loadIcon(QStringLiteral("port-closed"));
}

} // namespace mc
