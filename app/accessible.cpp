#include "app/accessible.h"

#include <QAbstractItemView>
#include <QComboBox>

#include <algorithm>

#include "app/info_text.h"

namespace {

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox")) {
        // An editable box has a line edit child that Qt's own interface
        // handles.
        auto* box = qobject_cast<QComboBox*>(object);
        if (box && !box->isEditable())
            return new NamedComboAccessible(box);
    }
    // A scroll area or a plain widget is a "filler" to AT-SPI; these are
    // pictures: the sheet's, and a frame's.
    if (className == QLatin1String("CSheetPreview") ||
        className == QLatin1String("CFramePicture")) {
        if (auto* w = qobject_cast<QWidget*>(object))
            return new QAccessibleWidget(w, QAccessible::Graphic);
    }
    if (className == QLatin1String("CInfoText")) {
        if (auto* info = qobject_cast<CInfoText*>(object))
            return new InfoTextAccessible(info);
    }
    return nullptr;
}

} // namespace

void installAccessibleFactories() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

// ---- Combo boxes -------------------------------------------------------------

NamedComboAccessible::NamedComboAccessible(QComboBox* box)
    : QAccessibleWidget(box, QAccessible::ComboBox) {}

QComboBox* NamedComboAccessible::box() const {
    return static_cast<QComboBox*>(widget());
}

QString NamedComboAccessible::text(QAccessible::Text t) const {
    switch (t) {
    case QAccessible::Name:
        // A box nobody named has nothing better to go by than its entry.
        return box()->accessibleName().isEmpty() ? box()->currentText() : box()->accessibleName();
    case QAccessible::Value:
        return box()->currentText();
    default:
        return QAccessibleWidget::text(t);
    }
}

QAccessible::State NamedComboAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.hasPopup = true;
    const bool open = box()->view() && box()->view()->isVisible();
    s.expanded = open;
    s.collapsed = !open;
    return s;
}

// The list that drops down is the one child, as in Qt's own interface, so
// that its entries can be read without opening it.
int NamedComboAccessible::childCount() const {
    return box()->view() ? 1 : 0;
}

QAccessibleInterface* NamedComboAccessible::child(int index) const {
    if (index != 0 || !box()->view())
        return nullptr;
    return QAccessible::queryAccessibleInterface(box()->view());
}

int NamedComboAccessible::indexOfChild(const QAccessibleInterface* child) const {
    return child && box()->view() && child->object() == box()->view() ? 0 : -1;
}

QStringList NamedComboAccessible::actionNames() const {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
}

void NamedComboAccessible::doAction(const QString& action) {
    if (action == showMenuAction() || action == pressAction()) {
        if (box()->view() && box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
        return;
    }
    QAccessibleWidget::doAction(action);
}

// ---- The details -------------------------------------------------------------

InfoTextAccessible::InfoTextAccessible(CInfoText* info)
    : QAccessibleWidget(info, QAccessible::EditableText) {}

void* InfoTextAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

QAccessible::State InfoTextAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString InfoTextAccessible::content() const {
    return static_cast<const CInfoText*>(widget())->plainText();
}

QString InfoTextAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value)
        return content();
    return QAccessibleWidget::text(t);
}

void InfoTextAccessible::selection(int, int* startOffset, int* endOffset) const {
    *startOffset = 0;
    *endOffset = 0;
}

QString InfoTextAccessible::text(int startOffset, int endOffset) const {
    const QString all = content();
    const int from = std::clamp(startOffset, 0, static_cast<int>(all.size()));
    const int to = endOffset < 0 ? static_cast<int>(all.size())
                                 : std::clamp(endOffset, from, static_cast<int>(all.size()));
    return all.mid(from, to - from);
}

int InfoTextAccessible::characterCount() const {
    return static_cast<int>(content().size());
}

// The text is drawn in columns that its plain form does not have, so its
// characters have no place of their own to report.
QRect InfoTextAccessible::characterRect(int) const {
    return QRect();
}

int InfoTextAccessible::offsetAtPoint(const QPoint&) const {
    return -1;
}

QString InfoTextAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = offset;
    *endOffset = offset;
    return QString();
}
