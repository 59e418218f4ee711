#include "database/DateTimePattern.h"

#include <QDate>
#include <QTime>

namespace {

QChar FirstSeparator(const QString &format, QChar fallback)
{
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !ch.isLetter() && !ch.isSpace())
            return ch;
    }
    return fallback;
}

QString Number(int value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0'));
}

bool StartsWithAmPm(const QString &pattern, qsizetype at)
{
    return QStringView(pattern).mid(at, 5).compare(u"am/pm", Qt::CaseInsensitive) == 0;
}

// Whether an am/pm specifier follows outside quoted text.
bool AmPmFollows(const QString &pattern, qsizetype from)
{
    QChar quote;
    for (qsizetype i = from; i < pattern.size(); ++i) {
        const QChar ch = pattern.at(i);
        if (!quote.isNull()) {
            if (ch == quote)
                quote = QChar();
        } else if (ch == u'\'' || ch == u'"') {
            quote = ch;
        } else if (StartsWithAmPm(pattern, i)) {
            return true;
        }
    }
    return false;
}

} // namespace

QChar LocaleDateSeparator(const QLocale &locale)
{
    return FirstSeparator(locale.dateFormat(QLocale::ShortFormat), u'/');
}

QChar LocaleTimeSeparator(const QLocale &locale)
{
    return FirstSeparator(locale.timeFormat(QLocale::ShortFormat), u':');
}

QString FormatDateTimePattern(const QString &pattern, TDateTime value, const QLocale &locale)
{
    const QDate date = DateOf(value);
    const QTime time = TimeOf(value);
    QString out;
    out.reserve(pattern.size() + 8);
    QChar lastToken; // the last letter handled, lower case; "m" after "h" is a minute
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar ch = pattern.at(i);
        if (ch == u'\'' || ch == u'"') {
            const qsizetype close = pattern.indexOf(ch, i + 1);
            const qsizetype end = close < 0 ? pattern.size() : close;
            out += QStringView(pattern).mid(i + 1, end - i - 1);
            i = close < 0 ? end : end + 1;
            continue;
        }
        if (ch == u'/') {
            out += LocaleDateSeparator(locale);
            ++i;
            continue;
        }
        if (ch == u':') {
            out += LocaleTimeSeparator(locale);
            ++i;
            continue;
        }
        if (!ch.isLetter()) {
            out += ch;
            ++i;
            continue;
        }
        const QChar letter = ch.toLower();
        if (letter == u'a' && StartsWithAmPm(pattern, i)) {
            // The pattern's own letters, so "AM/PM" prints "AM" or "PM".
            out += QStringView(pattern).mid(time.hour() < 12 ? i : i + 3, 2);
            i += 5;
            lastToken = letter;
            continue;
        }
        qsizetype count = 1;
        while (i + count < pattern.size() && pattern.at(i + count).toLower() == letter)
            ++count;
        switch (letter.unicode()) {
        case u'y': out += count <= 2 ? Number(date.year() % 100, 2) : Number(date.year(), 4); break;
        case u'm':
            if (lastToken == u'h' && count <= 2)
                out += Number(time.minute(), int(count));
            else if (count <= 2)
                out += Number(date.month(), int(count));
            else
                out += locale.monthName(date.month(),
                                        count == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case u'd':
            if (count <= 2)
                out += Number(date.day(), int(count));
            else
                out += locale.dayName(date.dayOfWeek(),
                                      count == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case u'h': {
            int hour = time.hour();
            if (AmPmFollows(pattern, i + count)) {
                hour %= 12;
                if (hour == 0)
                    hour = 12;
            }
            out += Number(hour, count == 1 ? 1 : 2);
            break;
        }
        case u'n': out += Number(time.minute(), count == 1 ? 1 : 2); break;
        case u's': out += Number(time.second(), count == 1 ? 1 : 2); break;
        case u'z': out += Number(time.msec(), count >= 3 ? 3 : 1); break;
        default: out += QStringView(pattern).mid(i, count); break;
        }
        lastToken = letter;
        i += count;
    }
    return out;
}
