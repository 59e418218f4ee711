#include "platform/system/Convert.h"

std::int32_t StrToInt(const QString &text)
{
    const QString trimmed = text.trimmed();
    QStringView digits(trimmed);
    bool negative = false;
    if (digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+'))) {
        negative = digits.front() == QLatin1Char('-');
        digits = digits.mid(1);
    }
    int base = 10;
    if (digits.startsWith(QLatin1Char('$'))) {
        base = 16;
        digits = digits.mid(1);
    } else if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits = digits.mid(2);
    }
    bool ok = !digits.isEmpty() && digits.front().isLetterOrNumber();
    qint64 value = 0;
    if (ok) {
        // Hexadecimal texts may fill all 32 bits, as "$FFFFFFFF" stands for -1.
        const qulonglong magnitude = digits.toULongLong(&ok, base);
        const qulonglong limit =
            base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
        ok = ok && magnitude <= limit;
        value = base == 16 ? static_cast<qint64>(static_cast<std::int32_t>(magnitude))
                           : static_cast<qint64>(magnitude);
        if (negative)
            value = -value;
        ok = ok && value >= INT32_MIN && value <= INT32_MAX;
    }
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' ist kein gültiger Integerwert").arg(text));
    return static_cast<std::int32_t>(value);
}
