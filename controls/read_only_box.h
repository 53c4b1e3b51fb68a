#pragma once

#include <QStaticText>
#include <QString>
#include <QWidget>

namespace orvale::controls {

/// A read-only text box: one line of text, centred, in a white field with a plain sunken
/// border; the window's identity and parameter boxes.
///
/// It is drawn by hand rather than by a line edit because the parameter boxes change with
/// every position broadcast and a busy line repaints them with every screen refresh: a text is
/// laid out once when it changes, and setting the text it already holds does nothing.
///
/// The operator can still take a value away: the box takes keyboard focus (the whole text
/// then shows selected), and Ctrl+C or the context menu's "Copy" puts the text on the
/// clipboard.
///
/// Accessibility: a read-only text whose name is the accessible name (the label frame's
/// caption) and whose text and value are the text held; text changes are announced.
class ReadOnlyBox final : public QWidget {
    Q_OBJECT

public:
    explicit ReadOnlyBox(QWidget* parent = nullptr);
    ~ReadOnlyBox() override;

    /// The text held, as set (a line end included; the face shows control characters as
    /// blanks, as a single-line box does).
    [[nodiscard]] const QString& text() const { return m_text; }
    /// Holds `text`; the face shows it from the next screen refresh.
    void setText(const QString& text);

    /// Where the text sits. A text wider than the box is shown shortened with "…" at its end,
    /// and whole in the box's tooltip; copying and screen readers always take the whole text.
    [[nodiscard]] Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);

    /// Puts the whole text on the clipboard.
    void copy() const;

    /// The width the box gives its text, in pixels.
    [[nodiscard]] int textRoom() const;
    /// True when the text held is wider than textRoom() in the box's font and is shown
    /// shortened.
    [[nodiscard]] bool isElided() const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class AccessibleReadOnlyBox;
    /// Where the text's laid-out line starts, in the box's coordinates.
    [[nodiscard]] QPointF textOrigin() const;
    /// The white field inside the border.
    [[nodiscard]] QRect field() const;
    void layOut() const;

    QString m_text;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    mutable QStaticText m_layout;  // the shown text, laid out when first painted after a change
    mutable bool m_layoutStale = true;
    mutable bool m_elided = false;  // m_layout holds the shortened text
};

}  // namespace orvale::controls
