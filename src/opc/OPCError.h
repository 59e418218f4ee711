// The OPC client's error vocabulary: texts of HRESULTs, the exceptions it raises and the check
// that turns a failed HRESULT into one.
#pragma once

#include "platform/com/ComBase.h"
#include "platform/system/Exception.h"

#include <QString>
#include <QtGlobal>
#include <vector>

class TOPCDAClientItem;

// The text for code: the OPC text when there is one, else the system's message, else
// "Unknown Error Code: XXXXXXXX". Never fails.
QString OPCErrorText(HRESULT code);

// The system's message for code, as the system gives it. False (text untouched) when there is
// none or when the message needs inserts that nobody supplies.
bool GetSystemErrorText(HRESULT code, QString &text);

// Raises EOPCException for a failed code (severity bit set); success codes pass.
void OPCCheck(HRESULT code);

class EOPCException : public Exception
{
public:
    explicit EOPCException(HRESULT code);
    // ErrorCode is E_FAIL.
    explicit EOPCException(const QString &message);

    HRESULT ErrorCode() const noexcept { return m_ErrorCode; }

private:
    HRESULT m_ErrorCode;
};

// The items of a batched group operation that the server refused. Created empty; the raiser adds
// the failed items and sets the message right before throwing. The items are not owned.
class EOPCOpCompletedWithOneOrMoreErrors : public EOPCException
{
public:
    EOPCOpCompletedWithOneOrMoreErrors();

    qsizetype Count() const noexcept { return static_cast<qsizetype>(m_Items.size()); }
    // 0-based; EListError outside 0..Count-1.
    TOPCDAClientItem *Items(qsizetype index) const;
    void Add(TOPCDAClientItem *item);
    void SetMessage(const QString &message);

private:
    std::vector<TOPCDAClientItem *> m_Items;
};

class ENoIOPCBrowseServerAddressSpaceIntf : public Exception
{
public:
    ENoIOPCBrowseServerAddressSpaceIntf();
};

class ENoIOPCItemPropertiesIntf : public Exception
{
public:
    ENoIOPCItemPropertiesIntf();
};
