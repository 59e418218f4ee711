#include "platform/com/Guid.h"

#include <QRegularExpression>

QString GUIDToString(const GUID &guid)
{
    return guid.toString(QUuid::WithBraces).toUpper();
}

std::optional<GUID> StringToGUID(const QString &text)
{
    // \z, not $: $ would also match before a trailing line break.
    static const QRegularExpression form(QStringLiteral(
        "^\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}\\z"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

GUID CreateGUID()
{
    return QUuid::createUuid();
}
