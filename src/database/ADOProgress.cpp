#include "database/ADOProgress.h"

TADOValidationProgress &QuietADOValidationProgress()
{
    static TQuietADOValidationProgress progress;
    return progress;
}
