#pragma once

#include <QStaticText>
#include <QString>
#include <QWidget>

namespace orvale::controls {

/// The rectangular LED: a lamp with its label written inside it, black when off and bright
/// green when lit. It takes no input.
///
/// Writing the state it already has is a no-op (no repaint, no notification).
///
/// Accessibility: a read-only check box, checked while lit (screen readers on Linux have no
/// role for an indicator); its name is the accessible name when one is set, else
/// CenterLabelText; its value reads "on" or "off".
class CiLedRectangleX final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString CenterLabelText READ CenterLabelText WRITE setCenterLabelText)
    Q_PROPERTY(bool Active READ Active WRITE setActive)

public:
    /// Pixels between the bezel's edge and the lamp.
    static constexpr int kLampInset = 2;

    explicit CiLedRectangleX(QWidget* parent = nullptr);
    /// An LED labelled `label` inside.
    explicit CiLedRectangleX(const QString& label, QWidget* parent = nullptr);
    ~CiLedRectangleX() override;

    /// The text drawn in the middle of the lamp.
    [[nodiscard]] const QString& CenterLabelText() const { return m_label; }
    void setCenterLabelText(const QString& label);

    /// True while lit (the LED's dispatched on/off put); false at construction.
    [[nodiscard]] bool Active() const { return m_active; }
    void setActive(bool active);

    /// The width the lamp gives its label, in pixels.
    [[nodiscard]] int textRoom() const { return width() - 2 * kLampInset; }

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_label;
    QStaticText m_labelLayout;
    bool m_labelLayoutStale = true;
    bool m_active = false;
};

}  // namespace orvale::controls
