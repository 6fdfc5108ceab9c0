#include "veltra_about.h"

#include "LuHash.h"
#include "LuVerInfo.h"
#include "veltra_look.h"
#include "veltra_pictures.h"

#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

namespace {
constexpr int IconSize = 72;
} // namespace

QString AboutText(const TLuHash &version) {
    static const QString paragraphEnd = QStringLiteral("\r\n\r\n");
    return version.GetVal("ProductName") + paragraphEnd + TVeltraAbout::tr("Версия ") +
           version.GetVal("FileVersion") + paragraphEnd + version.GetVal("LegalCopyright") + paragraphEnd +
           version.GetVal("Comments") + paragraphEnd;
}

TVeltraAbout::TVeltraAbout(QWidget *parent, const QString &programFile) : QDialog(parent) {
    setWindowTitle(tr("VELTRA - О программе"));
    setFixedSize(394, 332);
    setFont(WindowFont(8));
    CentreWhenShown(this);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("ImgIcon"));
    icon->setGeometry(16, 16, IconSize, IconSize);
    icon->setPixmap(ProgramIcon(IconSize, devicePixelRatioF()));

    TLuHash version;
    ReadVersionInfo(programFile, version);
    auto *info = new QTextEdit(this);
    info->setObjectName(QStringLiteral("ReInfo"));
    info->setGeometry(104, 16, 274, 260);
    info->setFrameShape(QFrame::NoFrame);
    info->setReadOnly(true);
    info->setEnabled(false);
    info->setFont(WindowFont(10));
    // Disabled, so that it takes neither focus nor a caret, yet black on the window's colour rather
    // than greyed out.
    QPalette colours = info->palette();
    colours.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
    colours.setColor(QPalette::Disabled, QPalette::Base, colours.color(QPalette::Window));
    info->setPalette(colours);
    info->setPlainText(AboutText(version));

    auto *close = new QPushButton(tr("Закрыть"), this);
    close->setObjectName(QStringLiteral("Button1"));
    close->setGeometry(303, 292, 75, 25);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}
