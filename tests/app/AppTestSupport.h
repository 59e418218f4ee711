// Helpers of the desktop program's tests.
#pragma once

#include <QDir>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>
#include <ostream>

// Readable failure messages for QString values.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Saves a picture of the widget for a look by eye.
inline void SaveScreenshot(QWidget &widget, const QString &name)
{
    const QDir dir(QStringLiteral(TIDEWELL_SCREENSHOT_DIR));
    ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
    const QString path = dir.filePath(name);
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}
