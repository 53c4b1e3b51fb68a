#pragma once

#include <QFrame>
#include <QFont>
#include <QPixmap>
#include <QStaticText>
#include <QString>

namespace orvale::controls {

/// The numeric display: one value shown at a fixed number of decimals followed directly by its
/// units text ("12.500 km/hr"), bold lime digits on a dark, sunken face.
///
/// Writes are cheap when nothing changes: the same value is dropped before any formatting, and
/// a new value whose text is the same as the shown one (0.8 and 0.800000011920929 at one
/// decimal) neither repaints nor notifies. Repaints are coalesced through update().
///
/// Accessibility: the accessible name is the display's label (setAccessibleName(), or the
/// label passed to the constructor); the accessible description and value are the shown text.
class CiAnalogDisplayX final : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString UnitsText READ UnitsText WRITE setUnitsText)
    Q_PROPERTY(int Precision READ Precision WRITE setPrecision)
    Q_PROPERTY(double Value READ Value WRITE setValue)

public:
    /// Decimals of a display that was given no Precision: one, which shows every value of the
    /// 0.4 %, 0.5 L, 0.5 kg and 0.1 kPa parameters exactly.
    static constexpr int kDefaultPrecision = 1;
    /// Largest accepted Precision; larger requests are clamped to it, negative ones to 0.
    static constexpr int kMaxPrecision = 15;

    explicit CiAnalogDisplayX(QWidget* parent = nullptr);
    /// A display whose accessible name is `label` (the caption of its label frame).
    explicit CiAnalogDisplayX(const QString& label, QWidget* parent = nullptr);
    ~CiAnalogDisplayX() override;

    /// Text appended directly after the number; carries its own leading blank (" km/hr").
    [[nodiscard]] const QString& UnitsText() const { return m_unitsText; }
    void setUnitsText(const QString& units);

    /// Decimals shown, 0 to kMaxPrecision.
    [[nodiscard]] int Precision() const { return m_precision; }
    void setPrecision(int decimals);

    /// The value last written; 0 at construction.
    [[nodiscard]] double Value() const { return m_value; }
    /// Shows `value` (the display's dispatched value put).
    void setValue(double value);

    /// The text on the face: the value at Precision decimals, then UnitsText. A value that rounds
    /// to zero shows without a minus sign.
    [[nodiscard]] const QString& text() const { return m_text; }

    /// Formats `value` as a display with `decimals` and `units` shows it.
    [[nodiscard]] static QString formatValue(double value, int decimals, const QString& units);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshText();

    QString m_unitsText;
    QString m_text;
    // What painting reuses between frames: the face with its frame, drawn once per size and
    // state, and the laid-out text, laid out once per change.
    QPixmap m_face;
    QStaticText m_staticText;
    QFont m_digitFont;
    bool m_staticTextStale = true;
    double m_value = 0.0;
    int m_precision = kDefaultPrecision;
};

}  // namespace orvale::controls
