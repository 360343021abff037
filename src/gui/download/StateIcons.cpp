#include "StateIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace lintbay {

namespace {
constexpr int kSize = 16;

QPixmap drawWaiting()
{
    QPixmap p(kSize, kSize);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.5));
    g.setBrush(QColor(0xF2, 0xF2, 0xF2));
    g.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    g.drawLine(QPointF(8, 8), QPointF(8, 4));
    g.drawLine(QPointF(8, 8), QPointF(11, 9.5));
    return p;
}

QPixmap drawDownloading()
{
    QPixmap p(kSize, kSize);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(0x1E, 0x6F, 0xD9));
    g.drawRect(QRectF(6, 1, 4, 7));
    QPainterPath head;
    head.moveTo(2, 7.5);
    head.lineTo(14, 7.5);
    head.lineTo(8, 14);
    head.closeSubpath();
    g.drawPath(head);
    g.drawRect(QRectF(2, 14, 12, 1.5));
    return p;
}

QPixmap drawDone()
{
    QPixmap p(kSize, kSize);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0x1F, 0x9D, 0x4D), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
    return p;
}

QPixmap drawFailed()
{
    QPixmap p(kSize, kSize);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(QColor(0xD9, 0x2B, 0x2B), 2.6, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    g.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return p;
}
} // namespace

QIcon StateIcon(DownloadItemState state)
{
    static const QIcon icons[] = {QIcon(drawWaiting()), QIcon(drawDownloading()), QIcon(drawDone()),
                                  QIcon(drawFailed())};
    const int i = int(state) - 1;
    return i >= 0 && i < 4 ? icons[i] : QIcon();
}

QVariant StateIconProxy::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == DownloadListModel::NameColumn) {
        const QVariant state = QIdentityProxyModel::data(index, DownloadListModel::StateRole);
        return state.isValid() ? QVariant(StateIcon(DownloadItemState(state.toInt()))) : QVariant();
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace lintbay
