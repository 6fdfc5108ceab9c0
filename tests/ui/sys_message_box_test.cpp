#include "sys_message_box.h"

#include "ui_test_util.h"

#include <QAbstractButton>
#include <QPushButton>

namespace {

// The captions in alphabetical order: where each button goes is the platform's button layout.
QStringList Captions(const QMessageBox &box) {
    QStringList captions;
    for (const QAbstractButton *button : box.buttons())
        captions << button->text();
    captions.sort();
    return captions;
}

std::unique_ptr<QMessageBox> Box(int flags) {
    return NewSysMessageBox(QStringLiteral("Конфигуратор"), QStringLiteral("Записать?"), flags, nullptr);
}

class SysMsgBoxHook : public ::testing::Test {
protected:
    void TearDown() override { SetSysMessageBoxHook({}); }
};

} // namespace

TEST(SysMsgBox, TheStyleBitsChooseTheButtonsTheirDefaultAndTheIcon) {
    const struct {
        int flags;
        QStringList buttons;
        QMessageBox::Icon icon;
    } cases[] = {
        {MB_YESNOCANCEL | MB_ICONWARNING, {"Да", "Нет", "Отмена"}, QMessageBox::Warning},
        {MB_YESNO | MB_ICONQUESTION, {"Да", "Нет"}, QMessageBox::Question},
        {MB_OK | MB_ICONERROR, {"ОК"}, QMessageBox::Critical},
        {MB_ICONINFORMATION, {"ОК"}, QMessageBox::Information},
        {MB_OK, {"ОК"}, QMessageBox::NoIcon},
    };
    for (const auto &c : cases) {
        const auto box = Box(c.flags);
        EXPECT_EQ(box->windowTitle(), "Конфигуратор");
        EXPECT_EQ(box->text(), "Записать?");
        EXPECT_EQ(box->icon(), c.icon) << "flags " << c.flags;
        QStringList expected = c.buttons;
        expected.sort();
        EXPECT_EQ(Captions(*box), expected) << "flags " << c.flags;
        ASSERT_NE(box->defaultButton(), nullptr);
        EXPECT_EQ(box->defaultButton()->text(), c.buttons.first()) << "flags " << c.flags;
    }
}

TEST(SysMsgBox, ThePressedButtonGivesItsWindowsAnswer) {
    const struct {
        int flags;
        QMessageBox::StandardButton pressed;
        int answer;
    } cases[] = {
        {MB_YESNOCANCEL, QMessageBox::Yes, IDYES},
        {MB_YESNOCANCEL, QMessageBox::No, IDNO},
        {MB_YESNOCANCEL, QMessageBox::Cancel, IDCANCEL},
        {MB_YESNO, QMessageBox::No, IDNO},
        {MB_OK, QMessageBox::Ok, IDOK},
    };
    for (const auto &c : cases) {
        const auto box = Box(c.flags | MB_ICONWARNING);
        box->button(c.pressed)->click();
        EXPECT_EQ(SysMessageBoxAnswer(*box), c.answer) << "button " << c.pressed;
    }
}

TEST_F(SysMsgBoxHook, AnswersInsteadOfTheBoxWithWhatItWasAsked) {
    QString caption, text;
    int flags = -1;
    SetSysMessageBoxHook([&](const QString &c, const QString &t, int f) {
        caption = c;
        text = t;
        flags = f;
        return IDNO;
    });
    EXPECT_EQ(SysMessageBox(QStringLiteral("Конфигуратор"), QStringLiteral("Перезагрузить?"),
                            MB_YESNO | MB_ICONWARNING),
              IDNO);
    EXPECT_EQ(caption, "Конфигуратор");
    EXPECT_EQ(text, "Перезагрузить?");
    EXPECT_EQ(flags, MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 0) << "no box may have been created";
}
