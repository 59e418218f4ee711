#include "acquisition/ExceptionText.h"

#include "platform/system/Exception.h"

#include <exception>

QString CurrentExceptionText()
{
    try {
        throw;
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unbekannter Fehler");
    }
}
