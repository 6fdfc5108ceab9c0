// The real file dialog, typed into as a person would: what its list of filters shows, and the name the
// save dialog gives back.
#include "file_dialog.h"

#include "ui_test_util.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>

namespace {

const QList<TFileFilter> ConfigFilters{{QStringLiteral("Файлы конфигурации (*.cfg)"), QStringLiteral("*.cfg")},
                                       {QStringLiteral("Все файлы"), QStringLiteral("*")}};

// What the dialog returns when `typed` is typed as the file's name and Enter pressed.
QString Chosen(QFileDialog &dialog, const QString &typed) {
    ShowWindow(dialog);
    auto *name = Control<QLineEdit>(dialog, "fileNameEdit");
    if (!name)
        return QString();
    name->clear();
    QTest::keyClicks(name, typed);
    QTest::keyClick(name, Qt::Key_Return);
    QCoreApplication::processEvents();
    return dialog.result() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QStringLiteral("<open>");
}

} // namespace

TEST(FileDialog, TheSaveDialogAddsCfgToANameTypedWithoutAnExtension) {
    QTemporaryDir dir;
    const struct {
        const char *typed, *saved;
    } cases[] = {{"a", "a.cfg"}, {"b.txt", "b.txt"}, {"c.cfg", "c.cfg"}};
    for (const auto &c : cases) {
        const auto dialog = NewFileDialog(nullptr, true, QStringLiteral("Сохранение конфигурации"), dir.path(),
                                          ConfigFilters, QStringLiteral("cfg"));
        EXPECT_EQ(Chosen(*dialog, QString::fromUtf8(c.typed)), dir.filePath(QString::fromUtf8(c.saved))) << c.typed;
    }
}

TEST(FileDialog, TheFiltersShowTheirNamesAndChooseByTheirPatterns) {
    QTemporaryDir dir;
    for (const char *name : {"keep.cfg", "plain"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const auto dialog =
        NewFileDialog(nullptr, false, QStringLiteral("Загрузка конфигурации"), dir.path(), ConfigFilters, QString());
    ShowWindow(*dialog);
    auto *types = Control<QComboBox>(*dialog, "fileTypeCombo");
    ASSERT_TRUE(types);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "Файлы конфигурации (*.cfg)");
    EXPECT_EQ(types->itemText(1), "Все файлы");
    auto *list = Control<QListView>(*dialog, "listView");
    ASSERT_TRUE(list);
    const auto shown = [list] {
        QStringList names;
        for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
            if (!list->isRowHidden(row))
                names << list->model()->index(row, 0, list->rootIndex()).data().toString();
        return names;
    };
    EXPECT_TRUE(WaitUntil([&] { return shown() == QStringList{"keep.cfg"}; }, 5000)) << shown().join(u' ').toStdString();
    dialog->selectNameFilter(QStringLiteral("Все файлы (*)"));
    EXPECT_TRUE(WaitUntil([&] { return shown() == QStringList{"keep.cfg", "plain"}; }, 5000))
        << shown().join(u' ').toStdString();
    // An open dialog adds nothing: a name typed without an extension is looked for as typed.
    EXPECT_EQ(Chosen(*dialog, QStringLiteral("plain")), dir.filePath(QStringLiteral("plain")));
}
