#include "acquisition/OPCProgress.h"

QString OPCResolvePhaseLabel(TOPCResolvePhase phase)
{
    switch (phase) {
    case TOPCResolvePhase::SearchByName: return QStringLiteral("lblSearchByName");
    case TOPCResolvePhase::ValidateItems: return QStringLiteral("lblValidateItems");
    case TOPCResolvePhase::SearchByID: return QStringLiteral("lblSearchByID");
    }
    return QString();
}

TOPCResolveProgress::~TOPCResolveProgress() = default;

void TQuietOPCResolveProgress::RunModal(const std::function<void()> &work)
{
    if (work)
        work();
}

TOPCResolveProgress &QuietOPCResolveProgress()
{
    static TQuietOPCResolveProgress quiet;
    return quiet;
}
