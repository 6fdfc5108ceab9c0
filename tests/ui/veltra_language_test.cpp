// The windows in English and in Russian: how the language is chosen, a sample of the main window's
// captions and questions in each, and no Russian text left in any window once English is installed.
#include "main_window_fixture.h"
#include "veltra_about.h"
#include "veltra_dev_info.h"
#include "veltra_language.h"
#include "veltra_password.h"

#include <QAbstractButton>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTextEdit>

namespace {

bool HasCyrillic(const QString &text) {
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    return text.contains(cyrillic);
}

void AddViewTexts(const QAbstractItemView &view, QStringList &texts) {
    const QAbstractItemModel *model = view.model();
    if (!model)
        return;
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->headerData(column, Qt::Horizontal).toString();
}

// Every text a person can read in a window and its children: titles, captions, hints, page names,
// column headers, placeholders, the actions' texts and tips.
QStringList ReadableTexts(const QWidget &window) {
    QStringList texts{window.windowTitle()};
    for (const QWidget *w : window.findChildren<QWidget *>()) {
        texts << w->windowTitle() << w->toolTip() << w->statusTip();
        if (const auto *button = qobject_cast<const QAbstractButton *>(w))
            texts << button->text();
        if (const auto *label = qobject_cast<const QLabel *>(w))
            texts << label->text();
        if (const auto *edit = qobject_cast<const QLineEdit *>(w))
            texts << edit->text() << edit->placeholderText();
        if (const auto *edit = qobject_cast<const QTextEdit *>(w))
            texts << edit->toPlainText();
        if (const auto *pages = qobject_cast<const QTabWidget *>(w))
            for (int i = 0; i < pages->count(); ++i)
                texts << pages->tabText(i) << pages->tabToolTip(i);
        if (const auto *menu = qobject_cast<const QMenu *>(w))
            texts << menu->title();
        if (const auto *view = qobject_cast<const QAbstractItemView *>(w))
            AddViewTexts(*view, texts);
    }
    for (const QAction *action : window.findChildren<QAction *>())
        texts << action->text() << action->toolTip() << action->statusTip();
    return texts;
}

QStringList RussianTexts(const QWidget &window) {
    QStringList found;
    for (const QString &text : ReadableTexts(window))
        if (HasCyrillic(text))
            found << text;
    return found;
}

QStringList MenuTitles(const QMainWindow &window) {
    QStringList titles;
    for (const QAction *menu : window.menuBar()->actions())
        titles << menu->text();
    return titles;
}

class LanguageTest : public MainWindowTest {
protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        RemoveInterfaceLanguage();
    }
    // The close query of a window with an unwritten change and no tracker: the question, then the
    // refusal to write.
    QStringList CloseQuestions() {
        Describe(WorkedExample);
        Open({}, false);
        window->Action("ActDevSim")->trigger();
        Edit("PAR_PORT", "99999");
        answer = IDYES;
        questions.clear();
        window->close();
        const QStringList asked = questions;
        answer = IDNO;
        window->close();
        return asked;
    }
    QString RefusalTip() {
        TParamNode *node = window->FindParamNode(QStringLiteral("PAR_PORT"));
        return window->Model().IndexOf(node).siblingAtColumn(1).data(Qt::ToolTipRole).toString();
    }
};

} // namespace

TEST(InterfaceLanguage, TheSettingDecidesElseAnEnglishLocaleElseRussian) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QLocale german(QLocale::German, QLocale::Germany);
    const struct {
        const char *setting;
        QLocale system;
        TInterfaceLanguage expected;
    } cases[] = {
        {"en", QLocale::c(), TInterfaceLanguage::English}, {" EN_gb ", russian, TInterfaceLanguage::English},
        {"ru", english, TInterfaceLanguage::Russian},      {"de", english, TInterfaceLanguage::Russian},
        {"", english, TInterfaceLanguage::English},        {"", QLocale::c(), TInterfaceLanguage::Russian},
        {"", german, TInterfaceLanguage::Russian},         {"", russian, TInterfaceLanguage::Russian},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ChooseInterfaceLanguage(QString::fromLatin1(c.setting), c.system), c.expected)
            << c.setting << " " << c.system.name().toStdString();
}

TEST_F(LanguageTest, RussianIsTheDefaultAndKeepsTheTextsAsWritten) {
    // No setting: the locale decides, and only an English one would choose English.
    if (QLocale::system().language() == QLocale::English)
        AppSettings->SetVal(QStringLiteral("lang"), QStringLiteral("ru"));
    InstallInterfaceLanguage();
    EXPECT_EQ(InterfaceLanguage(), TInterfaceLanguage::Russian);
    EXPECT_EQ(
        CloseQuestions(),
        QStringList({"Некоторые параметры были изменены. Записать их в трекер?",
                     "Трекер не подключён: изменения не могут быть записаны. Подключите трекер или закройте "
                     "программу без записи."}));
    EXPECT_EQ(window->windowTitle(), "VELTRA - Конфигуратор");
    EXPECT_EQ(MenuTitles(*window), QStringList({"Файл", "Устройство", "Справка"}));
    EXPECT_EQ(window->Action("ActLoadCfg")->text(), "Загрузить конфигурацию");
    EXPECT_EQ(window->Action("ActDevReadCfg")->toolTip(), "Перечитать конфигурацию из устройства");
    EXPECT_EQ(RefusalTip(), "вне пределов 1..65535");
}

TEST_F(LanguageTest, TheSettingLangEnShowsEveryWindowInEnglish) {
    AppSettings->SetVal(QStringLiteral("lang"), QStringLiteral("en"));
    ASSERT_EQ(InstallInterfaceLanguage(), TInterfaceLanguage::English);
    ASSERT_EQ(InterfaceLanguage(), TInterfaceLanguage::English);
    EXPECT_EQ(
        CloseQuestions(),
        QStringList({"Some parameters have been changed. Write them to the tracker?",
                     "No tracker is connected: the changes cannot be written. Connect the tracker or close "
                     "the program without writing."}));
    EXPECT_EQ(window->windowTitle(), "VELTRA - Configurator");
    EXPECT_EQ(MenuTitles(*window), QStringList({"File", "Device", "Help"}));
    EXPECT_EQ(window->Action("ActLoadCfg")->text(), "Load configuration");
    EXPECT_EQ(window->Action("ActDevReadCfg")->toolTip(), "Read the configuration from the device again");
    EXPECT_EQ(RefusalTip(), "outside 1..65535");

    Open({}, false);
    window->Action("ActFind")->trigger();
    EXPECT_EQ(RussianTexts(*window), QStringList());
    EXPECT_EQ(window->StatusText(), "no device");

    TVeltraLogView logView;
    TVeltraDevInfo devInfo;
    TVeltraPassword password;
    TVeltraAbout about(nullptr, QString());
    TVeltraCompare compare(dir.filePath("x.cfg"), {{"PAR_PORT", "80", "81", true, true}},
                           [](const QString &key) { return key; });
    TVeltraBackups backups(QStringList{});
    TVeltraMsgBox message;
    message.ShowMsg(QStringLiteral("Done."), MB_ICONWARNING, 10);
    TVeltraProgressInfo progressInfo;
    const std::unique_ptr<QMessageBox> box = NewSysMessageBox("VELTRA", "Write?", MB_YESNOCANCEL, nullptr);
    for (const QWidget *w : std::initializer_list<const QWidget *>{
             &logView, &devInfo, &password, &about, &compare, &backups, &message, &progressInfo, box.get()})
        EXPECT_EQ(RussianTexts(*w), QStringList()) << w->metaObject()->className();
}
