#include "editor/xActivityBar.h"

#include <QPainter>
#include <cmath>

namespace {

int RoundToInt(double value)
{
    return static_cast<int>(std::lround(value));
}

} // namespace

TActivityBar::TActivityBar(QWidget *parent)
    : QWidget(parent), m_FromColor(Qt::white), m_ToColor(0x00, 0x33, 0x99)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TActivityBar::SetFromColor(const QColor &color)
{
    if (color == m_FromColor)
        return;
    m_FromColor = color;
    update();
}

void TActivityBar::SetToColor(const QColor &color)
{
    if (color == m_ToColor)
        return;
    m_ToColor = color;
    update();
}

void TActivityBar::SetSteps(std::uint16_t steps)
{
    if (steps == m_Steps)
        return;
    m_Steps = steps;
    m_Position = Normalized(m_Position);
    update();
}

void TActivityBar::SetDirection(bool horizontal)
{
    if (horizontal == m_Direction)
        return;
    m_Direction = horizontal;
    update();
}

int TActivityBar::Normalized(int position) const
{
    const int period = 2 * int(m_Steps);
    if (period == 0)
        return 0;
    const int rest = position % period;
    return rest < 0 ? rest + period : rest;
}

void TActivityBar::SetPosition(int position)
{
    position = Normalized(position);
    if (position == m_Position)
        return;
    m_Position = position;
    update();
}

void TActivityBar::Advance()
{
    SetPosition(m_Position + 1);
}

void TActivityBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int steps = m_Steps;
    if (steps == 0) {
        // Nothing to animate; a strip without bands still must not show garbage.
        painter.fillRect(rect(), m_FromColor);
        return;
    }
    const int period = 2 * steps;
    const int length = m_Direction ? width() : height();
    const double g = double(length) / 2.0 / steps;
    const int w = RoundToInt(g);
    const double stepRed = double(m_ToColor.red() - m_FromColor.red()) / steps;
    const double stepGreen = double(m_ToColor.green() - m_FromColor.green()) / steps;
    const double stepBlue = double(m_ToColor.blue() - m_FromColor.blue()) / steps;
    for (int i = 0; i < steps; ++i) {
        const QColor color(m_FromColor.red() + RoundToInt(i * stepRed),
                           m_FromColor.green() + RoundToInt(i * stepGreen),
                           m_FromColor.blue() + RoundToInt(i * stepBlue));
        const int a = RoundToInt(((i + m_Position) % period) * g);
        const int b = RoundToInt(((period + m_Position - i - 1) % period) * g);
        if (m_Direction) {
            painter.fillRect(QRect(a, 0, w + 1, height()), color);
            painter.fillRect(QRect(b, 0, w + 1, height()), color);
        } else {
            painter.fillRect(QRect(0, a, width(), w + 1), color);
            painter.fillRect(QRect(0, b, width(), w + 1), color);
        }
    }
}
