#pragma once

#include <QAccessible>
#include <QLatin1String>
#include <QObject>
#include <QString>

namespace orvale::controls {

/// Makes screen readers see every `Widget` through `Accessible` (constructed from the widget).
/// Installed once per pair, from the widget's constructor, before anything asks for it.
template <class Widget, class Accessible>
void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(
            [](const QString& className, QObject* object) -> QAccessibleInterface* {
                if (className == QLatin1String(Widget::staticMetaObject.className())) {
                    return new Accessible(static_cast<Widget*>(object));
                }
                return nullptr;
            });
        return true;
    }();
    (void)installed;
}

}  // namespace orvale::controls
