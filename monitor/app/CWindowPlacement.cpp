#include "monitor/app/CWindowPlacement.h"

#include "qzcom.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace tarmin::monitor {

namespace {
constexpr const char *kSection = "Software\\KELVORIA\\tarmin-operator\\3.1\\Settings";
constexpr const char *kEntry = "WndPos";

bool visibleOnSomeScreen(const QRect &r) {
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(r)) return true;
    return false;
}
} // namespace

std::string CWindowPlacement::sectionPath() { return kSection; }

WindowPlacementData CWindowPlacement::placementOf(const QWidget &window) {
    WindowPlacementData p;
    const QRect normal = window.isMaximized() || window.isMinimized() ? window.normalGeometry() : window.geometry();
    p.left = normal.left();
    p.top = normal.top();
    p.right = normal.left() + normal.width();
    p.bottom = normal.top() + normal.height();
    if (window.isMinimized()) {
        p.showCmd = WindowPlacementData::kShowMinimized;
        if (window.windowState() & Qt::WindowMaximized) p.flags = WindowPlacementData::kRestoreToMaximized;
    } else if (window.isMaximized()) {
        p.showCmd = WindowPlacementData::kShowMaximized;
    }
    return p;
}

void CWindowPlacement::apply(QWidget &window, const WindowPlacementData &placement) {
    QRect normal(placement.left, placement.top, placement.right - placement.left, placement.bottom - placement.top);
    if (normal.width() > 0 && normal.height() > 0) {
        if (!visibleOnSomeScreen(normal))
            if (const QScreen *primary = QGuiApplication::primaryScreen())
                normal.moveCenter(primary->availableGeometry().center());
        window.setGeometry(normal);
    }
    switch (placement.showCmd) {
    case WindowPlacementData::kShowMaximized: window.showMaximized(); break;
    case WindowPlacementData::kShowMinimized:
        if (placement.flags & WindowPlacementData::kRestoreToMaximized)
            window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        window.showMinimized();
        break;
    default: window.showNormal(); break;
    }
    window.update();
}

bool CWindowPlacement::Restore(QWidget &window) {
    char *text = nullptr;
    const int rc = QZ_GetKeyString(kSection, kEntry, &text, "");
    const std::string stored = text ? text : "";
    QZ_Free(text);
    if (rc != 0) return false;
    const std::optional<WindowPlacementData> placement = parseWindowPlacement(stored);
    if (!placement) return false;
    apply(window, *placement);
    return true;
}

int CWindowPlacement::Save(const QWidget &window) {
    return QZ_SetKeyString(kSection, kEntry, formatWindowPlacement(placementOf(window)).c_str(), 0);
}

} // namespace tarmin::monitor
