#pragma once

#include <QFont>
#include <QFrame>
#include <QGlyphRun>
#include <QList>
#include <QPixmap>
#include <QPointF>
#include <QRawFont>
#include <QStaticText>
#include <QString>

#include <array>

#include "model/display_format.h"

namespace orvale::controls {

/// The numeric display: one value shown at a fixed number of decimals followed directly by its
/// units text ("12.500 km/hr"), bold lime digits on a dark, sunken face.
///
/// Writes are cheap: a busy line writes every display up to about 820 times a second, far more
/// often than a screen shows it. The same value is dropped at once; a new value is formatted
/// once per screen refresh (RepaintPacer), and only when its text differs from the shown one
/// (0.8 and 0.800000011920929 at one decimal do not) is the face repainted and the change
/// announced. Painting lays no text out: the digits, point and minus sign are looked up in the
/// font once, and only the face inside the frame is redrawn.
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
    static constexpr int kDefaultPrecision = model::kDefaultDisplayDecimals;
    /// Largest accepted Precision; larger requests are clamped to it, negative ones to 0.
    static constexpr int kMaxPrecision = model::kMaxDecimals;

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

    /// The text of the display: the value at Precision decimals, then UnitsText. A value that
    /// rounds to zero shows without a minus sign. The face shows it from the next screen refresh.
    [[nodiscard]] const QString& text() const;

    /// Formats `value` as a display with `decimals` and `units` shows it.
    [[nodiscard]] static QString formatValue(double value, int decimals, const QString& units);

    /// The width the face gives the digits and units, in pixels.
    [[nodiscard]] int textRoom() const;
    /// The width `text` takes in the display's digit face (its font, bold).
    [[nodiscard]] qreal textWidth(const QString& text) const;

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Glyphs of the characters a number is written with, looked up once per font.
    struct NumberGlyphs {
        // In slot order: the digits, then the point and the minus sign.
        static constexpr char kCharacters[] = "0123456789.-";
        static constexpr std::size_t kCount = sizeof(kCharacters) - 1;
        /// The slot of `c`, or kCount for a character a number is not written with.
        static std::size_t slotOf(QChar c);

        QRawFont font;
        std::array<quint32, kCount> index{};
        std::array<qreal, kCount> advance{};
        bool complete = false;  // every character has a glyph in the font
    };

    void textChanged();
    void refreshShown();
    void loadGlyphs();
    void layOutShown();

    QString m_unitsText;
    mutable QString m_text;
    mutable bool m_textStale = false;  // m_text is formatted on demand
    bool m_refreshScheduled = false;
    QString m_shown;  // what the face shows

    // What painting reuses between frames: the face with its frame, drawn once per size and
    // state, and the shown text as positioned glyphs, laid out once per change. Texts with a
    // character outside the number set or the units' glyphs fall back to a laid-out QStaticText.
    QPixmap m_face;
    QFont m_digitFont;
    NumberGlyphs m_glyphs;
    QList<quint32> m_unitGlyphs;
    QList<QPointF> m_unitAdvances;
    bool m_unitsHaveGlyphs = false;
    QGlyphRun m_run;
    bool m_runValid = false;
    QStaticText m_staticText;
    qreal m_shownWidth = 0;
    qreal m_lineHeight = 0;
    qreal m_ascent = 0;

    double m_value = 0.0;
    int m_precision = kDefaultPrecision;
};

}  // namespace orvale::controls
