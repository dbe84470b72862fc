// Icon indices by block kind and the icon resources.
#include "editor/editoricons.h"

#include <array>

// Q_INIT_RESOURCE declares a function and must stand outside any namespace.
static void registerEditorResources()
{
    Q_INIT_RESOURCE(vorn_editor_icons);
}

namespace vorn {

void initEditorIcons()
{
    registerEditorResources();
}

int blockIconIndex(int32_t kindCode)
{
    switch (uint32_t(kindCode)) {
    case 0x0001: return 0;
    case 0x0002: return 1;
    case 0x0003: return 2;
    case 0x1000: return 3;
    case 0x1001: return 4;
    case 0x1002: return 5;
    case 0x1003: return 5;
    case 0x1004: return 6;
    case 0x1005: return 7;
    case 0x1006: return 8;
    case 0x2000: return 9;
    case 0x2001: return 10;
    case 0x2002: return 11;
    case 0x2003: return 12;
    case 0x2004: return 13;
    case 0x2005: return 14;
    case 0x2006: return 15;
    case 0x2007: return 16;
    case 0x2008: return 17;
    case 0x2009: return 18;
    case 0x80000000u: return 12;
    default: return -1;
    }
}

QString blockIconPath(int index)
{
    static const char *const names[BlockIconCount] = {
        "00-image", "01-text",  "02-draw",      "03-still", "04-rotate", "05-zoom",  "06-slide",
        "07-focus", "08-film",  "09-fade",      "10-crossfade", "11-mix", "12-series", "13-shake",
        "14-mosaic", "15-expand", "16-cut",     "17-alpha", "18-shade"};
    if (index < 0 || index >= BlockIconCount)
        return {};
    return QStringLiteral(":/editor/icons/%1.svg").arg(QLatin1String(names[index]));
}

QIcon blockIcon(int32_t kindCode)
{
    // One QIcon per index, shared by every item (copies share the rendered pixmaps).
    // Never destroyed: icons must not outlive the application object at exit.
    static auto *const icons = new std::array<QIcon, BlockIconCount>;
    const int index = blockIconIndex(kindCode);
    if (index < 0)
        return {};
    QIcon &icon = (*icons)[size_t(index)];
    if (icon.isNull())
        icon = QIcon(blockIconPath(index));
    return icon;
}

} // namespace vorn
