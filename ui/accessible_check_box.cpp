#include "ui/accessible_check_box.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>

namespace orvale::ui {
namespace {

class AccessibleCheckBox final : public QAccessibleWidget {
public:
    explicit AccessibleCheckBox(QCheckBox* box) : QAccessibleWidget(box, QAccessible::CheckBox) {}

    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = box()->isChecked();
        return s;
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString name = QAccessibleWidget::text(t);
            if (!name.isEmpty()) return name;
            QString caption = box()->text();
            return caption.remove(QLatin1Char('&'));
        }
        return QAccessibleWidget::text(t);
    }

    [[nodiscard]] QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();  // focus
        if (box()->isEnabled()) names.prepend(toggleAction());
        return names;
    }

    void doAction(const QString& action) override {
        if (action == toggleAction() || action == pressAction()) {
            if (box()->isEnabled()) box()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    [[nodiscard]] QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    [[nodiscard]] QCheckBox* box() const { return static_cast<QCheckBox*>(widget()); }
};

QAccessibleInterface* checkBoxFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("QCheckBox")) {
        if (auto* box = qobject_cast<QCheckBox*>(object)) return new AccessibleCheckBox(box);
    }
    return nullptr;
}

}  // namespace

void installCheckBoxAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(checkBoxFactory);
        return true;
    }();
    static_cast<void>(installed);
}

}  // namespace orvale::ui
