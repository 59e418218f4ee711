#include "database/DateTimePattern.h"

#include "DatabaseTestSupport.h"

#include <QDate>
#include <QTime>
#include <gtest/gtest.h>

TEST(DateTimePattern, LettersQuotesAndSeparators)
{
    // Friday, 2026-03-06 07:08:09.045
    const TDateTime morning = EncodeDateTime(QDate(2026, 3, 6), QTime(7, 8, 9, 45));
    const TDateTime evening = EncodeDateTime(QDate(2026, 11, 23), QTime(0, 5, 0, 0));
    const QLocale german(QLocale::German, QLocale::Germany);
    const struct
    {
        const char *Pattern;
        TDateTime Value;
        const char *Text;
    } cases[] = {
        {"YYYY-MM-DD hh:mm:ss", morning, "2026-03-06 07:08:09"},
        {"yyyy-mm-dd hh:nn:ss.zzz", morning, "2026-03-06 07:08:09.045"},
        {"yy m d h n s z", morning, "26 3 6 7 8 9 45"},
        {"dd/mm/yyyy", morning, "06.03.2026"}, // "/" is the locale's date separator
        {"hh:mm", morning, "07:08"},           // minute after hour
        {"h 'mm' mm", morning, "7 mm 08"},     // quoted text does not break "after hour"
        {"hh dd mm", morning, "07 06 03"},     // a day between: month again
        {"\"Tag\" d, mmmm", morning, "Tag 6, März"},
        {"ddd dddd mmm", morning, "Fr. Freitag März"},
        {"h:nn am/pm", evening, "12:05 am"},
        {"hh:nn AM/PM", EncodeDateTime(QDate(2026, 1, 1), QTime(13, 0)), "01:00 PM"},
        {"yyyy-mm-ddThh:nn:ss", evening, "2026-11-23T00:05:00"},
        {"'unterminated", morning, "unterminated"},
        {"x#%", morning, "x#%"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatDateTimePattern(QString::fromUtf8(c.Pattern), c.Value, german),
                  QString::fromUtf8(c.Text))
            << c.Pattern;
}

TEST(DateTimePattern, SeparatorsFollowTheLocale)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(LocaleDateSeparator(us), u'/');
    EXPECT_EQ(LocaleTimeSeparator(us), u':');
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(LocaleDateSeparator(german), u'.');
}
