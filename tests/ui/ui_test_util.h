// Helpers for the window tests: find a window's control by its object name (the names the controls
// carry in the program) and press keys on a window as a person would.
#pragma once

#include "app/app_test_util.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

// The control of `window` named `name`; the test fails (and the pointer is null) when there is none.
template <class T> T *Control(const QWidget &window, const char *name) {
    T *control = window.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << "no control " << name;
    return control;
}

// Shows a window on the offscreen screen so that keys and default buttons work as on a desktop.
inline void ShowWindow(QWidget &window) {
    window.show();
    QCoreApplication::processEvents();
}
