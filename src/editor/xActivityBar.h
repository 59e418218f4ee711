// The animated gradient strip of the progress windows: a gradient from FromColor to ToColor,
// mirrored on both sides, that runs along the strip as Position advances.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

class TActivityBar : public QWidget
{
    Q_OBJECT

public:
    explicit TActivityBar(QWidget *parent = nullptr);

    QColor FromColor() const { return m_FromColor; }
    void SetFromColor(const QColor &color);
    QColor ToColor() const { return m_ToColor; }
    void SetToColor(const QColor &color);
    std::uint16_t Steps() const { return m_Steps; }
    // Position is kept in 0 .. 2 * Steps - 1.
    void SetSteps(std::uint16_t steps);
    // True: a horizontal strip.
    bool Direction() const { return m_Direction; }
    void SetDirection(bool horizontal);

    // 0 .. 2 * Steps - 1; other values are taken modulo 2 * Steps. The same value repaints nothing.
    int Position() const { return m_Position; }
    void SetPosition(int position);
    // Position := (Position + 1) mod (2 * Steps).
    void Advance();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int Normalized(int position) const;

    QColor m_FromColor;
    QColor m_ToColor;
    std::uint16_t m_Steps = 10;
    bool m_Direction = true;
    int m_Position = 0;
};
