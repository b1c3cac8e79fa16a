#include "monitor/resources/MonitorIcons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTransform>

#include <array>

namespace tarmin::monitor {

namespace {

// Every icon is drawn on a 32 by 32 grid and scaled for the small list, so
// that both sizes show the same picture. Strokes are 2 units wide, which
// keeps one whole pixel at 16 pixels.
constexpr int kGrid = 32;

const QColor kOutline(0x33, 0x3d, 0x4a);
const QColor kPaper(0xfb, 0xfb, 0xf7);
const QColor kEnvelope(0xf4, 0xee, 0xdc);
const QColor kBlue(0x2f, 0x6d, 0xb5);
const QColor kGreen(0x2e, 0x9b, 0x4f);
const QColor kRed(0xc9, 0x2a, 0x2a);
const QColor kGold(0xe0, 0xa8, 0x26);
const QColor kGrey(0x8a, 0x93, 0x9e);

QPen outlinePen(qreal width = 1.6) {
    QPen pen(kOutline, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

void drawEnvelope(QPainter &p, const QRectF &r) {
    p.setPen(outlinePen());
    p.setBrush(kEnvelope);
    p.drawRoundedRect(r, 1.5, 1.5);
    QPainterPath flap;
    flap.moveTo(r.left() + 1, r.top() + 1);
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.right() - 1, r.top() + 1);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void drawSheet(QPainter &p, const QRectF &r, int lines) {
    const qreal fold = r.width() * 0.3;
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
    p.setPen(QPen(kGrey, 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < lines; ++i) {
        const qreal y = r.top() + fold + 3 + i * 4.0;
        if (y > r.bottom() - 2) break;
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    }
}

// A round badge in the lower right corner carrying a mark.
enum class Mark { Exclamation, Cross, Check };

void drawBadge(QPainter &p, const QPointF &c, qreal radius, const QColor &fill, Mark mark) {
    p.setPen(QPen(Qt::white, 1.6));
    p.setBrush(fill);
    p.drawEllipse(c, radius, radius);
    QPen pen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const qreal d = radius * 0.45;
    switch (mark) {
    case Mark::Exclamation:
        p.drawLine(QPointF(c.x(), c.y() - radius * 0.5), QPointF(c.x(), c.y() + radius * 0.1));
        p.drawPoint(QPointF(c.x(), c.y() + radius * 0.5));
        break;
    case Mark::Cross:
        p.drawLine(QPointF(c.x() - d, c.y() - d), QPointF(c.x() + d, c.y() + d));
        p.drawLine(QPointF(c.x() + d, c.y() - d), QPointF(c.x() - d, c.y() + d));
        break;
    case Mark::Check: {
        QPainterPath check;
        check.moveTo(c.x() - d, c.y());
        check.lineTo(c.x() - d * 0.2, c.y() + d * 0.8);
        check.lineTo(c.x() + d, c.y() - d * 0.7);
        p.drawPath(check);
        break;
    }
    }
}

void drawSeal(QPainter &p, const QPointF &c, qreal radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(kRed.darker(120));
    QPolygonF ribbon;
    ribbon << QPointF(c.x() - radius * 0.6, c.y()) << QPointF(c.x() - radius * 0.9, c.y() + radius * 1.7)
           << QPointF(c.x(), c.y() + radius * 1.2) << QPointF(c.x() + radius * 0.9, c.y() + radius * 1.7)
           << QPointF(c.x() + radius * 0.6, c.y());
    p.drawPolygon(ribbon);
    p.setPen(QPen(kRed.darker(150), 1.2));
    p.setBrush(kRed);
    p.drawEllipse(c, radius, radius);
    p.setPen(QPen(QColor(0xf2, 0xb8, 0xb8), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, radius * 0.55, radius * 0.55);
}

void drawPadlock(QPainter &p, const QRectF &body) {
    const qreal w = body.width();
    QPen shackle(kOutline, 2.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(shackle);
    p.setBrush(Qt::NoBrush);
    QRectF arc(body.left() + w * 0.2, body.top() - w * 0.55, w * 0.6, w * 1.0);
    p.drawArc(arc, 0, 180 * 16);
    p.drawLine(QPointF(arc.left(), arc.center().y()), QPointF(arc.left(), body.top()));
    p.drawLine(QPointF(arc.right(), arc.center().y()), QPointF(arc.right(), body.top()));
    p.setPen(outlinePen(1.4));
    p.setBrush(kGold);
    p.drawRoundedRect(body, 1.5, 1.5);
    p.setPen(QPen(kOutline, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(body.center().x(), body.center().y() - 1), QPointF(body.center().x(), body.center().y() + 2));
}

void drawTray(QPainter &p) {
    QPainterPath tray;
    tray.moveTo(3, 18);
    tray.lineTo(9, 18);
    tray.lineTo(11, 22);
    tray.lineTo(21, 22);
    tray.lineTo(23, 18);
    tray.lineTo(29, 18);
    tray.lineTo(29, 28);
    tray.lineTo(3, 28);
    tray.closeSubpath();
    p.setPen(outlinePen());
    p.setBrush(QColor(0xd9, 0xdf, 0xe6));
    p.drawPath(tray);
}

void drawArrow(QPainter &p, bool down, const QColor &color) {
    QPainterPath arrow;
    arrow.moveTo(13, 2);
    arrow.lineTo(19, 2);
    arrow.lineTo(19, 11);
    arrow.lineTo(24, 11);
    arrow.lineTo(16, 20);
    arrow.lineTo(8, 11);
    arrow.lineTo(13, 11);
    arrow.closeSubpath();
    // The upward arrow is the downward one mirrored about its middle (y = 11).
    if (!down) arrow = QTransform(1, 0, 0, -1, 0, 22).map(arrow);
    p.setPen(QPen(color.darker(140), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    p.drawPath(arrow);
}

void drawClock(QPainter &p, const QPointF &c, qreal radius) {
    p.setPen(QPen(Qt::white, 1.6));
    p.setBrush(kBlue);
    p.drawEllipse(c, radius, radius);
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x(), c.y() - radius * 0.6));
    p.drawLine(c, QPointF(c.x() + radius * 0.5, c.y()));
}

void paintApplication(QPainter &p) {
    QPainterPath shield;
    shield.moveTo(16, 2);
    shield.cubicTo(21, 5, 25, 5, 29, 5);
    shield.cubicTo(29, 18, 24, 26, 16, 30);
    shield.cubicTo(8, 26, 3, 18, 3, 5);
    shield.cubicTo(7, 5, 11, 5, 16, 2);
    p.setPen(QPen(kBlue.darker(150), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kBlue);
    p.drawPath(shield);
    drawEnvelope(p, QRectF(8, 10, 16, 11));
}

void paintErrorsLog(QPainter &p) {
    drawSheet(p, QRectF(4, 2, 20, 27), 5);
    drawBadge(p, QPointF(23, 23), 7.5, kRed, Mark::Exclamation);
}

void paintInbound(QPainter &p) {
    drawTray(p);
    drawArrow(p, true, kGreen);
}

void paintOutbound(QPainter &p) {
    drawTray(p);
    drawArrow(p, false, kBlue);
}

void paintNotifications(QPainter &p) {
    drawSheet(p, QRectF(4, 2, 20, 27), 5);
    drawBadge(p, QPointF(23, 23), 7.5, kGreen, Mark::Check);
}

QRectF messageEnvelope() { return QRectF(2, 7, 28, 19); }

void paintPlainMessage(QPainter &p) { drawEnvelope(p, messageEnvelope()); }

void paintSignedMessage(QPainter &p) {
    drawEnvelope(p, messageEnvelope());
    drawSeal(p, QPointF(23, 20), 5.5);
}

void paintSignedEncrypted(QPainter &p) {
    drawEnvelope(p, messageEnvelope());
    drawPadlock(p, QRectF(3, 19, 11, 9));
    drawSeal(p, QPointF(23, 20), 5.5);
}

void paintEncryptedMessage(QPainter &p) {
    drawEnvelope(p, messageEnvelope());
    drawPadlock(p, QRectF(17, 19, 12, 10));
}

void paintFailedMessage(QPainter &p) {
    drawEnvelope(p, messageEnvelope());
    drawBadge(p, QPointF(23, 23), 7.5, kRed, Mark::Cross);
}

void paintAwaitingReceipt(QPainter &p) {
    drawEnvelope(p, messageEnvelope());
    drawClock(p, QPointF(23, 23), 7.5);
}

void paintAttachment(QPainter &p) {
    QPainterPath clip;
    clip.moveTo(20, 9);
    clip.lineTo(20, 24);
    clip.cubicTo(20, 30, 11, 30, 11, 24);
    clip.lineTo(11, 7);
    clip.cubicTo(11, 2, 17, 2, 17, 7);
    clip.lineTo(17, 22);
    clip.cubicTo(17, 25, 14, 25, 14, 22);
    clip.lineTo(14, 10);
    p.setPen(QPen(kGrey.darker(130), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(clip);
}

// The recipient icons: one badge filling the whole grid.
QPointF gridCentre() { return QPointF(kGrid / 2.0, kGrid / 2.0); }
void paintReceiptConfirmed(QPainter &p) { drawBadge(p, gridCentre(), kGrid / 2.0 - 2, kGreen, Mark::Check); }
void paintReceiptFailed(QPainter &p) { drawBadge(p, gridCentre(), kGrid / 2.0 - 2, kRed, Mark::Cross); }
void paintReceiptWaiting(QPainter &p) { drawClock(p, gridCentre(), kGrid / 2.0 - 2); }

using Painter = void (*)(QPainter &);

constexpr std::array<Painter, 11> kOwnIcons = {
    paintApplication,   paintErrorsLog,        paintInbound,          paintOutbound,
    paintNotifications, paintPlainMessage,     paintSignedMessage,    paintSignedEncrypted,
    paintEncryptedMessage, paintFailedMessage, paintAwaitingReceipt,
};

QPixmap render(Painter paint, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(static_cast<qreal>(size) / kGrid, static_cast<qreal>(size) / kGrid);
    paint(p);
    return pixmap;
}

QPixmap systemIcon(int index, int size) {
    QStyle::StandardPixmap which = QStyle::SP_MessageBoxInformation;
    if (index == kImageSystemError) which = QStyle::SP_MessageBoxCritical;
    if (index == kImageSystemWarning) which = QStyle::SP_MessageBoxWarning;
    return QApplication::style()->standardIcon(which).pixmap(size, size);
}

struct ImageLists {
    std::array<QPixmap, kImageCount> small;
    std::array<QPixmap, kImageCount> large;
    std::array<QIcon, kImageCount> icons;
    QIcon attachment;
    QIcon receiptConfirmed, receiptFailed, receiptWaiting;
};

ImageLists *g_lists = nullptr;

} // namespace

void MonitorIcons::ensureBuilt() {
    if (g_lists) return;
    static ImageLists lists;
    for (int i = 0; i < kImageCount; ++i) {
        if (i < static_cast<int>(kOwnIcons.size())) {
            lists.small[i] = render(kOwnIcons[i], 16);
            lists.large[i] = render(kOwnIcons[i], 32);
        } else {
            lists.small[i] = systemIcon(i, 16);
            lists.large[i] = systemIcon(i, 32);
        }
        lists.icons[i].addPixmap(lists.small[i]);
        lists.icons[i].addPixmap(lists.large[i]);
    }
    lists.attachment.addPixmap(render(paintAttachment, 16));
    lists.attachment.addPixmap(render(paintAttachment, 32));
    for (auto [icon, paint] : {std::pair{&lists.receiptConfirmed, &paintReceiptConfirmed},
                               std::pair{&lists.receiptFailed, &paintReceiptFailed},
                               std::pair{&lists.receiptWaiting, &paintReceiptWaiting}}) {
        icon->addPixmap(render(paint, 16));
        icon->addPixmap(render(paint, 32));
    }
    g_lists = &lists;
}

QIcon MonitorIcons::icon(int index) {
    if (index < 0 || index >= kImageCount) return {};
    ensureBuilt();
    return g_lists->icons[index];
}

QPixmap MonitorIcons::small(int index) {
    if (index < 0 || index >= kImageCount) return {};
    ensureBuilt();
    return g_lists->small[index];
}

QPixmap MonitorIcons::large(int index) {
    if (index < 0 || index >= kImageCount) return {};
    ensureBuilt();
    return g_lists->large[index];
}

QIcon MonitorIcons::attachment() {
    ensureBuilt();
    return g_lists->attachment;
}

QIcon MonitorIcons::receiptConfirmed() {
    ensureBuilt();
    return g_lists->receiptConfirmed;
}

QIcon MonitorIcons::receiptFailed() {
    ensureBuilt();
    return g_lists->receiptFailed;
}

QIcon MonitorIcons::receiptWaiting() {
    ensureBuilt();
    return g_lists->receiptWaiting;
}

} // namespace tarmin::monitor
