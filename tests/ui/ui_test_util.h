// Helpers for the window tests: find a window's control by its object name (the names the controls
// carry in the program) and press keys on a window as a person would.
#pragma once

#include "app/app_test_util.h"

#include <QPlainTextEdit>
#include <QScrollBar>
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

// Whether a text box, scrolled away from its top, shows the end of its text.
inline bool ShowsTheEnd(const QPlainTextEdit &box) {
    QTextCursor end(box.document());
    end.movePosition(QTextCursor::End);
    return box.verticalScrollBar()->value() > 0 && box.viewport()->rect().contains(box.cursorRect(end));
}
