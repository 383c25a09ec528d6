#include "app/queue_dlg.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/accessible.h"

namespace {

const char* const kFormats[] = {"jpg", "png", "bmp"};

QString runFolderChooser(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QObject::tr("Folder for the Sheets"), start);
}

} // namespace

CQueueDlg::CQueueDlg(const QueueOutput& output, int movies, QWidget* parent,
                     FolderChooser chooseFolder)
    : QDialog(parent), chooser_(chooseFolder ? std::move(chooseFolder) : runFolderChooser) {
    installAccessibleFactories();
    setWindowTitle(tr("Make Sheets"));

    auto* what = new QLabel(movies == 1 ? tr("One sheet of the movie.")
                                        : tr("One sheet of each of the %1 files; those that "
                                             "hold no movie are passed over.")
                                              .arg(movies),
                            this);
    what->setObjectName(QStringLiteral("what"));
    what->setWordWrap(true);
    what->setAccessibleName(tr("What is made"));

    beside_ = new QRadioButton(tr("Beside each &movie"), this);
    beside_->setObjectName(QStringLiteral("beside"));
    beside_->setAccessibleDescription(tr("Each sheet goes into its movie's folder."));
    inFolder_ = new QRadioButton(tr("All in this f&older:"), this);
    inFolder_->setObjectName(QStringLiteral("inFolder"));
    inFolder_->setAccessibleDescription(
        tr("The sheets go into one folder; the sub-folders of a dropped folder are kept."));
    folder_ = new QLineEdit(QDir::toNativeSeparators(output.folder), this);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setAccessibleName(tr("Folder for the sheets"));
    folder_->setAccessibleDescription(tr("Made when it does not exist."));
    folder_->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    browse_ = new QPushButton(tr("C&hoose…"), this);
    browse_->setObjectName(QStringLiteral("choose"));
    browse_->setAccessibleDescription(tr("Choose the folder for the sheets."));

    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("format"));
    format_->setAccessibleName(tr("Format"));
    format_->setAccessibleDescription(tr("The picture format of the sheets."));
    format_->addItem(tr("JPEG (.jpg)"));
    format_->addItem(tr("PNG (.png)"));
    format_->addItem(tr("BMP (.bmp)"));
    for (int i = 0; i < 3; ++i) {
        if (output.format == QLatin1String(kFormats[i]))
            format_->setCurrentIndex(i);
    }
    auto* formatLabel = new QLabel(tr("&Format:"), this);
    formatLabel->setBuddy(format_);

    start_ = new QPushButton(tr("&Make Sheets"), this);
    start_->setObjectName(QStringLiteral("start"));
    start_->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));

    (output.besideMovies ? beside_ : inFolder_)->setChecked(true);

    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(fontMetrics().averageCharWidth() * 3, 0, 0, 0);
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse_);
    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(formatLabel);
    formatRow->addWidget(format_);
    formatRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel);
    auto* root = new QVBoxLayout(this);
    root->addWidget(what);
    root->addSpacing(fontMetrics().height() / 2);
    root->addWidget(beside_);
    root->addWidget(inFolder_);
    root->addLayout(folderRow);
    root->addSpacing(fontMetrics().height() / 2);
    root->addLayout(formatRow);
    root->addStretch(1);
    root->addLayout(buttons);

    connect(beside_, &QRadioButton::toggled, this, &CQueueDlg::update);
    connect(folder_, &QLineEdit::textChanged, this, &CQueueDlg::update);
    // Naming a folder means the sheets go there.
    connect(folder_, &QLineEdit::textEdited, this, [this] { inFolder_->setChecked(true); });
    connect(browse_, &QPushButton::clicked, this, &CQueueDlg::chooseFolder);
    connect(start_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    update();
}

QueueOutput CQueueDlg::output() const {
    QueueOutput out;
    out.besideMovies = beside_->isChecked();
    out.folder = QDir::fromNativeSeparators(folder_->text().trimmed());
    out.format = QLatin1String(kFormats[std::max(0, format_->currentIndex())]);
    return out;
}

void CQueueDlg::update() {
    // The folder stays at hand either way (typing or choosing one chooses
    // it); it must be named before the sheets can go there.
    start_->setEnabled(!inFolder_->isChecked() || !folder_->text().trimmed().isEmpty());
}

void CQueueDlg::chooseFolder() {
    const QString start =
        folder_->text().trimmed().isEmpty() ? QDir::homePath() : folder_->text().trimmed();
    const QString chosen = chooser_(this, start);
    if (!chosen.isEmpty()) {
        folder_->setText(QDir::toNativeSeparators(chosen));
        inFolder_->setChecked(true);
    }
}
