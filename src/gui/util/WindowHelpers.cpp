#include "WindowHelpers.h"

#include "app/SettingsStore.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Defaults for a window that has never been placed, and the least that is restored, in twips.
constexpr int kDefaultTop = 100;
constexpr int kDefaultLeft = 100;
constexpr int kDefaultWidth = 15000;
constexpr int kDefaultHeight = 10000;
constexpr int kMinWidth = 4000;
constexpr int kMinHeight = 3000;

int toTwips(int pixels)
{
    return pixels * placement::kTwipsPerPixel;
}

int toPixels(int twips)
{
    // Round to the nearest pixel so that a saved value comes back to the same pixel (in 64 bits: a
    // hand-edited value may be as large as an int goes).
    const qint64 half = placement::kTwipsPerPixel / 2;
    return int((twips >= 0 ? twips + half : twips - half) / placement::kTwipsPerPixel);
}

} // namespace

QString ScreenResolutionText()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return u"0*0"_s;
    const QSize size = screen->size();
    return u"%1*%2"_s.arg(size.width()).arg(size.height());
}

void SaveWindowPlacement(QWidget* window, SettingsStore& settings)
{
    if (!window)
        return;
    const QString section = window->objectName();
    if (window->isMaximized()) {
        settings.set(section, placement::kResolution, placement::kMaximized);
        return;
    }
    // A minimized window keeps its normal position and size in Qt, so those are what is saved.
    settings.set(section, placement::kResolution, ScreenResolutionText());
    settings.set(section, placement::kTop, toTwips(window->y()));
    settings.set(section, placement::kLeft, toTwips(window->x()));
    settings.set(section, placement::kWidth, toTwips(window->width()));
    settings.set(section, placement::kHeight, toTwips(window->height()));
}

void RestoreWindowPlacement(QWidget* window, SettingsStore& settings)
{
    if (!window)
        return;
    const QString section = window->objectName();
    const QString saved = settings.get(section, placement::kResolution, u"000"_s);
    if (saved != ScreenResolutionText()) {
        window->setWindowState((window->windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen)) |
                               Qt::WindowMaximized);
        return;
    }
    const int top = std::max(settings.getInt(section, placement::kTop, kDefaultTop), 0);
    const int left = std::max(settings.getInt(section, placement::kLeft, kDefaultLeft), 0);
    const int width = std::max(settings.getInt(section, placement::kWidth, kDefaultWidth), kMinWidth);
    const int height = std::max(settings.getInt(section, placement::kHeight, kDefaultHeight), kMinHeight);
    const QRect placed(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
    // A place no screen shows (a monitor since unplugged, a hand-edited value) gives the window the
    // whole screen instead: the start of its title bar must be on one.
    const QPoint titleBar(placed.x() + std::min(placed.width(), 100) / 2, placed.y() + 10);
    if (!QGuiApplication::screenAt(titleBar)) {
        window->setWindowState((window->windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen)) |
                               Qt::WindowMaximized);
        return;
    }
    window->setWindowState(window->windowState() &
                           ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    window->move(placed.topLeft());
    window->resize(placed.size());
}

void FitComboDropWidth(QComboBox* combo)
{
    if (!combo || !combo->view())
        return;
    QAbstractItemView* view = combo->view();
    const QFontMetrics metrics(combo->font());
    int longest = 0;
    for (int i = 0; i < combo->count(); ++i)
        longest = std::max(longest, metrics.horizontalAdvance(combo->itemText(i)));
    // The list draws its entries with margins of its own; never cut what it needs.
    int width = std::max(longest + 7, view->sizeHintForColumn(0)) + 2 * view->frameWidth();
    if (combo->count() > combo->maxVisibleItems())
        width += combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    if (const QScreen* screen = combo->screen()) {
        const int room = screen->availableGeometry().right() + 1 - combo->mapToGlobal(QPoint(0, 0)).x();
        if (room > 0)
            width = std::min(width, room);
    }
    view->setMinimumWidth(width);
}

} // namespace lintbay
