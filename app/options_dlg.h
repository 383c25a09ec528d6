#pragma once
// The settings dialog. It edits the live settings record it is given in
// place: choosing a font or restoring the defaults changes the record at
// once, Save copies every control into it and writes the file, and leaving
// any other way (the Cancel button, Escape, the close box) reads the file back
// into the record, undoing what the visit changed. When the user edited
// something, leaving first asks whether to save.
//
// Every box checks itself against the range the capture accepts; while any
// value is out of range, or the sheet they make would be too large, a note
// under the boxes says which and Save is disabled. The size of the sheet the
// values make is shown as they are typed.
//
// The frame choice (skipping the start and the end, avoiding blank frames,
// key frames) is not part of the settings file, which keeps its bytes: it is
// kept for the user in `UserSettings`, written on Save with the file.
//
// The dialog does not own the record, which must outlive it; its controls are
// its children.

#include <QDialog>

#include <string>

#include "app/dialog_seams.h"
#include "app/user_settings.h"
#include "capture/movie_probe.h"

class Options;
class CColorButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(Options& options, QWidget* parent = nullptr,
                         const DialogSeams& seams = DialogSeams::standard());

    // The movie the sheet size is shown for; without one the size is the
    // largest the settings can make (frames that fill their box).
    void setMovie(const MovieFacts& facts, const std::string& infoText);

    // Puts the record's values into the controls and clears `modified`.
    void loadControls();
    bool isModified() const { return modified_; }

    // What is wrong with the values, as the note shows it; empty when Save
    // may write them.
    QString problem() const { return problem_; }
    // "840 × 560 px" (or "up to …" without a movie); empty while the values
    // cannot make a sheet.
    QString sheetSizeText() const { return sizeText_; }

    // Every way of leaving without Save goes through the Cancel button's flow.
    void reject() override;

private:
    void OnSave();
    void OnRestoreDefaults();
    void OnCancelButton();
    void OnShadowToggle();
    void OnHeaderToggle();
    void OnModified();
    void OnChooseColor();
    void OnChooseFont();

    void build();
    QLineEdit* numberBox(const char* name, int lowest, int highest);
    QLineEdit* spanBox(const char* name);
    void setShadowBoxesEnabled(bool enabled);
    // Checks every value and the sheet they make; updates the note, the
    // size line and Save.
    void revalidate();
    Options valuesInControls() const;
    FrameChoiceText frameChoiceInControls() const;
    void loadFrameChoice(const FrameChoiceText& text);
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton);

    DialogSeams seams_;
    Options& options_;
    UserSettings user_;
    bool modified_ = false;
    bool loading_ = false; // filling the controls: their changes are not edits
    bool hasMovie_ = false;
    MovieFacts movie_;
    std::string infoText_;
    QString problem_;
    QString sizeText_;

    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* restoreDefaults_ = nullptr;
    QLineEdit* columns_ = nullptr;
    QLineEdit* rows_ = nullptr;
    QLineEdit* frameWidth_ = nullptr;
    QLineEdit* frameHeight_ = nullptr;
    QLineEdit* spacingX_ = nullptr;
    QLineEdit* spacingY_ = nullptr;
    QCheckBox* shadow_ = nullptr;
    QLineEdit* shadowOffsetX_ = nullptr;
    QLineEdit* shadowOffsetY_ = nullptr;
    QLineEdit* shadowIntensity_ = nullptr;
    QPushButton* font_ = nullptr;
    QLabel* faceName_ = nullptr;
    CColorButton* swatch_ = nullptr;
    QCheckBox* timeStamps_ = nullptr;
    QCheckBox* content_ = nullptr;
    QComboBox* position_ = nullptr;
    QLineEdit* quality_ = nullptr;
    QCheckBox* progressive_ = nullptr;
    QLineEdit* skipStart_ = nullptr;
    QLineEdit* skipEnd_ = nullptr;
    QCheckBox* avoidBlank_ = nullptr;
    QCheckBox* keyFrames_ = nullptr;
    QLabel* sheetSize_ = nullptr;
    QLabel* note_ = nullptr;
};
