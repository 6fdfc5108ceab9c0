// The value editors opened from the tree of the real main window, typed into and ended with Enter or
// Escape as a person would, and the numeric edit's key filter.
#include "LuNumEdt.h"
#include "common.h"
#include "ui_test_util.h"
#include "veltra_configure_main.h"
#include "vt_prop_edit.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTreeView>
#include <memory>

namespace {

const char *const Description = R"(__GROUPS = grp
grp = {
  name = All kinds
  params = P_TEXT P_PORT P_MODE P_FLAGS P_PERIOD P_ADDR
}
P_TEXT = {
  type = string
  max_len = 8
}
P_PORT = {
  type = int
  min = 1
  max = 65535
}
P_MODE = {
  type = lookup
  values = off|on|auto
}
P_FLAGS = {
  type = check
  count = 3
  values = first,second,third
}
P_PERIOD = {
  type = duration
}
P_ADDR = {
  type = ip
}
)";

class Editors : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TVeltraConfigurator> window;

    void SetUp() override {
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        ExeDir = dir.filePath(QStringLiteral("bin/"));
        QDir().mkpath(ExeDir);
        AppSettings->SetVal(QStringLiteral("conf_dir"), ExeDir);
        AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("9"));
        AppSettings->SetVal(QStringLiteral("com9"), QStringLiteral("/nonexistent/tty9"));
        QFile file(ExeDir + QStringLiteral("veltra_params.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Description);
        file.close();
        window = std::make_unique<TVeltraConfigurator>();
        ShowWindow(*window);
        window->Action("ActDevSim")->trigger();
        window->ParamsTree().expandAll();
    }
    void TearDown() override { window.reset(); }

    TParamNode *Node(const char *key) const { return window->FindParamNode(QString::fromLatin1(key)); }
    // Gives the parameter a value as the device would, unmarked, and opens its editor with F2.
    template <class T> T *Open(const char *key, const QString &value) {
        TParamNode *node = Node(key);
        EXPECT_NE(node, nullptr) << key;
        if (!node)
            return nullptr;
        node->data.value = value;
        window->Model().SetChanged(node, false);
        QTreeView &tree = window->ParamsTree();
        tree.setCurrentIndex(window->ViewIndex(node));
        QTest::keyClick(&tree, Qt::Key_F2);
        QCoreApplication::processEvents();
        for (T *editor : tree.viewport()->findChildren<T *>())
            if (editor->isVisible())
                return editor;
        ADD_FAILURE() << "no editor for " << key;
        return nullptr;
    }
    void Finish(QWidget *editor, Qt::Key key) {
        QTest::keyClick(editor, key);
        QCoreApplication::processEvents();
    }
    QString Value(const char *key) const { return Node(key)->data.value; }
    bool Marked(const char *key) const { return Node(key)->data.changed; }
};

} // namespace

TEST_F(Editors, TextIsTypedWithinItsLengthAndEscapeKeepsTheOldValue) {
    auto *edit = Open<QLineEdit>("P_TEXT", "old");
    ASSERT_TRUE(edit);
    edit->selectAll();
    QTest::keyClicks(edit, "a much longer text");
    Finish(edit, Qt::Key_Escape);
    EXPECT_EQ(Value("P_TEXT"), "old");
    EXPECT_FALSE(Marked("P_TEXT"));

    edit = Open<QLineEdit>("P_TEXT", "old");
    ASSERT_TRUE(edit);
    edit->selectAll();
    QTest::keyClicks(edit, "a much longer text");
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_TEXT"), "a much l"); // max_len 8
    EXPECT_TRUE(Marked("P_TEXT"));
    EXPECT_TRUE(window->Action("ActDevWriteCfg")->isEnabled());
    // What an editor wrote is a step of the history.
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Value("P_TEXT"), "old");
    EXPECT_FALSE(Marked("P_TEXT"));
}

// A stored text longer than max_len stays whole: looking at it loses nothing, it may be shortened but
// never lengthened, and the tree still flags it as too long.
TEST_F(Editors, ATextLongerThanItsLimitIsKeptWholeAndOnlyShortened) {
    const QString stored = QStringLiteral("0123456789AB"); // max_len 8
    auto *edit = Open<QLineEdit>("P_TEXT", stored);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->text(), stored);
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_TEXT"), stored);
    EXPECT_FALSE(Marked("P_TEXT"));

    edit = Open<QLineEdit>("P_TEXT", stored);
    ASSERT_TRUE(edit);
    edit->end(false);
    QTest::keyClicks(edit, "x");
    EXPECT_EQ(edit->text(), stored);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, "y");
    EXPECT_EQ(edit->text(), "0123456789A");
    edit->selectAll();
    QTest::keyClicks(edit, "short");
    QTest::keyClicks(edit, "er text");
    EXPECT_EQ(edit->text(), "shorter "); // once within the limit, the limit holds
    edit->setSelection(0, 8);
    QTest::keyClicks(edit, "0123456789A");
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_TEXT"), "01234567");
    EXPECT_TRUE(Marked("P_TEXT"));

    Node("P_TEXT")->data.value = stored;
    EXPECT_EQ(TParamsModel::ValueCheck(Node("P_TEXT")->data), vcTooLong);
}

TEST_F(Editors, NumbersRefuseKeysThatLeaveTheRange) {
    auto *edit = Open<TLuNumEdit>("P_PORT", "80");
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->text(), "80");
    edit->selectAll();
    QTest::keyClicks(edit, "70000x");
    EXPECT_EQ(edit->text(), "7000");
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_PORT"), "7000");
    EXPECT_TRUE(Marked("P_PORT"));

    // A stored value out of range shows "0" and, untouched, comes back as it was.
    edit = Open<TLuNumEdit>("P_PORT", "99999");
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->text(), "0");
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_PORT"), "99999");
    EXPECT_FALSE(Marked("P_PORT"));
}

TEST_F(Editors, ListsChooseAnItemAndKeepAValueTheyDoNotKnow) {
    auto *combo = Open<QComboBox>("P_MODE", "auto");
    ASSERT_TRUE(combo);
    EXPECT_EQ(combo->currentText(), "auto");
    EXPECT_FALSE(combo->isEditable());
    combo->setCurrentIndex(0);
    Finish(combo, Qt::Key_Return);
    EXPECT_EQ(Value("P_MODE"), "off");
    EXPECT_TRUE(Marked("P_MODE"));

    combo = Open<QComboBox>("P_MODE", "turbo");
    ASSERT_TRUE(combo);
    EXPECT_EQ(combo->currentIndex(), -1);
    Finish(combo, Qt::Key_Return);
    EXPECT_EQ(Value("P_MODE"), "turbo");
    EXPECT_FALSE(Marked("P_MODE"));
}

TEST_F(Editors, DurationsComeBackUnchangedUnlessEditedAndThenInTheirExactUnit) {
    // "36h" is beyond what the time field holds and "5 min" reads as 5 seconds: untouched, both stay.
    for (const QString value : {"150m", "121s", "2m", "90m", "45s", "36h", "5 min"}) {
        auto *edit = Open<QTimeEdit>("P_PERIOD", value);
        ASSERT_TRUE(edit);
        Finish(edit, Qt::Key_Return);
        EXPECT_EQ(Value("P_PERIOD"), value);
        EXPECT_FALSE(Marked("P_PERIOD")) << value.toStdString();
    }
    auto *edit = Open<QTimeEdit>("P_PERIOD", "150m");
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->time(), QTime(2, 30));
    edit->setTime(QTime(3, 0));
    Finish(edit, Qt::Key_Return);
    EXPECT_EQ(Value("P_PERIOD"), "3h");
    EXPECT_TRUE(Marked("P_PERIOD"));

    edit = Open<QTimeEdit>("P_PERIOD", "150m");
    ASSERT_TRUE(edit);
    edit->setTime(QTime(0, 2, 1));
    Finish(edit, Qt::Key_Escape);
    EXPECT_EQ(Value("P_PERIOD"), "150m");
}

TEST_F(Editors, CheckMapsOpenTheirListAndToggleItems) {
    auto *combo = Open<TCheckMapCombo>("P_FLAGS", "101");
    ASSERT_TRUE(combo);
    EXPECT_EQ(combo->Flags(), QList<bool>({true, false, true}));
    ASSERT_TRUE(WaitUntil([&] { return combo->view()->isVisible(); }, 2000)); // dropped down at once
    combo->view()->setCurrentIndex(combo->model()->index(1, 0));
    QTest::keyClick(combo->view(), Qt::Key_Space);
    Finish(combo->view(), Qt::Key_Return);
    EXPECT_EQ(Value("P_FLAGS"), "111");
    EXPECT_TRUE(Marked("P_FLAGS"));

    combo = Open<TCheckMapCombo>("P_FLAGS", "1");
    ASSERT_TRUE(combo);
    Finish(combo, Qt::Key_Return);
    EXPECT_EQ(Value("P_FLAGS"), "1"); // untouched: not rewritten as "100"
    EXPECT_FALSE(Marked("P_FLAGS"));
}

TEST_F(Editors, IpAddressesAcceptOnlyWhatCanBecomeAnAddress) {
    auto *edit = Open<QLineEdit>("P_ADDR", "10.0.0.1");
    ASSERT_TRUE(edit);
    edit->selectAll();
    QTest::keyClicks(edit, "192.168.1.300");
    EXPECT_EQ(edit->text(), "192.168.1.30");
    Finish(edit, Qt::Key_Enter);
    EXPECT_EQ(Value("P_ADDR"), "192.168.1.30");
}

TEST_F(Editors, GroupsAndNotUseValuesGetNoEditor) {
    EXPECT_EQ(window->ParamsTreeCreateEditor(window->Model().Root(0), 1), nullptr);
    EXPECT_EQ(window->ParamsTreeCreateEditor(Node("P_TEXT"), 0), nullptr);
    Node("P_TEXT")->data.value = QStringLiteral("NOT USE");
    window->ParamsTree().setCurrentIndex(window->ViewIndex(Node("P_TEXT")));
    QTest::keyClick(&window->ParamsTree(), Qt::Key_F2);
    EXPECT_TRUE(window->ParamsTree().viewport()->findChildren<QLineEdit *>().isEmpty());
}

TEST(NumEdit, HexShowsUpperCaseAndRefusesTheMinus) {
    TLuNumEdit edit;
    EXPECT_EQ(edit.text(), "0");
    EXPECT_EQ(edit.width(), 65);
    edit.SetMax(0); // no range
    edit.SetRadix(16);
    edit.clear();
    QTest::keyClicks(&edit, "-1f");
    EXPECT_EQ(edit.text(), "1F");
    EXPECT_EQ(edit.AsInteger(), 31);
    edit.SetRadix(7); // ignored
    EXPECT_EQ(edit.Radix(), 16);
    edit.SetRadix(10);
    EXPECT_EQ(edit.text(), "31");
}

TEST(NumEdit, OutOfRangeValuesAreIgnoredAndFloatsFollowTheText) {
    TLuNumEdit edit;
    edit.SetMin(100);
    edit.SetMax(999);
    edit.SetAsInteger(5);
    EXPECT_EQ(edit.AsInteger(), 0);
    edit.SetAsInteger(250);
    EXPECT_EQ(edit.text(), "250");
    edit.selectAll();
    QTest::keyClicks(&edit, "5");
    EXPECT_EQ(edit.text(), "250"); // 5 alone is below 100
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "");
    edit.SetIntNumber(false);
    edit.SetAsDouble(123.5);
    EXPECT_DOUBLE_EQ(edit.AsDouble(), 123.5);
    EXPECT_EQ(edit.AsInteger(), 123); // the text read again, truncated
}
