#include "resources/Artwork.h"

#include "resources/ResourceIds.h"

#include <QFile>

static void InitResourcesOnce()
{
    // The resource file is compiled into this static library; registering it is
    // explicit because nothing else references its symbols.
    Q_INIT_RESOURCE(cadenzo);
}

namespace {

const int kIconSizes[] = {16, 24, 32, 48, 64, 128};

bool IsIcon(int id)
{
    switch (id) {
    case IDI_PROGRAM: case IDI_ABOUT: case IDI_STOP: case IDI_RECORD:
    case IDI_MIXER: case IDI_ADD: case IDI_DELETE:
        return true;
    default:
        return false;
    }
}

bool IsBitmap(int id)
{
    switch (id) {
    case IDB_ABOUT: case IDB_RECORD_ACTIVE_PURPLE: case IDB_RECORD_IDLE_PURPLE:
    case IDB_RECORD_ACTIVE_LIGHT: case IDB_RECORD_IDLE_LIGHT:
        return true;
    default:
        return false;
    }
}

}  // namespace

void InitResources()
{
    static const bool s_bDone = (InitResourcesOnce(), true);
    (void)s_bDone;
}

QString BitmapPath(int id)
{
    return IsBitmap(id) ? QStringLiteral(":/cadenzo/bitmap%1.png").arg(id) : QString();
}

QString IconPath(int id, int size)
{
    if (!IsIcon(id))
        return QString();
    const QString path = QStringLiteral(":/cadenzo/icon%1-%2.png").arg(id).arg(size);
    return QFile::exists(path) ? path : QString();
}

QIcon LoadIcon(int id)
{
    InitResources();
    QIcon icon;
    for (int size : kIconSizes) {
        const QString path = IconPath(id, size);
        if (!path.isEmpty())
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}

QPixmap LoadIconPixmap(int id, int size)
{
    const QIcon icon = LoadIcon(id);
    if (icon.isNull())
        return QPixmap();
    return icon.pixmap(QSize(size, size), 1.0);
}

QPixmap LoadBitmap(int id)
{
    InitResources();
    const QString path = BitmapPath(id);
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}
