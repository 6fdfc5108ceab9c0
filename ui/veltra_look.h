// What the small windows share in their looks: the window font (the Windows font of the product where
// it is installed, the platform's sans font elsewhere) and the placement in the middle of the screen.
// Used by the message, password, device information, about and progress windows.
#pragma once

#include <QFont>

class QWidget;

QFont WindowFont(qreal pointSize);

// Centres a top-level window in the available area of its screen each time it is shown.
void CentreWhenShown(QWidget *window);
