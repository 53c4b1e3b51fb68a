#pragma once

#include <QString>

class QWidget;

namespace orvale::controls {

/// Appends a separator and a command entry to `window`'s system menu (the menu behind the
/// title bar's icon). Only Windows gives applications that menu; elsewhere nothing is added and
/// the result is false, and the window offers the entry in its context menu instead.
bool appendSystemMenuEntry(QWidget& window, unsigned commandId, const QString& text);

/// When `nativeMessage` (from QWidget::nativeEvent) is a system-menu command, its identifier;
/// otherwise 0. Always 0 where the platform has no system menu.
unsigned systemCommandOf(const void* nativeMessage);

}  // namespace orvale::controls
