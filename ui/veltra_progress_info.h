// The always-on-top window that shows the progress of a firmware upload: an overall text, the current
// step, a percentage bar and a cancel button. The engine's thread never touches it: the main window
// forwards the progress notifications to it on the main thread. Its cancel button asks the main
// window, through the same notification, to cancel the running operation.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

class TVeltraProgressInfo : public QDialog {
    Q_OBJECT
public:
    explicit TVeltraProgressInfo(QWidget *parent = nullptr);

    void BeginInfo();
    void EndInfo();
    void SetGlobalInfo(const QString &text);
    void SetCurrentInfo(const QString &text);
    void SetProgress(int percent);

    // Applies one progress notification (show, hide, the two texts, the percentage); false for the
    // codes that are not the window's, such as the cancel request it sends itself.
    bool ApplyProgressCode(int code, qint64 value, const QString &text);

    void reject() override;

private:
    void ButtonClick();

    QLabel *LblGlobalInfo;
    QLabel *LblCurrentInfo;
    QProgressBar *ProgressBar;
};
