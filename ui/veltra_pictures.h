// The pictures of the small windows, painted at run time rather than shipped as bitmaps so that they
// stay sharp at any display scaling: the five severity pictures of the message box (in the order the
// box numbers them) and the program's icon shown by the about window.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <functional>

class QPainter;

enum TMsgPicture : int {
    mpInformation = 0, // blue letter i
    mpQuestion = 1,    // blue question mark
    mpWarningBlue = 2, // blue exclamation mark
    mpWarning = 3,     // yellow exclamation mark
    mpError = 4,       // red exclamation mark
};
inline constexpr int MsgPictureCount = 5;
inline constexpr int MsgPictureSize = 48;

// `devicePixelRatio` is that of the screen the picture goes to: the pixmap has that many pixels per
// logical pixel, so a 48 x 48 picture is painted on 96 x 96 pixels at 200 %.
QPixmap MsgBoxPicture(int picture, qreal devicePixelRatio);
QPixmap ProgramIcon(int logicalSize, qreal devicePixelRatio);

// An icon painted for the usual screen scales (100 % to 300 %); `draw` paints on a 48-unit square.
QIcon PaintedIcon(int logicalSize, const std::function<void(QPainter &)> &draw);

// The glyphs of the main window's buttons and of the log window's send button.
enum TGlyph : int { glyphDevInfo, glyphReadConfig, glyphWriteConfig, glyphSendCmd };
QIcon ToolbarGlyph(TGlyph glyph);
