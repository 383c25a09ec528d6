#pragma once
// What assistive tools are told about the controls that Qt describes badly.
//
// - A drop-down list: on Linux Qt names a non-editable combo box by its
//   current entry ("Top Left") and leaves its label to a relation that not
//   every screen reader follows. Ours say the name they were given
//   ("Position") and keep the entry as their value.
// - The sheet's view: a scroll area, which AT-SPI calls a "filler"; it is a
//   picture.
// - The details text: a plain widget, a "filler" too. It is
//   read-only text of several lines, and says so, with its text reachable
//   through the text interface (so a screen reader can read it by line).
//
// `installAccessibleFactories` is called by the widgets that need it, before
// they set anything accessible (Qt settles a widget's interface the first
// time it announces a change of it); it installs the factory once per
// process.

#include <QAccessibleWidget>
#include <QString>

class CInfoText;
class QComboBox;

void installAccessibleFactories();

// The combo box as a named control whose value is its current entry. Used for
// combo boxes that are not editable; one without an accessible name is named
// by its entry, as Qt does.
class NamedComboAccessible : public QAccessibleWidget {
public:
    explicit NamedComboAccessible(QComboBox* box);

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QStringList actionNames() const override;
    void doAction(const QString& action) override;

private:
    QComboBox* box() const;
};

// The details as read-only, multi-line text.
class InfoTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit InfoTextAccessible(CInfoText* info);

    void* interface_cast(QAccessible::InterfaceType t) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    // QAccessibleTextInterface: the text as `plainText` gives it; nothing
    // can be selected, and the caret stays at the start.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QString content() const;
};
