// Helpers of the progress window tests.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QWidget>
#include <cstdint>
#include <gtest/gtest.h>

enum class TLineStyle { Pending, Done, Current };

inline TLineStyle LineStyle(const QLabel *label, const QWidget *window)
{
    const QColor color = label->palette().color(QPalette::WindowText);
    if (label->font().bold()) {
        EXPECT_EQ(color, window->palette().color(QPalette::WindowText))
            << label->objectName().toStdString();
        return TLineStyle::Current;
    }
    return color == window->palette().color(QPalette::WindowText) ? TLineStyle::Done
                                                                  : TLineStyle::Pending;
}

// Saves a picture of the window for a look by eye; the path goes to the test log.
inline void SaveScreenshot(QWidget *window, const QString &name)
{
    const QString dir = QStringLiteral(TIDEWELL_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString path = dir + QLatin1Char('/') + name;
    EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
}

// The application font for a scope; the windows take it when they are created.
class TAppFont
{
public:
    explicit TAppFont(int pointSize) : m_Previous(QApplication::font())
    {
        QFont font = m_Previous;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    ~TAppFont() { QApplication::setFont(m_Previous); }
    TAppFont(const TAppFont &) = delete;
    TAppFont &operator=(const TAppFont &) = delete;

private:
    QFont m_Previous;
};

// Every phase line has room for its text in bold, inside the window.
inline void ExpectRoomForBoldText(const QLabel *label, const QWidget *window)
{
    QFont bold = label->font();
    bold.setBold(true);
    EXPECT_GE(label->width(), QFontMetrics(bold).horizontalAdvance(label->text()))
        << label->objectName().toStdString();
    EXPECT_LE(label->geometry().right(), window->width()) << label->objectName().toStdString();
}

// A clock the test moves by hand.
struct TFakeClock
{
    std::uint32_t Now = 1000;
    auto Source()
    {
        return [this] { return Now; };
    }
};
