#pragma once

// The progress window of the update download: which file is arriving, the bytes received and,
// when the server said, of how many, and the button "Отмена". While it is open the tool's other
// windows take no input. The download runs on the window's thread; the window takes the user's
// input each time the download looks up from its waits (several times a second).

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include "core/Form.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace view {

// A byte count as the window shows it: "512 Б", "12,5 КБ", "3,4 МБ" (the user's decimal mark).
QString ByteCount(qint64 bytes);

class DownloadDialog : public QDialog, public IProgressWindow {
    Q_OBJECT

  public:
    explicit DownloadDialog(QWidget* owner);
    ~DownloadDialog() override;

    void ShowProgress(const QString& item, qint64 done, qint64 total) override;
    bool CancelRequested() override;

    QLabel* FileLabel;
    QLabel* BytesLabel;
    QProgressBar* Bar;
    QPushButton* CancelButton;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;  // Esc

  private:
    bool cancelled_ = false;
    QElapsedTimer looked_;
};

}  // namespace view
