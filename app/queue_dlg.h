#pragma once
// Asked before a queue starts: where its sheets go (beside each movie, or all
// in one folder, keeping the sub-folders of a dropped folder) and in which
// format. The answer is the program's own choice, kept with the user's
// settings, never in the settings file.

#include <QDialog>

#include <functional>

#include "app/dialog_seams.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CQueueDlg : public QDialog {
    Q_OBJECT
public:
    // `chooseFolder` asks for a folder, starting at the one given (empty:
    // cancelled); the default is the desktop's folder chooser.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;
    CQueueDlg(const QueueOutput& output, int movies, QWidget* parent = nullptr,
              FolderChooser chooseFolder = {});

    QueueOutput output() const;

    QRadioButton* besideButton() const { return beside_; }
    QRadioButton* folderButton() const { return inFolder_; }
    QLineEdit* folderEdit() const { return folder_; }
    QComboBox* formatBox() const { return format_; }
    QPushButton* startButton() const { return start_; }

private:
    void update();
    void chooseFolder();

    FolderChooser chooser_;
    QRadioButton* beside_ = nullptr;
    QRadioButton* inFolder_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browse_ = nullptr;
    QComboBox* format_ = nullptr;
    QPushButton* start_ = nullptr;
};
