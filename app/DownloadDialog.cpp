#include "app/DownloadDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace view {

namespace {

// How often the window takes the user's input at most; the download looks up more often.
constexpr int kInputEveryMs = 20;

}  // namespace

QString ByteCount(qint64 bytes) {
    const QLocale locale = QLocale::system();
    if (bytes < 1024) return QStringLiteral("%1 Б").arg(bytes);
    if (bytes < 1024 * 1024)
        return locale.toString(double(bytes) / 1024.0, 'f', 1) + QStringLiteral(" КБ");
    return locale.toString(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" МБ");
}

DownloadDialog::DownloadDialog(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("DownloadDialog"));
    setWindowTitle(QStringLiteral("Обновление"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setMinimumWidth(420);

    auto* heading = new QLabel(QStringLiteral("Загрузка обновления с сервера"), this);
    FileLabel = new QLabel(this);
    FileLabel->setObjectName(QStringLiteral("FileLabel"));
    FileLabel->setTextFormat(Qt::PlainText);
    BytesLabel = new QLabel(this);
    BytesLabel->setObjectName(QStringLiteral("BytesLabel"));
    BytesLabel->setTextFormat(Qt::PlainText);
    Bar = new QProgressBar(this);
    Bar->setObjectName(QStringLiteral("Bar"));
    Bar->setTextVisible(false);
    Bar->setRange(0, 0);
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    connect(CancelButton, &QPushButton::clicked, this, [this] { cancelled_ = true; });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(FileLabel);
    layout->addWidget(Bar);
    layout->addWidget(BytesLabel);
    layout->addWidget(CancelButton, 0, Qt::AlignRight);

    // The arrow over the window while the main window shows the wait cursor.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    show();
    raise();
    activateWindow();
    QApplication::processEvents();
}

DownloadDialog::~DownloadDialog() { QApplication::restoreOverrideCursor(); }

void DownloadDialog::ShowProgress(const QString& item, qint64 done, qint64 total) {
    if (FileLabel->text() != item) FileLabel->setText(item);
    QString bytes;
    if (done >= 0)
        bytes = total >= 0
                    ? QStringLiteral("Получено %1 из %2").arg(ByteCount(done), ByteCount(total))
                    : QStringLiteral("Получено %1").arg(ByteCount(done));
    if (BytesLabel->text() != bytes) BytesLabel->setText(bytes);
    if (done >= 0 && total > 0) {
        Bar->setRange(0, 1000);
        Bar->setValue(int(qMin(done, total) * 1000 / total));
    } else if (done >= 0 && total == 0) {
        Bar->setRange(0, 1);
        Bar->setValue(1);
    } else {
        Bar->setRange(0, 0);  // how much is to come is not known
    }
}

bool DownloadDialog::CancelRequested() {
    if (!looked_.isValid() || looked_.elapsed() >= kInputEveryMs) {
        QApplication::processEvents();
        looked_.start();
    }
    return cancelled_;
}

void DownloadDialog::closeEvent(QCloseEvent* e) {
    // Closing the window is cancelling; the window goes when the download has ended.
    cancelled_ = true;
    e->ignore();
}

void DownloadDialog::reject() { cancelled_ = true; }

}  // namespace view
