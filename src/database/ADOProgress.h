// What the database bridge needs of the window that shows the progress of checking tables and
// columns; the GUI implements it with the real window, the headless runner and tests with the
// quiet one.
#pragma once

#include <QString>
#include <functional>

class TADOValidationProgress
{
public:
    // Steps of the check, in the order they run.
    enum : int { psConnection = 0, psTables = 1, psTableFields = 2 };

    virtual ~TADOValidationProgress() = default;

    // Makes step current and shows detail as the element being looked for.
    virtual void SelectStep(int step, const QString &detail = QString()) = 0;
    // Advances the activity animation (and lets pending messages run).
    virtual void StepActivity() = 0;
    // Shows the window modally with caption, runs work and closes the window when work returns.
    // An exception of work closes the window and propagates.
    virtual void RunModal(const QString &caption, const std::function<void()> &work) = 0;
};

// Runs the work directly and shows nothing.
class TQuietADOValidationProgress : public TADOValidationProgress
{
public:
    void SelectStep(int, const QString & = QString()) override {}
    void StepActivity() override {}
    void RunModal(const QString &, const std::function<void()> &work) override
    {
        if (work)
            work();
    }
};

// A process-wide quiet instance, the default of every bridge.
TADOValidationProgress &QuietADOValidationProgress();
