#include "server/window/StatePictures.h"

#include <QPainter>
#include <QPainterPath>

namespace nodalis {

namespace {

QColor tileColour(Picture picture)
{
    switch (picture) {
    case Picture::Idle:
        return QColor(0x80, 0x88, 0x90);
    case Picture::Receiving:
        return QColor(0x1e, 0x6f, 0xc8);
    case Picture::Sending:
        return QColor(0x2e, 0x9d, 0x4a);
    case Picture::Listening:
        return QColor(0xe0, 0x8a, 0x10);
    case Picture::Tracking:
        return QColor(0x7a, 0x4c, 0xb8);
    case Picture::Explorer:
        return QColor(0x13, 0x8f, 0x8f);
    case Picture::Info:
        return QColor(0x4a, 0x6a, 0x8c);
    case Picture::Send:
        return QColor(0x2e, 0x9d, 0x4a);
    case Picture::Listen:
        return QColor(0xe0, 0x8a, 0x10);
    case Picture::Stop:
        return QColor(0xc8, 0x32, 0x32);
    }
    return Qt::gray;
}

// Signs are drawn on a 24 x 24 grid, scaled to the picture.
void arrow(QPainter& p, bool up)
{
    QPainterPath path;
    if (up) {
        path.moveTo(12, 4);
        path.lineTo(19, 12);
        path.lineTo(14.5, 12);
        path.lineTo(14.5, 20);
        path.lineTo(9.5, 20);
        path.lineTo(9.5, 12);
        path.lineTo(5, 12);
    } else {
        path.moveTo(12, 20);
        path.lineTo(19, 12);
        path.lineTo(14.5, 12);
        path.lineTo(14.5, 4);
        path.lineTo(9.5, 4);
        path.lineTo(9.5, 12);
        path.lineTo(5, 12);
    }
    path.closeSubpath();
    p.fillPath(path, Qt::white);
}

void waves(QPainter& p)
{
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(7, 17), 2.2, 2.2);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(1, 7, 12, 20), 0, 90 * 16);
    p.drawArc(QRectF(-5, 1, 24, 32), 0, 90 * 16);
}

void sign(QPainter& p, Picture picture)
{
    QPen pen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    switch (picture) {
    case Picture::Idle:
        p.drawLine(QPointF(6, 12), QPointF(18, 12));
        break;
    case Picture::Receiving:
    case Picture::Send:
        arrow(p, picture == Picture::Send);
        break;
    case Picture::Sending:
        arrow(p, true);
        break;
    case Picture::Listening:
    case Picture::Listen:
        waves(p);
        break;
    case Picture::Tracking:
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(12, 12), 7, 7);
        p.drawLine(QPointF(12, 12), QPointF(12, 7.5));
        p.drawLine(QPointF(12, 12), QPointF(15.5, 13.5));
        break;
    case Picture::Explorer:
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(4, 8, 16, 11), 1.5, 1.5);
        p.drawRoundedRect(QRectF(4, 6, 7, 4), 1, 1);
        break;
    case Picture::Info:
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(12, 6.5), 1.8, 1.8);
        p.drawRoundedRect(QRectF(10.4, 10, 3.2, 9), 1, 1);
        break;
    case Picture::Stop:
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(7, 7, 10, 10), 1.5, 1.5);
        break;
    }
}

} // namespace

Picture StatePicture(int state)
{
    switch (state) {
    case 1:
        return Picture::Receiving;
    case 2:
        return Picture::Sending;
    case 3:
        return Picture::Listening;
    case 6:
        return Picture::Tracking;
    case 5:
        return Picture::Explorer;
    default:
        return Picture::Idle;
    }
}

Picture ButtonPicture(int index)
{
    switch (index) {
    case 1:
        return Picture::Send;
    case 2:
        return Picture::Listen;
    case 3:
        return Picture::Stop;
    default:
        return Picture::Info;
    }
}

QPixmap DrawPicture(Picture picture, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    const QColor colour = tileColour(picture);
    QLinearGradient shade(0, 0, 0, 24);
    shade.setColorAt(0, colour.lighter(118));
    shade.setColorAt(1, colour.darker(112));
    p.setPen(QPen(colour.darker(135), 0.8));
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(1, 1, 22, 22), 4.5, 4.5);
    sign(p, picture);
    return pixmap;
}

QIcon PictureIcon(Picture picture)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(DrawPicture(picture, size));
    return icon;
}

} // namespace nodalis
