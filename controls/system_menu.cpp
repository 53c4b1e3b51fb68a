#include "controls/system_menu.h"

#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace orvale::controls {

bool appendSystemMenuEntry(QWidget& window, unsigned commandId, const QString& text) {
#ifdef Q_OS_WIN
    HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(window.winId()), FALSE);
    if (menu == nullptr || text.isEmpty()) return false;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    return ::AppendMenuW(menu, MF_STRING, commandId,
                         reinterpret_cast<const wchar_t*>(text.utf16())) != 0;
#else
    static_cast<void>(window);
    static_cast<void>(commandId);
    static_cast<void>(text);
    return false;
#endif
}

unsigned systemCommandOf(const void* nativeMessage) {
#ifdef Q_OS_WIN
    const auto* message = static_cast<const MSG*>(nativeMessage);
    if (message != nullptr && message->message == WM_SYSCOMMAND) {
        return static_cast<unsigned>(message->wParam);
    }
#else
    static_cast<void>(nativeMessage);
#endif
    return 0;
}

}  // namespace orvale::controls
