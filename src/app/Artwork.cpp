#include "app/Artwork.h"

#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <cmath>

namespace {

const QColor Deep{0x0B, 0x3D, 0x6B};
const QColor Sea{0x1F, 0x7A, 0xB8};
const QColor Foam{0xE8, 0xF4, 0xFB};

void DrawMark(QPainter &p, const QRectF &r)
{
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0, Sea);
    gradient.setColorAt(1, Deep);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawRoundedRect(r, r.width() * 0.18, r.width() * 0.18);
    // Three waves of falling amplitude: the tide.
    for (int wave = 0; wave < 3; ++wave) {
        QPainterPath path;
        const double y0 = r.top() + r.height() * (0.35 + 0.2 * wave);
        const double amplitude = r.height() * (0.09 - 0.02 * wave);
        const double left = r.left() + r.width() * 0.14, right = r.right() - r.width() * 0.14;
        path.moveTo(left, y0);
        for (double x = left; x <= right; x += 0.5) {
            const double phase = (x - left) / (right - left) * 2 * M_PI * 1.5;
            path.lineTo(x, y0 - amplitude * std::sin(phase));
        }
        QPen pen(Foam, std::max(1.0, r.width() * (0.075 - 0.015 * wave)));
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
}

QPixmap Blank(QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap LogoMark(int size)
{
    QPixmap pixmap = Blank(QSize(size, size));
    QPainter p(&pixmap);
    DrawMark(p, QRectF(0.5, 0.5, size - 1, size - 1));
    return pixmap;
}

QPixmap LogoWithName(int height)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(int(height * 0.62));
    const QString name = QStringLiteral("Tidewell");
    const int textWidth = QFontMetrics(font).horizontalAdvance(name);
    QPixmap pixmap = Blank(QSize(height + height / 4 + textWidth + 2, height));
    QPainter p(&pixmap);
    DrawMark(p, QRectF(0.5, 0.5, height - 1, height - 1));
    p.setFont(font);
    p.setPen(Deep);
    p.drawText(QRect(height + height / 4, 0, textWidth + 2, height), Qt::AlignVCenter, name);
    return pixmap;
}

QIcon EventImageIcon(TEventImage image)
{
    QStyle *style = QApplication::style();
    switch (image) {
    case TEventImage::Error: return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case TEventImage::Warning: return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case TEventImage::Information: return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case TEventImage::Debug: {
        QPixmap pixmap = Blank(QSize(16, 16));
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1));
        p.setBrush(QColor(0xC8, 0xC8, 0xC8));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(9);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("D"));
        return QIcon(pixmap);
    }
    case TEventImage::None: break;
    }
    return QIcon();
}

QPixmap DocumentImage(int index)
{
    QStyle *style = QApplication::style();
    switch (index) {
    case 0: return style->standardIcon(QStyle::SP_FileIcon).pixmap(16, 16);
    case 1: return style->standardIcon(QStyle::SP_DriveNetIcon).pixmap(16, 16);
    case 2: return style->standardIcon(QStyle::SP_FileLinkIcon).pixmap(16, 16);
    default: return QPixmap();
    }
}
