// What the small windows share in their looks: the window font (the Windows font of the product where
// it is installed, the platform's sans font elsewhere) and the placement in the middle of the screen.
// Used by the message, password, device information, about and progress windows, and by the
// program's start-up for what all its windows share.
#pragma once

#include <QFont>

class QWidget;

// The program's icon on every window and the desktop entry its windows belong to. No application
// display name is set: Qt would append it to the title of every other window, and each window's title
// is its own caption.
void SetUpProgramWindows(qreal devicePixelRatio);

QFont WindowFont(qreal pointSize);

// Centres a top-level window in the available area of its screen each time it is shown.
void CentreWhenShown(QWidget *window);
