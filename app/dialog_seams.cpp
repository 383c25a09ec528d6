#include "app/dialog_seams.h"

#include <QApplication>
#include <QColorDialog>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QPushButton>

#include "app/file_manager.h"
#include "app/font_chooser.h"
#include "app/queue_dlg.h"

QString caseInsensitivePattern(const QString& pattern) {
    QString out;
    out.reserve(pattern.size() * 4);
    for (QChar c : pattern) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (lower != upper)
            out += QLatin1Char('[') + lower + upper + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

namespace {

// The chooser parses the last parenthesised part of a filter as its
// patterns. Appending the patterns in a second pair of parentheses and hiding
// that detail shows the description exactly as written, even one such as
// "Movie Files (.avi, .qt, ...)" whose own parentheses hold no patterns.
QString filterText(const NameFilter& f) {
    QStringList patterns;
    for (const QString& p : f.patterns)
        patterns << caseInsensitivePattern(p);
    return f.description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QString suffixOf(const NameFilter& f) {
    if (f.patterns.isEmpty() || !f.patterns.front().startsWith(QLatin1String("*.")))
        return {};
    return f.patterns.front().mid(2);
}

ChosenFile runFileDialog(QWidget* parent, const FileRequest& request) {
    std::unique_ptr<QFileDialog> dialog = makeFileDialog(parent, request);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    ChosenFile chosen;
    chosen.path = files.isEmpty() ? QString() : files.front();
    chosen.paths = files;
    const QString selected = dialog->selectedNameFilter();
    for (qsizetype i = 0; i < request.filters.size(); ++i) {
        const NameFilter& f = request.filters[i];
        // With details hidden the chooser may report the description alone.
        if (selected == f.description || selected == filterText(f))
            chosen.filter = static_cast<int>(i);
    }
    return chosen;
}

int runMessageWithActions(QWidget* parent, const MessageRequest& request,
                          const QStringList& actions) {
    std::unique_ptr<QMessageBox> box = makeMessageBox(parent, request, actions);
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    if (!clicked || box->buttonRole(clicked) != QMessageBox::ActionRole)
        return -1;
    return static_cast<int>(actions.indexOf(clicked->text()));
}

bool runOpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void runRevealFile(QWidget* parent, const QString& file, std::function<void(bool)> done) {
    QObject* context = parent ? static_cast<QObject*>(parent) : qApp;
    filemanager::showItem(QDBusConnection::sessionBus(), file, context, std::move(done));
}

QMessageBox::StandardButton runMessage(QWidget* parent, const MessageRequest& request) {
    QMessageBox box(request.icon, request.title, request.text, request.buttons, parent);
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    box.exec();
    // A box closed without a button (the close box) reports its Escape button.
    QAbstractButton* clicked = box.clickedButton();
    if (!clicked)
        return QMessageBox::Cancel;
    return box.standardButton(clicked);
}

std::optional<QColor> runColorDialog(QWidget* parent, const QColor& initial) {
    const QColor chosen =
        QColorDialog::getColor(initial, parent, QString(), QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

bool runQueueOutput(QWidget* parent, QueueOutput& output, int movies) {
    CQueueDlg dialog(output, movies, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    output = dialog.output();
    return true;
}

void runOwnDialog(QDialog& dialog) {
    dialog.exec();
}

player::Command runPlayerCommand(const QString& movie, const MediaTime& time) {
    return player::commandFor(movie, time, player::Lookups::system());
}

bool runStartProgram(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool runFontChooser(QWidget* parent, FontChoice& choice) {
    CFontChooser chooser(choice, parent);
    if (chooser.exec() != QDialog::Accepted)
        return false;
    choice = chooser.choice();
    return true;
}

} // namespace

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const MessageRequest& request,
                                            const QStringList& actions) {
    auto box = std::make_unique<QMessageBox>(request.icon, request.title, request.text,
                                             request.buttons, parent);
    for (const QString& a : actions)
        box->addButton(a, QMessageBox::ActionRole);
    if (request.defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(request.defaultButton);
    return box;
}

std::unique_ptr<QFileDialog> makeFileDialog(QWidget* parent, const FileRequest& request) {
    auto dialog = std::make_unique<QFileDialog>(parent, request.caption);
    // The desktop's own chooser where the platform has one (through the
    // desktop portal, GTK or KDE), Qt's otherwise: the user finds the places
    // and the look they know. Either parses the patterns from the last
    // parentheses of a filter, which filterText puts there.
    dialog->setOptions(QFileDialog::HideNameFilterDetails);
    const bool save = request.mode == FileRequest::Mode::Save;
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    switch (request.mode) {
    case FileRequest::Mode::Open:
        dialog->setFileMode(QFileDialog::ExistingFile);
        break;
    case FileRequest::Mode::OpenMany:
        dialog->setFileMode(QFileDialog::ExistingFiles);
        break;
    case FileRequest::Mode::Folder:
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        break;
    case FileRequest::Mode::Save:
        dialog->setFileMode(QFileDialog::AnyFile);
        break;
    }

    QStringList texts;
    for (const NameFilter& f : request.filters)
        texts << filterText(f);
    dialog->setNameFilters(texts);
    if (request.selectedFilter >= 0 && request.selectedFilter < texts.size())
        dialog->selectNameFilter(texts[request.selectedFilter]);
    dialog->setDefaultSuffix(request.defaultSuffix);
    if (!request.directory.isEmpty())
        dialog->setDirectory(request.directory);
    if (save && !request.initialName.isEmpty())
        dialog->selectFile(request.initialName);

    if (save) {
        // A name typed without an extension gets the extension of the type
        // the user picked, not always the first default.
        QFileDialog* raw = dialog.get();
        const QList<NameFilter> filters = request.filters;
        QObject::connect(raw, &QFileDialog::filterSelected, raw, [raw, filters](const QString& f) {
            for (const NameFilter& nf : filters) {
                // With details hidden the chooser reports the description.
                if (f == nf.description || f == filterText(nf)) {
                    const QString suffix = suffixOf(nf);
                    if (!suffix.isEmpty())
                        raw->setDefaultSuffix(suffix);
                }
            }
        });
    }
    return dialog;
}

const DialogSeams& DialogSeams::standard() {
    static const DialogSeams seams{runFileDialog,    runMessage,     runMessageWithActions,
                                   runOpenUrl,       runRevealFile,  runColorDialog,
                                   runFontChooser,   runQueueOutput, runOwnDialog,
                                   runPlayerCommand, runStartProgram};
    return seams;
}
