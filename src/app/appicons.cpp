// The icon resources and the command each icon stands for.
#include "app/appicons.h"

// Q_INIT_RESOURCE declares a function and must stand outside any namespace.
static void registerIconResources()
{
    Q_INIT_RESOURCE(vorn_app_icons);
}

namespace vorn {

void initAppIcons()
{
    registerIconResources();
}

QString commandIconPath(int commandId)
{
    const char *name = nullptr;
    switch (commandId) {
    case 32810: name = "new"; break;
    case 32811: name = "open"; break;
    case 32812: name = "save"; break;
    case 32778: name = "output"; break;
    case 32771: name = "play"; break;
    case 32772: name = "stop"; break;
    case 32773: name = "pause"; break;
    case 32789: name = "speed1"; break;
    case 32786: name = "speed2"; break;
    case 32790: name = "speed4"; break;
    case 32794: name = "zoomin"; break;
    case 32795: name = "zoomout"; break;
    case 32799: name = "current"; break;
    case 32813: name = "renderer"; break;
    case 57664: name = "about"; break;
    default: return {};
    }
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
}

QIcon commandIcon(int commandId)
{
    const QString path = commandIconPath(commandId);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QIcon appIcon()
{
    return QIcon(QStringLiteral(":/icons/app.svg"));
}

} // namespace vorn
