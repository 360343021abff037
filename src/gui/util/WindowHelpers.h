#pragma once

#include <QString>

class QComboBox;
class QWidget;

namespace lintbay {

class SettingsStore;

// Keys of a window's placement, under a section named after the window's objectName. Positions
// and sizes are stored in twips (15 per pixel), the unit the settings have always used.
namespace placement {
inline const QString kResolution = QStringLiteral("分辨率");
inline const QString kTop = QStringLiteral("上");
inline const QString kLeft = QStringLiteral("左");
inline const QString kWidth = QStringLiteral("宽");
inline const QString kHeight = QStringLiteral("高");
inline const QString kMaximized = QStringLiteral("0*0");
inline constexpr int kTwipsPerPixel = 15;
} // namespace placement

// The primary screen's size in pixels as "width*height", such as "1920*1080".
QString ScreenResolutionText();

// Saves the window's position and size with the screen resolution; a maximized window saves only
// "0*0" as its resolution, so that it opens maximized again.
void SaveWindowPlacement(QWidget* window, SettingsStore& settings);
// Puts the window where it was saved at this screen resolution (never above or left of the screen
// edge, never smaller than 4000 × 3000 twips) in the normal state; with no placement for this
// resolution the window is maximized. Call before the window is shown.
void RestoreWindowPlacement(QWidget* window, SettingsStore& settings);

// Widens the combo box's drop-down list to show its longest entry in full (and a scroll bar when
// the list is long enough to need one), but not past the right edge of the screen.
void FitComboDropWidth(QComboBox* combo);

} // namespace lintbay
