#include "veltra_password.h"

#include "ui_test_util.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Clicks the box itself: the control is wider than its box and caption.
void Toggle(QCheckBox *box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

class Password : public ::testing::Test {
protected:
    void SetUp() override {
        ShowWindow(window);
        QTest::keyClicks(edit, QStringLiteral("s3cr8t"));
    }

    TVeltraPassword window;
    QLineEdit *edit = Control<QLineEdit>(window, "EdPassword");
    QCheckBox *show = Control<QCheckBox>(window, "CbShowPassword");
};

} // namespace

TEST_F(Password, TheTypedPasswordShowsAsAsterisksUntilShowPasswordIsChecked) {
    EXPECT_EQ(window.Password(), "s3cr8t");
    EXPECT_EQ(edit->displayText(), "******");
    Toggle(show);
    EXPECT_EQ(edit->displayText(), "s3cr8t");
    Toggle(show);
    EXPECT_EQ(edit->displayText(), "******");
    EXPECT_EQ(window.Password(), "s3cr8t");
}

TEST_F(Password, EnterClosesWithOkAndKeepsThePassword) {
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.Password(), "s3cr8t");
}

TEST_F(Password, EscapeAndTheCancelButtonCloseWithCancel) {
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);

    ShowWindow(window);
    QTest::mouseClick(Control<QPushButton>(window, "ButOK"), Qt::LeftButton);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    ShowWindow(window);
    QTest::mouseClick(Control<QPushButton>(window, "ButCancel"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}
